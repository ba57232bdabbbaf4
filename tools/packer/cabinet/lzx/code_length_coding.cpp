#include "cabinet/lzx/code_length_coding.h"

#include <algorithm>

#include "cabinet/lzx/huffman_code.h"

namespace lzx {

namespace {

constexpr uint32_t kZeroRun = 17;   // 4 + 4 bits
constexpr uint32_t kLongZeroRun = 18;  // 20 + 5 bits
constexpr uint32_t kSameRun = 19;   // 4 + 1 bit, then the change
constexpr uint32_t kRefinements = 3;
// A symbol the pretree does not have yet is priced as if it got a long code.
constexpr uint32_t kUnusedPrice = 8;

uint8_t Change(uint8_t previous, uint8_t length) {
  return static_cast<uint8_t>((previous + 17 - length) % 17);
}

// The cheapest steps under the given prices, found back to front: best[x] is the price of
// coding lengths x to count.
void ChooseSteps(const uint8_t* previous, const uint8_t* lengths, uint32_t count,
                 const uint32_t* price, std::vector<LengthStep>& steps) {
  std::vector<uint32_t> best(count + 1, 0);
  std::vector<LengthStep> choice(count);
  std::vector<uint8_t> take(count);
  for (uint32_t x = count; x-- > 0;) {
    const uint8_t change = Change(previous[x], lengths[x]);
    uint32_t cheapest = price[change] + best[x + 1];
    LengthStep step = {change, 0, 0};
    uint32_t run = 1;
    uint32_t same = 1;
    while (x + same < count && same < 51 && lengths[x + same] == lengths[x]) ++same;
    if (lengths[x] == 0) {
      for (uint32_t k = 4; k <= std::min<uint32_t>(same, 19); ++k) {
        const uint32_t p = price[kZeroRun] + 4 + best[x + k];
        if (p < cheapest) {
          cheapest = p;
          step = {kZeroRun, static_cast<uint8_t>(k - 4), 0};
          run = k;
        }
      }
      for (uint32_t k = 20; k <= same; ++k) {
        const uint32_t p = price[kLongZeroRun] + 5 + best[x + k];
        if (p < cheapest) {
          cheapest = p;
          step = {kLongZeroRun, static_cast<uint8_t>(k - 20), 0};
          run = k;
        }
      }
    }
    for (uint32_t k = 4; k <= std::min<uint32_t>(same, 5); ++k) {
      const uint32_t p = price[kSameRun] + 1 + price[change] + best[x + k];
      if (p < cheapest) {
        cheapest = p;
        step = {kSameRun, static_cast<uint8_t>(k - 4), change};
        run = k;
      }
    }
    best[x] = cheapest;
    choice[x] = step;
    take[x] = static_cast<uint8_t>(run);
  }
  steps.clear();
  for (uint32_t x = 0; x < count; x += take[x]) steps.push_back(choice[x]);
}

void CountSteps(const std::vector<LengthStep>& steps, uint32_t* frequencies) {
  std::fill(frequencies, frequencies + kNumPretreeSymbols, 0u);
  for (const LengthStep& s : steps) {
    ++frequencies[s.symbol];
    if (s.symbol == kSameRun) ++frequencies[s.change];
  }
}

uint32_t StepBits(const LengthStep& s, const uint8_t* pretree) {
  switch (s.symbol) {
    case kZeroRun:
      return pretree[s.symbol] + 4u;
    case kLongZeroRun:
      return pretree[s.symbol] + 5u;
    case kSameRun:
      return pretree[s.symbol] + 1u + pretree[s.change];
    default:
      return pretree[s.symbol];
  }
}

}  // namespace

void PlanCodeLengths(const uint8_t* previous, const uint8_t* lengths, uint32_t count,
                     LengthsPlan& plan) {
  uint32_t price[kNumPretreeSymbols];
  std::fill(price, price + kNumPretreeSymbols, 5u);
  plan.bits = UINT32_MAX;
  LengthsPlan trial;
  for (uint32_t round = 0; round < kRefinements; ++round) {
    ChooseSteps(previous, lengths, count, price, trial.steps);
    uint32_t frequencies[kNumPretreeSymbols];
    CountSteps(trial.steps, frequencies);
    BuildCodeLengths(frequencies, kNumPretreeSymbols, kMaxPretreeLength, trial.pretree);
    trial.bits = 4 * kNumPretreeSymbols;
    for (const LengthStep& s : trial.steps) trial.bits += StepBits(s, trial.pretree);
    if (trial.bits < plan.bits) plan = trial;
    for (uint32_t s = 0; s < kNumPretreeSymbols; ++s) {
      price[s] = trial.pretree[s] != 0 ? trial.pretree[s] : kUnusedPrice;
    }
  }
}

void WriteCodeLengths(const LengthsPlan& plan, BitWriter& out) {
  for (uint32_t s = 0; s < kNumPretreeSymbols; ++s) out.Put(plan.pretree[s], 4);
  uint16_t codewords[kNumPretreeSymbols] = {};
  AssignCodewords(plan.pretree, kNumPretreeSymbols, codewords);
  for (const LengthStep& s : plan.steps) {
    out.Put(codewords[s.symbol], plan.pretree[s.symbol]);
    switch (s.symbol) {
      case kZeroRun:
        out.Put(s.extra, 4);
        break;
      case kLongZeroRun:
        out.Put(s.extra, 5);
        break;
      case kSameRun:
        out.Put(s.extra, 1);
        out.Put(codewords[s.change], plan.pretree[s.change]);
        break;
      default:
        break;
    }
  }
}

}  // namespace lzx
