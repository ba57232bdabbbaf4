#include "decode/folder_decoder.h"

#include <algorithm>
#include <new>

#include "decode/bcj2_stream.h"
#include "decode/branch_filters.h"
#include "decode/lzma_stream.h"

namespace {

constexpr uint64_t kBufferMemory = uint64_t{1} << 16;

// A packed stream: a range of the archive, read straight into the reader's buffer.
class PackedStream : public ByteStream {
 public:
  PackedStream(ArchiveSource& archive, uint64_t offset, uint64_t size)
      : archive_(archive), offset_(offset), left_(size) {}
  DecodeStatus Read(unsigned char* out, size_t capacity, size_t& produced) override {
    produced = static_cast<size_t>(std::min<uint64_t>(capacity, left_));
    if (produced == 0) return DecodeStatus::kOk;
    if (!archive_.ReadAt(offset_, out, produced)) {
      produced = 0;
      return DecodeStatus::kReadFailed;
    }
    offset_ += produced;
    left_ -= produced;
    return DecodeStatus::kOk;
  }

 private:
  ArchiveSource& archive_;
  uint64_t offset_;
  uint64_t left_;
};

// Copy: the input as it is, exactly out_size bytes of it.
class CopyStream : public ByteStream {
 public:
  CopyStream(ByteStream& in, uint64_t out_size) : in_(in), left_(out_size) {}
  DecodeStatus Read(unsigned char* out, size_t capacity, size_t& produced) override {
    produced = 0;
    if (left_ == 0) return DecodeStatus::kOk;
    const DecodeStatus status =
        in_.Read(out, static_cast<size_t>(std::min<uint64_t>(capacity, left_)), produced);
    if (status != DecodeStatus::kOk) return status;
    if (produced == 0) return DecodeStatus::kDamaged;
    left_ -= produced;
    return DecodeStatus::kOk;
  }

 private:
  ByteStream& in_;
  uint64_t left_;
};

// The streams a method takes and gives, or false for a method this decoder does not know.
bool MethodShape(uint64_t method, uint32_t& ins, uint32_t& outs) {
  outs = 1;
  switch (method) {
    case kMethodCopy:
    case kMethodLzma:
    case kMethodLzma2:
    case kMethodX86:
    case kMethodArm64:
      ins = 1;
      return true;
    case kMethodBcj2:
      ins = 4;
      return true;
    default:
      return false;
  }
}

// First input and output stream index of each coder.
void StreamStarts(const SevenZipFolderCoding& folder, std::vector<uint32_t>& in_starts,
                  std::vector<uint32_t>& out_starts) {
  uint32_t ins = 0;
  uint32_t outs = 0;
  for (const SevenZipCoder& coder : folder.coders) {
    in_starts.push_back(ins);
    out_starts.push_back(outs);
    ins += coder.in_streams;
    outs += coder.out_streams;
  }
}

}  // namespace

uint32_t FolderOutput(const SevenZipFolderCoding& folder) {
  uint32_t out = 0;
  while (std::any_of(folder.bind_pairs.begin(), folder.bind_pairs.end(),
                     [&](const SevenZipBindPair& p) { return p.out_index == out; })) {
    ++out;
  }
  return out;
}

uint64_t FolderUnpackSize(const SevenZipFolderCoding& folder) {
  const uint32_t out = FolderOutput(folder);
  return out < folder.unpack_sizes.size() ? folder.unpack_sizes[out] : 0;
}

bool IsMethodSupported(const SevenZipCoder& coder) {
  uint32_t ins = 0;
  uint32_t outs = 0;
  if (!MethodShape(coder.method, ins, outs)) return false;
  const size_t properties = coder.properties.size();
  switch (coder.method) {
    case kMethodLzma:
      return properties == 5 && coder.properties[0] < 9 * 5 * 5 &&
             DeclaredDictionary(coder) <= kMaxDictionarySize;
    case kMethodLzma2:
      return properties == 1 && coder.properties[0] <= 40 &&
             DeclaredDictionary(coder) <= kMaxDictionarySize;
    case kMethodX86:
    case kMethodArm64:
      return properties == 0 || properties == 4;
    default:
      return properties == 0;
  }
}

