// The four-stream branch converter the archive writer applies to programs. 7-Zip's decoder takes
// its output in the archive tests (7zz t on programs); these show what those cannot pin down:
// which candidates are converted and into which stream, that the setup program's own decoder
// gives every byte back, and that the streams do not depend on how the data is cut into pieces,
// which the writer's 1 MiB reads do at arbitrary places.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "archive/x86_bcj2_encoder.h"
#include "decode/bcj2_stream.h"
#include "pack_fixture.h"

namespace {

struct Streams {
  std::vector<uint8_t> main, call, jump, bits;
};

// The whole of data through the converter, piece by piece, as the writer streams it: the bytes
// it leaves are given again at the start of the next piece.
Streams Encoded(const std::vector<uint8_t>& data, const std::vector<Bcj2Region>& regions,
                size_t piece) {
  Bcj2Encoder encoder;
  StartBcj2(encoder, regions);
  Streams out;
  std::vector<uint8_t> pending;
  size_t at = 0;
  while (at < data.size()) {
    const size_t take = std::min(piece, data.size() - at);
    pending.insert(pending.end(), data.begin() + at, data.begin() + at + take);
    at += take;
    const size_t done = EncodeBcj2(encoder, pending.data(), pending.size(), false, out.main);
    EXPECT_LE(pending.size() - done, 4u);
    pending.erase(pending.begin(), pending.begin() + done);
  }
  EXPECT_EQ(EncodeBcj2(encoder, pending.data(), pending.size(), true, out.main), pending.size());
  out.call = encoder.call;
  out.jump = encoder.jump;
  out.bits = encoder.bit_stream;
  return out;
}

class MemoryStream : public ByteStream {
 public:
  explicit MemoryStream(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  DecodeStatus Read(unsigned char* out, size_t capacity, size_t& produced) override {
    produced = std::min(capacity, bytes_.size() - at_);
    std::copy(bytes_.begin() + at_, bytes_.begin() + at_ + produced, out);
    at_ += produced;
    return DecodeStatus::kOk;
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t at_ = 0;
};

// What the setup program's decoder makes of the four streams.
std::vector<uint8_t> Decoded(const Streams& s, uint64_t size) {
  MemoryStream main(s.main), call(s.call), jump(s.jump), bits(s.bits);
  std::unique_ptr<ByteStream> decoder = MakeBcj2Stream(main, call, jump, bits, size);
  std::vector<uint8_t> out(size);
  EXPECT_EQ(ReadFully(*decoder, out.data(), out.size()), DecodeStatus::kOk);
  return out;
}

std::vector<uint8_t> Nops(size_t n) { return std::vector<uint8_t>(n, 0x90); }

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const std::vector<uint8_t>& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(X86Bcj2Encoder, ConvertsCallsAndFarJumpsWithinTheirRegionOfCode) {
  struct Case {
    const char* what;
    std::vector<Bcj2Region> code;
    std::vector<uint8_t> in;
    std::vector<uint8_t> main, call, jump;
  };
  const Case cases[] = {
      {"a call into the region", {{0, 16}}, Join({{0xE8, 6, 0, 0, 0}, Nops(11)}),
       Join({{0xE8}, Nops(11)}), {0, 0, 0, 11}, {}},
      {"a call beyond the region stays", {{0, 16}}, Join({{0xE8, 0, 1, 0, 0}, Nops(11)}),
       Join({{0xE8, 0, 1, 0, 0}, Nops(11)}), {}, {}},
      {"a call outside any region stays", {{0, 4}, {10, 16}},
       Join({Nops(4), {0xE8, 1, 0, 0, 0}, Nops(7)}),
       Join({Nops(4), {0xE8, 1, 0, 0, 0}, Nops(7)}), {}, {}},
      {"a near jump stays", {{0, 12}}, Join({{0x90, 0xE9, 0xFA, 0xFF, 0xFF, 0xFF}, Nops(6)}),
       Join({{0x90, 0xE9, 0xFA, 0xFF, 0xFF, 0xFF}, Nops(6)}), {}, {}},
      {"a far jump", {{0, 0x30000}}, Join({{0xE9, 0, 0, 1, 0}, Nops(7)}),
       Join({{0xE9}, Nops(7)}), {}, {0, 1, 0, 5}},
      {"a far jump back", {{0, 0x30000}},
       Join({Nops(0x10010), {0xE9, 0xF0, 0xFF, 0xFE, 0xFF}, Nops(3)}),
       Join({Nops(0x10010), {0xE9}, Nops(3)}), {}, {0, 0, 0, 5}},
      {"a far conditional jump", {{0, 0x30000}}, Join({{0x0F, 0x85, 0, 0, 1, 0}, Nops(6)}),
       Join({{0x0F, 0x85}, Nops(6)}), {}, {0, 1, 0, 6}},
      {"0x85 after another byte is no jump", {{0, 0x30000}},
       Join({{0x0E, 0x85, 0, 0, 1, 0}, Nops(6)}),
       Join({{0x0E, 0x85, 0, 0, 1, 0}, Nops(6)}), {}, {}},
      {"a call in the last four bytes stays", {{0, 15}}, Join({Nops(11), {0xE8, 0, 0, 0}}),
       Join({Nops(11), {0xE8, 0, 0, 0}}), {}, {}},
      {"each region its own: the first's call into the second stays, the second's is taken",
       {{0, 8}, {8, 16}},
       Join({{0xE8, 10, 0, 0, 0}, Nops(3), {0xE8, 0xFB, 0xFF, 0xFF, 0xFF}, Nops(3)}),
       Join({{0xE8, 10, 0, 0, 0}, Nops(3), {0xE8}, Nops(3)}), {0, 0, 0, 8}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Streams s = Encoded(c.in, c.code, c.in.size());
    EXPECT_EQ(s.main, c.main);
    EXPECT_EQ(s.call, c.call);
    EXPECT_EQ(s.jump, c.jump);
    EXPECT_EQ(Decoded(s, c.in.size()), c.in);
  }
}

TEST(X86Bcj2Encoder, StreamsDoNotDependOnThePiecesAndDecodeToTheData) {
  // Code-like bytes in three regions: calls with near targets, jumps and conditional jumps with
  // far ones, inside and outside their region, back to back, at every alignment, and a call
  // ending the data.
  std::vector<uint8_t> code = PatternBytes(300000, 9);
  for (size_t i = 0; i + 6 < code.size(); i += 2 + code[i] % 9) {
    const uint8_t kind = code[i + 1] % 3;
    if (kind == 2) code[i++] = 0x0F;
    code[i] = kind == 0 ? 0xE8 : kind == 1 ? 0xE9 : 0x85;
    const bool back = code[i + 2] & 1;
    code[i + 3] = kind == 0 ? (back ? 0xFF : 0x00) : (back ? 0xFE : 0x01);  // near, or 64 KiB on
    code[i + 4] = back ? 0xFF : 0x00;
  }
  code.back() = 0xE8;
  const std::vector<Bcj2Region> regions = {{0, 100000}, {100000, 250001}, {250001, 300000}};
  const Streams whole = Encoded(code, regions, code.size());
  EXPECT_GT(whole.call.size(), 1000u) << "few calls were converted";
  EXPECT_GT(whole.jump.size(), 400u) << "few jumps were converted";
  EXPECT_EQ(whole.main.size() + whole.call.size() + whole.jump.size(), code.size());
  EXPECT_EQ(Decoded(whole, code.size()), code);
  for (size_t piece : {1u, 4u, 5u, 6u, 4096u, 65537u}) {
    SCOPED_TRACE(piece);
    const Streams s = Encoded(code, regions, piece);
    EXPECT_EQ(s.main, whole.main);
    EXPECT_EQ(s.call, whole.call);
    EXPECT_EQ(s.jump, whole.jump);
    EXPECT_EQ(s.bits, whole.bits);
  }
}

}  // namespace
