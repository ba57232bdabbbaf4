#include "lzx_encoder.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cost_model.h"
#include "block_splitter.h"
#include "e8_translation.h"
#include "lzx_block.h"
#include "match_finder.h"
#include "match_length.h"
#include "optimal_parser.h"

namespace lzx {

namespace {

class Encoder {
 public:
  Encoder(uint64_t size, const EncoderSettings& settings)
      : settings_(settings),
        size_(size),
        window_(uint32_t{1} << settings.window_bits),
        region_bytes_(settings.region_frames * kFrameSize),
        main_symbols_(MainSymbols(settings.window_bits)),
        slots_(PositionSlots(settings.window_bits)),
        buffer_(size_t{window_} + region_bytes_ + kFrameSize + kComparePadding, 0),
        finder_(settings.window_bits) {}

  bool Run(ByteSource& source, FrameSink& sink, std::string& error) {
    for (uint64_t start = 0; start < size_; start += region_bytes_) {
      const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(region_bytes_, size_ - start));
      if (!Load(start, length, source, error)) return false;
      FindMatches(start, length);
      FrameStream stream(start, size_);
      if (start == 0) WriteStreamHeader(stream.bits());
      EncodeRegion(start, length, stream);
      for (const Frame& frame : stream.frames()) {
        if (!sink.Take(frame, error)) return false;
      }
    }
    return true;
  }

 private:
  const uint8_t* At(uint64_t position) const {
    return buffer_.data() + (position - buffer_start_);
  }

  // Makes the buffer hold the window before start, the region, and one frame after it (which
  // lets matches at the region's end be compared in full, for the match finder's trees).
  bool Load(uint64_t start, uint32_t length, ByteSource& source, std::string& error) {
    const uint64_t keep = start > window_ ? start - window_ : 0;
    if (keep > buffer_start_) {
      const size_t drop = static_cast<size_t>(keep - buffer_start_);
      std::memmove(buffer_.data(), buffer_.data() + drop, static_cast<size_t>(loaded_ - keep));
      buffer_start_ = keep;
    }
    const uint64_t want = std::min<uint64_t>(size_, start + length + kFrameSize);
    while (loaded_ < want) {
      const uint32_t frame = static_cast<uint32_t>(std::min<uint64_t>(kFrameSize, size_ - loaded_));
      uint8_t* const to = buffer_.data() + (loaded_ - buffer_start_);
      if (!source.Read(to, frame, error)) return false;
      TranslateE8Frame(to, frame, static_cast<uint32_t>(loaded_), settings_.translation_size);
      loaded_ += frame;
    }
    // Comparisons read a few bytes past the input's end; let those be the same every time.
    std::memset(buffer_.data() + (loaded_ - buffer_start_), 0, kComparePadding);
    return true;
  }

  void FindMatches(uint64_t start, uint32_t length) {
    first_.resize(size_t{length} + 1);
    matches_.clear();
    Match found[kMaxMatch];
    uint64_t skip_to = start;
    for (uint32_t i = 0; i < length; ++i) {
      const uint64_t position = start + i;
      const uint32_t avail = static_cast<uint32_t>(std::min<uint64_t>(loaded_ - position, kMaxMatch));
      first_[i] = static_cast<uint32_t>(matches_.size());
      if (position < skip_to) {
        finder_.Skip(At(position), static_cast<uint32_t>(position), avail, settings_.nice,
                     settings_.depth);
        continue;
      }
      const uint32_t count = finder_.Find(At(position), static_cast<uint32_t>(position), avail,
                                          settings_.nice, settings_.depth, found);
      matches_.insert(matches_.end(), found, found + count);
      if (count > 0 && found[count - 1].length >= settings_.nice) {
        // The parser takes so long a match whole; the positions it covers need no search.
        const uint64_t frame_end = (position / kFrameSize + 1) * kFrameSize;
        skip_to = std::min(position + found[count - 1].length, frame_end);
      }
    }
    first_[length] = static_cast<uint32_t>(matches_.size());
  }

  void WriteStreamHeader(BitWriter& bits) {
    const uint32_t translation = settings_.translation_size;
    bits.Put(translation != 0, 1);
    if (translation != 0) {
      bits.Put(translation >> 16, 16);
      bits.Put(translation & 0xFFFF, 16);
    }
  }

  ParseInput InputFor(uint64_t region_start, uint32_t begin, uint32_t end) const {
    return {At(region_start + begin), region_start + begin, end - begin, first_.data() + begin,
            matches_.data()};
  }