DecodeStatus CheckFolderCoding(const SevenZipFolderCoding& folder) {
  // 7-Zip itself writes at most four coders a folder; 64 keeps every count here small.
  constexpr uint32_t kMaxStreams = 64;
  if (folder.coders.empty() || folder.coders.size() > kMaxStreams) return DecodeStatus::kDamaged;
  uint32_t ins = 0;
  uint32_t outs = 0;
  for (const SevenZipCoder& coder : folder.coders) {
    if (coder.in_streams > kMaxStreams || coder.out_streams > kMaxStreams) {
      return DecodeStatus::kDamaged;
    }
    ins += coder.in_streams;
    outs += coder.out_streams;
  }
  if (ins > kMaxStreams || outs > kMaxStreams || outs == 0) return DecodeStatus::kDamaged;
  if (folder.bind_pairs.size() != outs - 1 || folder.unpack_sizes.size() != outs ||
      ins < folder.bind_pairs.size() || folder.packed_streams.size() != ins - (outs - 1)) {
    return DecodeStatus::kDamaged;
  }
  // Every input fed exactly once, every output but one consumed exactly once.
  std::vector<bool> in_used(ins, false);
  std::vector<bool> out_used(outs, false);
  for (const SevenZipBindPair& pair : folder.bind_pairs) {
    if (pair.in_index >= ins || pair.out_index >= outs || in_used[pair.in_index] ||
        out_used[pair.out_index]) {
      return DecodeStatus::kDamaged;
    }
    in_used[pair.in_index] = out_used[pair.out_index] = true;
  }
  for (uint32_t in : folder.packed_streams) {
    if (in >= ins || in_used[in]) return DecodeStatus::kDamaged;
    in_used[in] = true;
  }
  for (const SevenZipCoder& coder : folder.coders) {
    uint32_t method_ins = 0;
    uint32_t method_outs = 0;
    if (!MethodShape(coder.method, method_ins, method_outs) || !IsMethodSupported(coder)) {
      return DecodeStatus::kUnsupportedMethod;
    }
    if (coder.in_streams != method_ins || coder.out_streams != method_outs) {
      return DecodeStatus::kDamaged;
    }
  }
  // The bound outputs must lead to the unbound one without a cycle: following each coder's
  // consumer, every coder reaches the last one within as many steps as there are coders.
  std::vector<uint32_t> in_starts;
  std::vector<uint32_t> out_starts;
  StreamStarts(folder, in_starts, out_starts);
  const auto coder_of_in = [&](uint32_t in) {
    return static_cast<size_t>(std::upper_bound(in_starts.begin(), in_starts.end(), in) -
                               in_starts.begin() - 1);
  };
  for (size_t c = 0; c < folder.coders.size(); ++c) {
    size_t at = c;
    size_t steps = 0;
    for (;;) {
      // The consumer of this coder's output (each known coder has one).
      const uint32_t out = out_starts[at];
      const SevenZipBindPair* pair = nullptr;
      for (const SevenZipBindPair& p : folder.bind_pairs) {
        if (p.out_index == out) pair = &p;
      }
      if (pair == nullptr) break;
      at = coder_of_in(pair->in_index);
      if (++steps > folder.coders.size()) return DecodeStatus::kDamaged;
    }
  }
  return DecodeStatus::kOk;
}

uint64_t FolderMemory(const SevenZipFolderCoding& folder) {
  std::vector<uint32_t> in_starts;
  std::vector<uint32_t> out_starts;
  StreamStarts(folder, in_starts, out_starts);
  uint64_t total = 0;
  for (size_t c = 0; c < folder.coders.size(); ++c) {
    const SevenZipCoder& coder = folder.coders[c];
    const uint64_t out_size = folder.unpack_sizes[out_starts[c]];
    if (coder.method == kMethodLzma || coder.method == kMethodLzma2) {
      total += LzmaMemory(coder, out_size);
    } else if (coder.method == kMethodBcj2) {
      total += 4 * kBufferMemory;
    } else if (coder.method != kMethodCopy) {
      total += kBufferMemory;
    }
  }
  return total;
}

