#include "cabinet/lzx/lzx_encoder.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "cabinet/lzx/block_splitter.h"
#include "cabinet/lzx/cost_model.h"
#include "cabinet/lzx/e8_translation.h"
#include "cabinet/lzx/lzx_block.h"
#include "cabinet/lzx/match_finder.h"
#include "cabinet/lzx/match_length.h"
#include "cabinet/lzx/optimal_parser.h"

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
        buffer_(static_cast<size_t>(std::min<uint64_t>(size, window_ + region_bytes_ + kFrameSize)) +
                    kComparePadding,
                0),
        finder_(settings.window_bits, HistoryBits(size)) {}

  bool Run(ByteSource& source, FrameSink& sink, std::string& error) {
    for (uint64_t start = 0; start < size_; start += region_bytes_) {
      const uint32_t length =
          static_cast<uint32_t>(std::min<uint64_t>(region_bytes_, size_ - start));
      if (!Load(start, length, source, error)) return false;
      FindMatches(start, length);
      const CodeHistory history = history_;
      const RecentOffsets recent = recent_;
      FrameStream stream(start, size_);
      if (start == 0) WriteStreamHeader(stream.bits());
      EncodeBlocks(start, ChooseBlocks(start, length), false, stream);
      if (!FramesFit(stream)) {
        // A frame inside a block whose codes suit its other frames badly can outgrow what
        // readers accept; then every frame gets a block of its own, literals only if need be.
        history_ = history;
        recent_ = recent;
        stream = FrameStream(start, size_);
        if (start == 0) WriteStreamHeader(stream.bits());
        EncodeBlocks(start, FrameBlocks(start, length), true, stream);
      }
      for (const Frame& frame : stream.frames()) {
        if (!sink.Take(frame, error)) return false;
      }
    }
    return true;
  }

 private:
  // Enough bits to count every position of the input.
  static int HistoryBits(uint64_t size) {
    int bits = 1;
    while (bits < 31 && (uint64_t{1} << bits) < size) ++bits;
    return bits;
  }

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
      if (count > 0 && found[count - 1].length() >= settings_.nice) {
        // The parser takes so long a match whole; the positions it covers need no search.
        const uint64_t frame_end = (position / kFrameSize + 1) * kFrameSize;
        skip_to = std::min(position + found[count - 1].length(), frame_end);
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
        const uint32_t l = std::min(m.length(), cap);
        if (l >= 3) item = {l, m.offset() + 2};
      }
      counts.Add(item);
      items.push_back(item);
      recent.Update(item.length > 1 ? item.value : 0);
      i += item.length;
    }
    SetCosts(counts, BlockType::kVerbatim, slots_, model);
  }

  // Parses the region as one block a few times, then cuts it into blocks where that parse
  // changes character.
  std::vector<BlockSpan> ChooseBlocks(uint64_t start, uint32_t length) {
    std::vector<Item>& items = region_items_;
    items.clear();
    // The first region is priced by a greedy parse of its own, a rough start that one more
    // parse makes up for; later ones by the last block before them, which is usually much
    // closer to what the parse will find.
    uint32_t passes = settings_.region_passes;
    if (start == 0 || passes == 0) {
      InitialCosts(start, length, model_, items);
      if (passes > 0) ++passes;
    } else {
      SetCosts(last_counts_, BlockType::kVerbatim, slots_, model_);
    }
    for (uint32_t pass = 0; pass < passes; ++pass) {
      items.clear();
      RecentOffsets recent = recent_;
      parser_.Parse(InputFor(start, 0, length), model_, settings_.nice, recent, items);
      counts_.Clear();
      for (const Item& item : items) counts_.Add(item);
      BuildBlockCode(counts_, main_symbols_, history_, code_);
      SetCosts(counts_, code_.type, slots_, model_);
    }
    return SplitIntoBlocks(items, SplitSettings());
  }

  // One block per frame, priced at first by the region's greedy parse.
  std::vector<BlockSpan> FrameBlocks(uint64_t start, uint32_t length) {
    region_items_.clear();
    InitialCosts(start, length, model_, region_items_);
    std::vector<BlockSpan> blocks;
    uint32_t item = 0;
    uint32_t at = 0;
    for (uint32_t begin = 0; begin < length; begin += kFrameSize) {
      const uint32_t end = std::min(length, begin + kFrameSize);
      BlockSpan block = {item, 0, begin, end};
      while (at < end) at += region_items_[item++].length;
      block.item_count = item - block.first_item;
      blocks.push_back(block);
    }
    return blocks;
  }

  // Parses each block again with prices of its own, from the offsets that the block before left,
  // keeps the parse that codes smallest, and writes it. guard_frames: the blocks are frames,
  // and one that would outgrow what readers accept is written as literals.
  void EncodeBlocks(uint64_t start, const std::vector<BlockSpan>& blocks, bool guard_frames,
                    FrameStream& stream) {
    for (const BlockSpan& block : blocks) {
      counts_.Clear();
      for (uint32_t i = 0; i < block.item_count; ++i) {
        counts_.Add(region_items_[block.first_item + i]);
      }
      BuildBlockCode(counts_, main_symbols_, history_, code_);
      uint64_t best_bits = UINT64_MAX;
      RecentOffsets best_recent;
      for (uint32_t pass = 0; pass < settings_.block_passes; ++pass) {
        SetCosts(counts_, code_.type, slots_, model_);
        trial_items_.clear();
        RecentOffsets recent = recent_;
        parser_.Parse(InputFor(start, block.begin, block.end), model_, settings_.nice, recent,
                      trial_items_);
        counts_.Clear();
        for (const Item& item : trial_items_) counts_.Add(item);
        BuildBlockCode(counts_, main_symbols_, history_, code_);
        if (code_.bits < best_bits) {
          best_bits = code_.bits;
          block_items_.swap(trial_items_);
          best_code_ = code_;
          best_recent = recent;
        }
      }
      // The frame's bits may also hold the stream's header (33 bits) and its padding.
      if (guard_frames && best_bits + 48 > 8 * uint64_t{settings_.max_frame_bytes}) {
        block_items_.clear();
        counts_.Clear();
        for (uint32_t i = block.begin; i < block.end; ++i) {
          block_items_.push_back({1, *At(start + i)});
          counts_.Add(block_items_.back());
        }
        BuildBlockCode(counts_, main_symbols_, history_, best_code_);
        best_recent = recent_;
      }
      last_counts_.Clear();
      for (const Item& item : block_items_) last_counts_.Add(item);
      WriteBlock(best_code_, main_symbols_, block_items_.data(), block_items_.size(),
                 block.end - block.begin, stream);
      Remember(best_code_, history_);
      recent_ = best_recent;
    }
  }

  bool FramesFit(FrameStream& stream) const {
    for (const Frame& frame : stream.frames()) {
      if (frame.bytes.size() > settings_.max_frame_bytes) return false;
    }
    return true;
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
  // The state that the stream carries from block to block.
  CodeHistory history_;
  RecentOffsets recent_;
  // Working space, kept to spare allocations.
  CostModel model_;
  SymbolCounts counts_;
  SymbolCounts last_counts_;  // of the last block written
  BlockCode code_;
  BlockCode best_code_;
  std::vector<Item> region_items_;
  std::vector<Item> trial_items_;
  std::vector<Item> block_items_;
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