  // A first price list for a region: the codes of a quick greedy parse, the longest match at
  // each position.
  void InitialCosts(uint64_t start, uint32_t length, CostModel& model, std::vector<Item>& items) {
    SymbolCounts counts;
    RecentOffsets recent = recent_;
    for (uint32_t i = 0; i < length;) {
      const uint64_t position = start + i;
      const uint32_t cap = static_cast<uint32_t>(
          std::min<uint64_t>(length - i, (position / kFrameSize + 1) * kFrameSize - position));
      Item item = {1, *At(position)};
      if (first_[i + 1] > first_[i]) {
        const Match& m = matches_[first_[i + 1] - 1];
        const uint32_t l = std::min(m.length, cap);
        if (l >= 3) item = {l, m.offset + 2};
      }
      counts.Add(item);
      items.push_back(item);
      recent.Update(item.length > 1 ? item.value : 0);
      i += item.length;
    }
    BlockCode code;
    BuildBlockCode(counts, main_symbols_, history_, code);
    SetCosts(code, slots_, model);
  }

  void EncodeRegion(uint64_t start, uint32_t length, FrameStream& stream) {
    auto model = std::make_unique<CostModel>();
    auto code = std::make_unique<BlockCode>();
    std::vector<Item> items;
    InitialCosts(start, length, *model, items);
    // The region as one block, parsed a few times, to find where its character changes.
    for (uint32_t pass = 0; pass < settings_.region_passes; ++pass) {
      items.clear();
      RecentOffsets recent = recent_;
      parser_.Parse(InputFor(start, 0, length), *model, settings_.nice, recent, items);
      SymbolCounts counts;
      for (const Item& item : items) counts.Add(item);
      BuildBlockCode(counts, main_symbols_, history_, *code);
      if (getenv("FRAC")) SetCostsFrac(counts, code->type, slots_, *model); else
      SetCosts(*code, slots_, *model);
    }
    SplitSettings split;
    if (getenv("UNIT")) split.unit_bytes = atoi(getenv("UNIT"));
    if (getenv("HB")) split.header_bits = atoi(getenv("HB"));
    if (getenv("HBS")) split.header_bits_per_symbol = atoi(getenv("HBS"));
    const std::vector<BlockSpan> blocks = SplitIntoBlocks(items, split);

    // Each block parsed again with codes of its own, starting from the last block's offsets.
    std::vector<Item> best_items;
    std::vector<Item> trial;
    auto best_code = std::make_unique<BlockCode>();
    for (const BlockSpan& block : blocks) {
      SymbolCounts counts;
      for (uint32_t i = 0; i < block.item_count; ++i) counts.Add(items[block.first_item + i]);
      BuildBlockCode(counts, main_symbols_, history_, *code);
      uint64_t best_bits = UINT64_MAX;
      RecentOffsets best_recent;
      for (uint32_t pass = 0; pass < settings_.block_passes; ++pass) {
        if (getenv("FRAC")) SetCostsFrac(counts, code->type, slots_, *model); else
        SetCosts(*code, slots_, *model);
        trial.clear();
        RecentOffsets recent = recent_;
        parser_.Parse(InputFor(start, block.begin, block.end), *model, settings_.nice, recent,
                      trial);
        counts.Clear();
        for (const Item& item : trial) counts.Add(item);
        BuildBlockCode(counts, main_symbols_, history_, *code);
        if (code->bits < best_bits) {
          best_bits = code->bits;
          best_items.swap(trial);
          *best_code = *code;
          best_recent = recent;
        }
      }
      if (getenv("LZXDEBUG")) fprintf(stderr, "block %u bits %llu\n", block.end - block.begin, (unsigned long long)best_bits);
      WriteBlock(*best_code, main_symbols_, best_items.data(), best_items.size(),
                 block.end - block.begin, stream);
      Remember(*best_code, history_);
      recent_ = best_recent;
    }
  }

  const EncoderSettings settings_;
  const uint64_t size_;
  const uint32_t window_;
  const uint32_t region_bytes_;
  const uint32_t main_symbols_;
  const uint32_t slots_;
  std::vector<uint8_t> buffer_;
  uint64_t buffer_start_ = 0;
  uint64_t loaded_ = 0;
  MatchFinder finder_;
  std::vector<uint32_t> first_;
  std::vector<Match> matches_;
  OptimalParser parser_;
  CodeHistory history_;
  RecentOffsets recent_;
};

}  // namespace

uint32_t TranslationSizeFor(uint64_t file_size) {
  return static_cast<uint32_t>(std::min<uint64_t>(file_size, 0x7FFFFFFF));
}

bool Compress(uint64_t size, const EncoderSettings& settings, ByteSource& source, FrameSink& sink,
              std::string& error) {
  if (settings.window_bits < kMinWindowBits || settings.window_bits > kMaxWindowBits) {
    error = "LZX windows are 2^15 to 2^21 bytes, not 2^" + std::to_string(settings.window_bits);
    return false;
  }
  if (size > 0x7FFFFFFF) {
    error = "LZX compresses at most 2^31 - 1 bytes";
    return false;
  }
  auto encoder = std::make_unique<Encoder>(size, settings);
  return encoder->Run(source, sink, error);
}

}  // namespace lzx
