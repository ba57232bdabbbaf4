// The x86 branch filter the archive writer applies to programs. Whether 7-Zip's decoder undoes it
// is shown by the archive tests (7zz t on programs); these show what those cannot pin down: the
// conversions themselves on hand-made instructions, and that the filter's output does not depend
// on how the data is cut into pieces, which the writer's 1 MiB reads do at arbitrary places.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "archive/x86_branch_filter.h"
#include "pack_fixture.h"

namespace {

// The whole of data through the filter, piece by piece, as the writer streams it: the bytes the
// filter leaves undecided are given again at the start of the next piece.
std::vector<uint8_t> Filtered(std::vector<uint8_t> data, uint32_t start, size_t piece) {
  X86BranchFilter filter;
  filter.position = start;
  std::vector<uint8_t> out;
  std::vector<uint8_t> pending;
  size_t at = 0;
  while (at < data.size()) {
    const size_t take = std::min(piece, data.size() - at);
    pending.insert(pending.end(), data.begin() + at, data.begin() + at + take);
    at += take;
    const size_t done = EncodeX86Branches(filter, pending.data(), pending.size());
    EXPECT_LE(pending.size() - done, 4u);
    out.insert(out.end(), pending.begin(), pending.begin() + done);
    pending.erase(pending.begin(), pending.begin() + done);
  }
  out.insert(out.end(), pending.begin(), pending.end());
  return out;
}

TEST(X86BranchFilter, ConvertsNearCallsAndJumpsToAbsoluteTargets) {
  struct Case {
    const char* what;
    uint32_t position;  // of the first byte
    std::vector<uint8_t> in, out;
  };
  const Case cases[] = {
      {"call +0 at 0 targets 5", 0, {0xE8, 0, 0, 0, 0}, {0xE8, 5, 0, 0, 0}},
      {"call -5 at 0 targets 0", 0, {0xE8, 0xFB, 0xFF, 0xFF, 0xFF}, {0xE8, 0, 0, 0, 0}},
      {"jump +0x100 at 0x100", 0x100, {0xE9, 0, 1, 0, 0}, {0xE9, 5, 2, 0, 0}},
      {"a far operand is left", 0, {0xE8, 1, 2, 3, 0x12}, {0xE8, 1, 2, 3, 0x12}},
      {"other opcodes are left", 0, {0xE7, 0, 0, 0, 0, 0xEA, 0, 0, 0, 0},
       {0xE7, 0, 0, 0, 0, 0xEA, 0, 0, 0, 0}},
      {"a call after plain bytes", 3, {0x90, 0x90, 0xE8, 0x10, 0, 0, 0, 0x90},
       {0x90, 0x90, 0xE8, 0x1A, 0, 0, 0, 0x90}},
      {"a call in the last four bytes stays", 0, {0x90, 0x90, 0xE8, 0, 0, 0},
       {0x90, 0x90, 0xE8, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Filtered(c.in, c.position, c.in.size()), c.out);
  }
}

TEST(X86BranchFilter, OutputDoesNotDependOnThePieces) {
  // Code-like bytes: calls and jumps with near and far operands, runs of them back to back (which
  // the prefix mask judges), at every alignment.
  std::vector<uint8_t> code = PatternBytes(200000, 7);
  for (size_t i = 0; i + 5 < code.size(); i += 3 + code[i] % 9) {
    code[i] = (code[i + 1] & 1) ? 0xE8 : 0xE9;
    code[i + 4] = (code[i + 2] % 3 == 0) ? 0x37 : (code[i + 2] & 1) ? 0xFF : 0x00;
  }
  const std::vector<uint8_t> whole = Filtered(code, 0, code.size());
  ASSERT_EQ(whole.size(), code.size());
  EXPECT_NE(whole, code) << "nothing was converted";
  for (size_t piece : {1u, 2u, 4u, 5u, 6u, 7u, 4096u, 65537u}) {
    SCOPED_TRACE(piece);
    EXPECT_EQ(Filtered(code, 0, piece), whole);
  }
}

}  // namespace
