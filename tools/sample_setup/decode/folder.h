// A 7z folder as its decoder sees it: coders, each with numbered input and output streams, bind
// pairs that feed one coder's output into another's input, and the packed streams of the archive
// that feed the remaining inputs. Streams are numbered across the folder in coder order, inputs
// and outputs apart; exactly one output is bound to nothing: the folder's unpacked bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Method ids as 7-Zip writes them (its Methods.txt), big-endian bytes read as one number.
enum SevenZipMethod : uint64_t {
  kMethodCopy = 0x00,
  kMethodLzma2 = 0x21,
  kMethodLzma = 0x030101,
  kMethodX86 = 0x03030103,
  kMethodBcj2 = 0x0303011B,
  kMethodArm64 = 0x0A,
};

struct SevenZipCoder {
  uint64_t method = 0;
  std::vector<unsigned char> properties;
  uint32_t in_streams = 1;
  uint32_t out_streams = 1;
};

struct SevenZipBindPair {
  uint32_t in_index = 0;   // a coder's input...
  uint32_t out_index = 0;  // ...fed by this coder output
};

struct SevenZipFolderCoding {
  std::vector<SevenZipCoder> coders;
  std::vector<SevenZipBindPair> bind_pairs;
  std::vector<uint32_t> packed_streams;  // the input fed by the folder's k-th packed stream
  std::vector<uint64_t> unpack_sizes;    // one per output stream
};

// The output that no bind pair consumes, and its size: the folder's unpacked bytes.
uint32_t FolderOutput(const SevenZipFolderCoding& folder);
uint64_t FolderUnpackSize(const SevenZipFolderCoding& folder);

// Whether the decoder implements the method with these properties (a known method with a
// setting beyond what it decodes, such as a dictionary above the largest, is not supported).
bool IsMethodSupported(const SevenZipCoder& coder);

// The largest LZMA or LZMA2 dictionary the decoder accepts: 7-Zip's own largest setting.
constexpr uint64_t kMaxDictionarySize = uint64_t{3} << 29;  // 1.5 GiB

// The dictionary a coder declares (0 for a coder without one). For a coder whose properties are
// malformed, 0.
uint64_t DeclaredDictionary(const SevenZipCoder& coder);
