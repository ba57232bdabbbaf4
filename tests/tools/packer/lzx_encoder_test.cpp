// The LZX encoder against an independent decoder, libmspack's (cabextract's), for every window
// size: each case's frames expand to the bytes that went in. The cases sit on the edges that
// the format has (the 32 KiB frame, the window, several windows of history) and cover the kinds
// of input that take its different paths: nothing to find, long runs, text, x86 code full of
// calls whose targets the E8 translation rewrites, and a real program. The cabinets that the
// packer writes go through cabextract, 7-Zip and gcab in setup_cabinet_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "cabinet_cases.h"
#include "cabinet/lzx/e8_translation.h"
#include "libmspack_expand.h"
#include "cabinet/lzx/lzx_encoder.h"
#include "cabinet/cabinet_writer.h"
#include "pack_fixture.h"

namespace {

constexpr uint32_t kFrame = 32768;

using cabinet_cases::Content;
using cabinet_cases::Generate;
using cabinet_cases::Generator;

class Bytes final : public lzx::ByteSource {
 public:
  explicit Bytes(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  bool Read(uint8_t* buffer, size_t size, std::string& error) override {
    if (at_ + size > bytes_.size()) {
      error = "read past the end";
      return false;
    }
    std::copy(bytes_.begin() + at_, bytes_.begin() + at_ + size, buffer);
    at_ += size;
    return true;
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t at_ = 0;
};

class Frames final : public lzx::FrameSink {
 public:
  bool Take(const lzx::Frame& frame, std::string&) override {
    frames.push_back(frame);
    return true;
  }
  std::vector<lzx::Frame> frames;
};

struct Compressed {
  std::vector<lzx::Frame> frames;
  size_t bytes = 0;  // of all frames
};

Compressed Compress(const std::vector<uint8_t>& data, int window, uint32_t translation,
                    uint32_t max_frame_bytes = lzx::kMaxFrameBytes) {
  lzx::EncoderSettings settings;
  settings.window_bits = window;
  settings.translation_size = translation;
  settings.max_frame_bytes = max_frame_bytes;
  Bytes source(data);
  Frames sink;
  std::string error;
  EXPECT_TRUE(lzx::Compress(data.size(), settings, source, sink, error)) << error;
  Compressed result;
  result.frames = sink.frames;
  for (const lzx::Frame& frame : sink.frames) result.bytes += frame.bytes.size();
  return result;
}

// Compresses, checks the frames, and expands them again with libmspack.
Compressed RoundTrip(const std::vector<uint8_t>& data, int window, uint32_t translation,
                     uint32_t max_frame_bytes = lzx::kMaxFrameBytes) {
  const Compressed c = Compress(data, window, translation, max_frame_bytes);
  EXPECT_EQ(c.frames.size(), (data.size() + kFrame - 1) / kFrame);
  for (size_t i = 0; i < c.frames.size(); ++i) {
    EXPECT_EQ(c.frames[i].expanded, std::min<size_t>(kFrame, data.size() - i * kFrame));
    EXPECT_LE(c.frames[i].bytes.size(), lzx::kMaxFrameBytes);
    EXPECT_EQ(c.frames[i].bytes.size() % 2, 0u) << "frames end on a 16-bit word";
  }
  std::vector<uint8_t> expanded;
  std::string error;
  EXPECT_TRUE(ExpandWithLibmspack(CabinetOfFrames(c.frames, data.size(), window), expanded, error))
      << error;
  EXPECT_TRUE(expanded == data) << "libmspack expands other bytes";
  return c;
}

TEST(LzxEncoder, LibmspackExpandsEveryCaseAtEveryWindow) {
  for (int window = lzx::kMinWindowBits; window <= lzx::kMaxWindowBits; ++window) {
    const size_t w = size_t{1} << window;
    const struct {
      const char* name;
      size_t size;
      Content content;
    } cases[] = {
        {"empty", 0, Content::kRandom},
        {"one byte", 1, Content::kText},
        {"a frame less one", kFrame - 1, Content::kText},
        {"a frame", kFrame, Content::kCode},
        {"a frame and one", kFrame + 1, Content::kRuns},
        {"the window less one", w - 1, Content::kCode},
        {"the window", w, Content::kText},
        {"the window and one", w + 1, Content::kRandom},
        {"three windows", 3 * w + 12345, Content::kMixed},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE("window 2^" + std::to_string(window) + ", " + c.name);
      const std::vector<uint8_t> data = Generate(c.content, c.size, c.size + window);
      RoundTrip(data, window, lzx::TranslationSizeFor(data.size()));
    }
  }
}

TEST(LzxEncoder, ExpandsARealProgramAtEveryWindow) {
  const std::vector<uint8_t> program = ReadFileBytes(LUMORA_SAMPLE_SETUP);
  ASSERT_GT(program.size(), 3 * kFrame);
  size_t previous = SIZE_MAX;
  for (int window = lzx::kMinWindowBits; window <= lzx::kMaxWindowBits; ++window) {
    SCOPED_TRACE("window 2^" + std::to_string(window));
    const Compressed c = RoundTrip(program, window, lzx::TranslationSizeFor(program.size()));
    EXPECT_LT(c.bytes, program.size() / 2);
    // A larger window reaches further back; it never needs much more.
    EXPECT_LE(c.bytes, previous + previous / 200);
    previous = c.bytes;
  }
}

// What each kind of input becomes: the encoder finds what is there to find, and gives up little
// where there is nothing.
TEST(LzxEncoder, CompressesEachKindOfInputAsItAllows) {
  const struct {
    const char* name;
    Content content;
    size_t size;
    double at_most;  // compressed size over input size
  } cases[] = {
      {"random bytes", Content::kRandom, 5 * kFrame + 77, 1.01},
      {"runs", Content::kRuns, 400000, 0.05},
      {"text", Content::kText, 400000, 0.40},
      {"code with calls", Content::kCode, 400000, 0.55},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> data = Generate(c.content, c.size, 5);
    const Compressed compressed = RoundTrip(data, lzx::kMaxWindowBits,
                                            lzx::TranslationSizeFor(data.size()));
    EXPECT_LE(compressed.bytes, c.at_most * data.size());
  }
}

// Calls to the same function from many places become the same bytes after the translation, so
// code compresses markedly better with it; without it the same data must still come back.
TEST(LzxEncoder, TheCallTranslationPaysOnCode) {
  const std::vector<uint8_t> code = Generate(Content::kCode, 600000, 9);
  const Compressed with = RoundTrip(code, 18, lzx::TranslationSizeFor(code.size()));
  const Compressed without = RoundTrip(code, 18, 0);
  EXPECT_LT(with.bytes, without.bytes * 9 / 10);
}

// A frame that would outgrow what readers accept sends its region back to be coded with a block
// per frame, and a frame whose block would still be too large as literals. Readers' limit is
// never reached by real input, so the test lowers it until most frames take that path: text
// that compresses below the limit, random bytes and text that do not, in every mix.
TEST(LzxEncoder, AFrameOverTheLimitGetsABlockOfItsOwnOrLiterals) {
  std::vector<uint8_t> data = Generate(Content::kText, 2 * kFrame, 1);
  const std::vector<uint8_t> random = Generate(Content::kRandom, 3 * kFrame + 500, 2);
  data.insert(data.end(), random.begin(), random.end());
  const std::vector<uint8_t> code = Generate(Content::kCode, 20 * kFrame, 3);
  data.insert(data.end(), code.begin(), code.end());
  const Compressed normal = RoundTrip(data, 17, lzx::TranslationSizeFor(data.size()));
  size_t largest = 0;
  for (const lzx::Frame& frame : normal.frames) largest = std::max(largest, frame.bytes.size());
  // Below the largest frame: the random frames cannot fit and become literals; the others do.
  const uint32_t limit = static_cast<uint32_t>(largest - 100);
  const Compressed guarded = RoundTrip(data, 17, lzx::TranslationSizeFor(data.size()), limit);
  size_t over = 0;
  for (const lzx::Frame& frame : guarded.frames) over += frame.bytes.size() > limit;
  EXPECT_GT(over, 0u) << "literals of random bytes stay above the lowered limit";
  EXPECT_GT(guarded.bytes, normal.bytes) << "a block per frame costs headers";
}

// The decoder's side of the translation, as libmspack and cabinet.dll apply it to each frame
// they have decoded.
void DecoderTranslation(uint8_t* frame, uint32_t size, uint32_t frame_offset, uint32_t limit) {
  if (limit == 0 || frame_offset / kFrame >= 32768 || size <= 10) return;
  int32_t position = static_cast<int32_t>(frame_offset);
  for (uint32_t at = 0; at < size - 10;) {
    if (frame[at++] != 0xE8) {
      ++position;
      continue;
    }
    uint8_t* const operand = frame + at;
    const int32_t absolute = static_cast<int32_t>(operand[0] | (operand[1] << 8) |
                                                  (operand[2] << 16) | (uint32_t{operand[3]} << 24));
    if (absolute >= -position && absolute < static_cast<int32_t>(limit)) {
      const int32_t relative =
          absolute >= 0 ? absolute - position : absolute + static_cast<int32_t>(limit);
      for (int b = 0; b < 4; ++b) operand[b] = static_cast<uint8_t>(relative >> (8 * b));
    }
    at += 4;
    position += 5;
  }
}

TEST(E8Translation, TheDecoderUndoesItExactly) {
  const uint32_t frame_offsets[] = {0, kFrame, 100 * kFrame, 32767 * kFrame, 32768 * kFrame};
  const uint32_t sizes[] = {kFrame, kFrame - 1, 11, 10, 7};
  const uint32_t limits[] = {0, 1, 5000, 1u << 20, 0x7FFFFFFF};
  Generator g(3);
  for (uint32_t offset : frame_offsets) {
    for (uint32_t size : sizes) {
      for (uint32_t limit : limits) {
        SCOPED_TRACE(std::to_string(offset) + " " + std::to_string(size) + " " +
                     std::to_string(limit));
        // E8 bytes everywhere, with operands near the translated range's edges.
        std::vector<uint8_t> frame(size);
        for (uint32_t i = 0; i < size; ++i) {
          const uint32_t r = g.Next();
          frame[i] = r % 3 == 0 ? 0xE8 : static_cast<uint8_t>(r >> 8);
          if (r % 7 == 0 && i + 4 < size) {
            const int32_t edge = static_cast<int32_t>(r % 2 ? limit - offset - i : -(offset + i));
            const uint32_t value = static_cast<uint32_t>(edge + static_cast<int32_t>(r % 5) - 2);
            for (int b = 0; b < 4; ++b) frame[i + 1 + b] = static_cast<uint8_t>(value >> (8 * b));
            i += 4;
          }
        }
        std::vector<uint8_t> translated = frame;
        lzx::TranslateE8Frame(translated.data(), size, offset, limit);
        DecoderTranslation(translated.data(), size, offset, limit);
        EXPECT_TRUE(translated == frame);
        if (limit == 0 || offset >= 32768 * kFrame || size <= 10) {
          lzx::TranslateE8Frame(translated.data(), size, offset, limit);
          EXPECT_TRUE(translated == frame) << "left alone";
        }
      }
    }
  }
}

}  // namespace
