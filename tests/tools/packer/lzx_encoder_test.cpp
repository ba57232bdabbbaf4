// The LZX encoder against an independent decoder, libmspack's (cabextract's), for every window
// size: each case's cabinet expands to the bytes that went in. The cases sit on the edges that
// the format has (the 32 KiB frame, the window, several windows of history) and cover the kinds
// of input that take its different paths: nothing to find, long runs, text, x86 code full of
// calls whose targets the E8 translation rewrites, and a real program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "e8_translation.h"
#include "libmspack_expand.h"
#include "lzx_encoder.h"
#include "mszip_cabinet.h"
#include "pack_fixture.h"

namespace {

constexpr uint32_t kFrame = 32768;

enum class Content { kRandom, kRuns, kText, kX86, kMixed };

// The same bytes on every run: a fixed xorshift generator.
class Generator {
 public:
  explicit Generator(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15u + 1) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<uint32_t>(state_ >> 32);
  }

 private:
  uint64_t state_;
};

void AppendRandom(std::vector<uint8_t>& out, size_t size, Generator& g) {
  for (size_t i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(g.Next()));
}

// Runs of one byte, from 1 to a few thousand long, then a run of zeros longer than any match.
void AppendRuns(std::vector<uint8_t>& out, size_t size, Generator& g) {
  const size_t end = out.size() + size;
  while (out.size() < end) {
    const size_t run = 1 + g.Next() % (g.Next() % 4 == 0 ? 3000 : 12);
    out.insert(out.end(), std::min(run, end - out.size()), static_cast<uint8_t>(g.Next() % 5));
  }
}

void AppendText(std::vector<uint8_t>& out, size_t size, Generator& g) {
  static const char* const kWords[] = {"setup ",  "install ", "archive ", "cabinet ", "frame ",
                                       "window ", "lumora ",  "literal ", "\r\n",      "0x20 ",
                                       "the ",    "of ",      "match ",   "offset ",   "E8 "};
  const size_t end = out.size() + size;
  while (out.size() < end) {
    for (const char* w = kWords[g.Next() % 15]; *w != '\0' && out.size() < end; ++w) {
      out.push_back(static_cast<uint8_t>(*w));
    }
  }
}

// Code-like bytes: calls (E8 and a 32-bit displacement) to a few hundred functions, between
// short runs of other instruction bytes; some operands point outside the file, and some E8
// bytes fall into the last bytes of frames, where the translation must leave them alone.
void AppendX86(std::vector<uint8_t>& out, size_t size, Generator& g) {
  static const uint8_t kOther[] = {0x48, 0x89, 0x5C, 0x24, 0x08, 0x8B, 0x45, 0xFC, 0x0F, 0x1F,
                                   0x44, 0x00, 0xC3, 0xCC, 0x90, 0x33, 0xC0, 0x41, 0xFF, 0x15};
  const size_t end = out.size() + size;
  uint32_t targets[300];
  for (uint32_t& t : targets) t = g.Next() % static_cast<uint32_t>(end + 1000);
  while (out.size() < end) {
    const uint32_t kind = g.Next() % 8;
    if (kind < 3 && out.size() + 5 <= end) {
      const uint32_t at = static_cast<uint32_t>(out.size());
      const uint32_t target = kind == 0 && g.Next() % 16 == 0 ? g.Next() : targets[g.Next() % 300];
      const uint32_t relative = target - at - 5;
      out.push_back(0xE8);
      for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(relative >> (8 * b)));
    } else if (kind == 3 && out.size() % kFrame > kFrame - 12) {
      out.push_back(0xE8);
    } else {
      for (uint32_t n = 1 + g.Next() % 6; n > 0 && out.size() < end; --n) {
        out.push_back(kOther[g.Next() % sizeof(kOther)]);
      }
    }
  }
}

std::vector<uint8_t> Generate(Content content, size_t size, uint64_t seed) {
  std::vector<uint8_t> out;
  out.reserve(size);
  Generator g(seed);
  switch (content) {
    case Content::kRandom:
      AppendRandom(out, size, g);
      break;
    case Content::kRuns:
      AppendRuns(out, size, g);
      break;
    case Content::kText:
      AppendText(out, size, g);
      break;
    case Content::kX86:
      AppendX86(out, size, g);
      break;
    case Content::kMixed:
      // Each kind in turn, in pieces of 100 KB or so, which recur later in the file.
      while (out.size() < size) {
        const size_t piece = std::min<size_t>(size - out.size(), 60000 + g.Next() % 80000);
        switch (g.Next() % 5) {
          case 0:
            AppendRandom(out, piece, g);
            break;
          case 1:
            AppendRuns(out, piece, g);
            break;
          case 2:
            AppendText(out, piece, g);
            break;
          case 3:
            AppendX86(out, piece, g);
            break;
          default:
            if (out.size() > piece) {
              const size_t from = g.Next() % (out.size() - piece);
              for (size_t i = 0; i < piece; ++i) out.push_back(out[from + i]);
            } else {
              AppendText(out, piece, g);
            }
        }
      }
      break;
  }
  return out;
}

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

Compressed Compress(const std::vector<uint8_t>& data, int window, uint32_t translation) {
  lzx::EncoderSettings settings;
  settings.window_bits = window;
  settings.translation_size = translation;
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
Compressed RoundTrip(const std::vector<uint8_t>& data, int window, uint32_t translation) {
  const Compressed c = Compress(data, window, translation);
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
        {"a frame", kFrame, Content::kX86},
        {"a frame and one", kFrame + 1, Content::kRuns},
        {"the window less one", w - 1, Content::kX86},
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
      {"code with calls", Content::kX86, 400000, 0.55},
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
  const std::vector<uint8_t> code = Generate(Content::kX86, 600000, 9);
  const Compressed with = RoundTrip(code, 18, lzx::TranslationSizeFor(code.size()));
  const Compressed without = RoundTrip(code, 18, 0);
  EXPECT_LT(with.bytes, without.bytes * 9 / 10);
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
