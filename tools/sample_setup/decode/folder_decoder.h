// Decoding one folder of a 7z archive: its coders joined as the bind pairs say, the packed
// streams read from the archive, the folder's unpacked bytes pulled from the one output that
// nothing else consumes. The memory it takes is known before anything is allocated: the LZMA
// dictionaries (or the outputs, when smaller) and a few buffers of 64 KiB.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "decode/byte_source.h"
#include "decode/folder.h"

// Whether the folder's coders, bind pairs and packed streams form one tree of known coders, each
// stream used once, with one unpacked output. kDamaged for a folder that is not such a tree,
// kUnsupportedMethod for a well-formed folder with a coder this decoder does not implement.
DecodeStatus CheckFolderCoding(const SevenZipFolderCoding& folder);

// The memory decoding the folder takes; CheckFolderCoding must have accepted it.
uint64_t FolderMemory(const SevenZipFolderCoding& folder);

class FolderDecoder {
 public:
  // packed_offsets and packed_sizes: where the folder's packed streams lie in the archive, in the
  // folder's order. Refuses (kTooLarge) a folder whose FolderMemory is above memory_limit.
  DecodeStatus Open(const SevenZipFolderCoding& folder, ArchiveSource& archive,
                    const std::vector<uint64_t>& packed_offsets,
                    const std::vector<uint64_t>& packed_sizes, uint64_t memory_limit);
  // The folder's unpacked bytes; valid after Open returned kOk, for the decoder's lifetime.
  ByteStream& Output() { return *output_; }

 private:
  DecodeStatus MakeOutput(uint32_t out_index, ByteStream*& stream);
  DecodeStatus MakeInput(uint32_t in_index, ByteStream*& stream);

  const SevenZipFolderCoding* folder_ = nullptr;
  ArchiveSource* archive_ = nullptr;
  const std::vector<uint64_t>* packed_offsets_ = nullptr;
  const std::vector<uint64_t>* packed_sizes_ = nullptr;
  std::vector<std::unique_ptr<ByteStream>> streams_;  // every stream of the tree, owned here
  ByteStream* output_ = nullptr;
};

// Decodes a whole folder into memory, for a small one (an archive's compressed header).
DecodeStatus DecodeFolderToMemory(const SevenZipFolderCoding& folder, ArchiveSource& archive,
                                  const std::vector<uint64_t>& packed_offsets,
                                  const std::vector<uint64_t>& packed_sizes,
                                  uint64_t memory_limit, std::vector<unsigned char>& bytes);