DecodeStatus FolderDecoder::Open(const SevenZipFolderCoding& folder, ArchiveSource& archive,
                                 const std::vector<uint64_t>& packed_offsets,
                                 const std::vector<uint64_t>& packed_sizes,
                                 uint64_t memory_limit) {
  streams_.clear();
  output_ = nullptr;
  const DecodeStatus status = CheckFolderCoding(folder);
  if (status != DecodeStatus::kOk) return status;
  if (packed_offsets.size() != folder.packed_streams.size() ||
      packed_sizes.size() != folder.packed_streams.size()) {
    return DecodeStatus::kDamaged;
  }
  if (FolderMemory(folder) > memory_limit) return DecodeStatus::kTooLarge;
  folder_ = &folder;
  archive_ = &archive;
  packed_offsets_ = &packed_offsets;
  packed_sizes_ = &packed_sizes;
  return MakeOutput(FolderOutput(folder), output_);
}

DecodeStatus FolderDecoder::MakeInput(uint32_t in_index, ByteStream*& stream) {
  for (const SevenZipBindPair& pair : folder_->bind_pairs) {
    if (pair.in_index == in_index) return MakeOutput(pair.out_index, stream);
  }
  for (size_t k = 0; k < folder_->packed_streams.size(); ++k) {
    if (folder_->packed_streams[k] != in_index) continue;
    streams_.emplace_back(new (std::nothrow)
                              PackedStream(*archive_, (*packed_offsets_)[k], (*packed_sizes_)[k]));
    stream = streams_.back().get();
    return stream != nullptr ? DecodeStatus::kOk : DecodeStatus::kTooLarge;
  }
  return DecodeStatus::kDamaged;
}

// CheckFolderCoding has made sure that the recursion ends: the coders form a tree.
DecodeStatus FolderDecoder::MakeOutput(uint32_t out_index, ByteStream*& stream) {
  std::vector<uint32_t> in_starts;
  std::vector<uint32_t> out_starts;
  StreamStarts(*folder_, in_starts, out_starts);
  size_t c = 0;
  while (c + 1 < folder_->coders.size() && out_starts[c + 1] <= out_index) ++c;
  const SevenZipCoder& coder = folder_->coders[c];
  const uint64_t out_size = folder_->unpack_sizes[out_index];
  ByteStream* inputs[4] = {};
  for (uint32_t i = 0; i < coder.in_streams; ++i) {
    const DecodeStatus status = MakeInput(in_starts[c] + i, inputs[i]);
    if (status != DecodeStatus::kOk) return status;
  }
  std::unique_ptr<ByteStream> made;
  switch (coder.method) {
    case kMethodCopy:
      made.reset(new (std::nothrow) CopyStream(*inputs[0], out_size));
      break;
    case kMethodLzma:
    case kMethodLzma2:
      made = MakeLzmaStream(coder, *inputs[0], out_size);
      break;
    case kMethodX86:
    case kMethodArm64:
      made = MakeBranchFilterStream(coder, *inputs[0]);
      break;
    case kMethodBcj2:
      made = MakeBcj2Stream(*inputs[0], *inputs[1], *inputs[2], *inputs[3], out_size);
      break;
    default:
      return DecodeStatus::kUnsupportedMethod;
  }
  if (made == nullptr) return DecodeStatus::kTooLarge;
  stream = made.get();
  streams_.push_back(std::move(made));
  return DecodeStatus::kOk;
}

DecodeStatus DecodeFolderToMemory(const SevenZipFolderCoding& folder, ArchiveSource& archive,
                                  const std::vector<uint64_t>& packed_offsets,
                                  const std::vector<uint64_t>& packed_sizes,
                                  uint64_t memory_limit, std::vector<unsigned char>& bytes) {
  bytes.clear();
  FolderDecoder decoder;
  DecodeStatus status = decoder.Open(folder, archive, packed_offsets, packed_sizes, memory_limit);
  if (status != DecodeStatus::kOk) return status;
  // The caller bounded the folder's size; the decoders give no more than it.
  bytes.resize(static_cast<size_t>(FolderUnpackSize(folder)));
  status = ReadFully(decoder.Output(), bytes.data(), bytes.size());
  if (status != DecodeStatus::kOk) bytes.clear();
  return status;
}
