#include "archive/lzma_folder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "LzmaEnc.h"
#include "archive/x86_branch_filter.h"
#include "platform/file_io.h"

namespace {

// What the reader takes from the files at a time.
constexpr size_t kReadPiece = 1 << 20;
// The smallest window the encoder takes.
constexpr uint32_t kSmallestDictionary = 1 << 12;

void* Allocate(void*, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void Release(void*, void* address) { std::free(address); }
ISzAlloc g_allocator = {Allocate, Release};

// The encoder's input: the group's files in order, filtered. The SDK calls Read through the
// interface at the start of the struct; errors are kept here and reported by the caller.
struct GroupReader {
  ISeqInStream stream;
  const ArchiveGroup* group;
  bool filter_branches;
  X86BranchFilter filter;
  size_t file_index = 0;
  InputFile file;
  uint64_t file_offset = 0;
  uint32_t crc = 0;
  std::vector<uint32_t> crcs;
  // Bytes read and filtered: buffer[ready_from, ready_to) are final, buffer[ready_to, filled)
  // wait for the bytes after them.
  std::vector<uint8_t> buffer;
  size_t ready_from = 0, ready_to = 0, filled = 0;
  bool at_end = false;
  std::string error;
};

// Reads up to size bytes of the group's data (crossing files) into out.
bool ReadGroupBytes(GroupReader& r, uint8_t* out, size_t size, size_t& got) {
  got = 0;
  while (got < size && r.file_index < r.group->files.size()) {
    const ArchiveEntry& entry = r.group->files[r.file_index];
    if (!r.file.IsOpen()) {
      if (!r.file.Open(entry.path, r.error)) return false;
      if (r.file.size() != entry.size) {
        r.error = entry.path + " changed size while it was being packed";
        return false;
      }
      r.file_offset = 0;
      r.crc = 0;
    }
    const size_t take =
        static_cast<size_t>(std::min<uint64_t>(size - got, entry.size - r.file_offset));
    if (!r.file.ReadAt(r.file_offset, out + got, take, r.error)) return false;
    r.crc = Crc32(out + got, take, r.crc);
    r.file_offset += take;
    got += take;
    if (r.file_offset == entry.size) {
      r.crcs.push_back(r.crc);
      r.file = InputFile();
      ++r.file_index;
    }
  }
  return true;
}

// Refills the buffer: the bytes still waiting move to the front, new bytes follow, and the
// filter decides what it can.
bool Refill(GroupReader& r) {
  const size_t waiting = r.filled - r.ready_to;
  std::memmove(r.buffer.data(), r.buffer.data() + r.ready_to, waiting);
  size_t got = 0;
  if (!ReadGroupBytes(r, r.buffer.data() + waiting, r.buffer.size() - waiting, got)) return false;
  r.filled = waiting + got;
  r.ready_from = 0;
  if (got == 0) {
    // The data has ended: what waited stays as it is, as the decoder leaves it.
    r.ready_to = r.filled;
    r.at_end = true;
  } else {
    r.ready_to = r.filter_branches ? EncodeX86Branches(r.filter, r.buffer.data(), r.filled)
                                   : r.filled;
  }
  return true;
}

SRes ReadForEncoder(void* p, void* out, size_t* size) {
  GroupReader& r = *static_cast<GroupReader*>(p);
  while (r.ready_from == r.ready_to && !r.at_end) {
    if (!Refill(r)) return SZ_ERROR_READ;
  }
  const size_t n = std::min(*size, r.ready_to - r.ready_from);
  std::memcpy(out, r.buffer.data() + r.ready_from, n);
  r.ready_from += n;
  *size = n;
  return SZ_OK;
}

struct FileWriter {
  ISeqOutStream stream;
  StagedFile* out;
  uint64_t written = 0;
  std::string error;
};

size_t WriteFromEncoder(void* p, const void* data, size_t size) {
  FileWriter& w = *static_cast<FileWriter*>(p);
  if (!w.error.empty() || !w.out->Write(data, size, w.error)) return 0;
  w.written += size;
  return size;
}

struct MemoryWriter {
  ISeqOutStream stream;
  std::vector<uint8_t>* out;
};

size_t WriteToMemory(void* p, const void* data, size_t size) {
  MemoryWriter& w = *static_cast<MemoryWriter*>(p);
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  w.out->insert(w.out->end(), bytes, bytes + size);
  return size;
}

struct MemoryReader {
  ISeqInStream stream;
  const std::vector<uint8_t>* in;
  size_t at = 0;
};

SRes ReadFromMemory(void* p, void* out, size_t* size) {
  MemoryReader& r = *static_cast<MemoryReader*>(p);
  const size_t n = std::min(*size, r.in->size() - r.at);
  std::memcpy(out, r.in->data() + r.at, n);
  r.at += n;
  *size = n;
  return SZ_OK;
}

// Closes the encoder on every path.
class Encoder {
 public:
  Encoder() : handle_(LzmaEnc_Create(&g_allocator)) {}
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
  ~Encoder() {
    if (handle_ != nullptr) LzmaEnc_Destroy(handle_, &g_allocator, &g_allocator);
  }
  CLzmaEncHandle get() const { return handle_; }

 private:
  CLzmaEncHandle handle_;
};

std::string SdkErrorText(SRes code) {
  switch (code) {
    case SZ_ERROR_MEM:
      return "not enough memory for the compressor";
    case SZ_ERROR_PARAM:
      return "the compressor refused its settings";
    default:
      return "the compressor failed (error " + std::to_string(code) + ")";
  }
}

// Sets the encoder up and writes its properties. The SDK is built without its second thread,
// so that the output is the same on every machine.
bool Configure(Encoder& encoder, const LzmaSettings& settings, uint64_t size,
               std::vector<uint8_t>& properties, std::string& error) {
  if (encoder.get() == nullptr) {
    error = SdkErrorText(SZ_ERROR_MEM);
    return false;
  }
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = 9;
  props.dictSize = settings.dictionary;
  props.reduceSize = size >= UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
  props.lc = settings.literal_context;
  props.lp = settings.literal_position;
  props.pb = settings.position_bits;
  props.algo = 1;
  props.fb = settings.fast_bytes;
  props.btMode = 1;
  props.numHashBytes = 4;
  if (settings.match_cycles != 0) props.mc = settings.match_cycles;
  props.numThreads = 1;
  SRes result = LzmaEnc_SetProps(encoder.get(), &props);
  properties.assign(LZMA_PROPS_SIZE, 0);
  SizeT properties_size = LZMA_PROPS_SIZE;
  if (result == SZ_OK) {
    result = LzmaEnc_WriteProperties(encoder.get(), properties.data(), &properties_size);
  }
  if (result != SZ_OK) {
    error = SdkErrorText(result);
    return false;
  }
  return true;
}

}  // namespace

LzmaSettings SettingsFor(const ArchiveGroup& group) {
  LzmaSettings settings;
  uint64_t dictionary = kSmallestDictionary;
  while (dictionary < group.size && dictionary < settings.dictionary) dictionary <<= 1;
  settings.dictionary = static_cast<uint32_t>(dictionary);
  return settings;
}

bool WriteLzmaFolder(const ArchiveGroup& group, const LzmaSettings& settings, StagedFile& out,
                     FolderRecord& record, std::string& error) {
  record = FolderRecord();
  record.branch_filter = group.kind == ArchiveGroupKind::kPrograms;
  Encoder encoder;
  if (!Configure(encoder, settings, group.size, record.lzma_properties, error)) return false;
  GroupReader reader;
  reader.stream.Read = ReadForEncoder;
  reader.group = &group;
  reader.filter_branches = record.branch_filter;
  reader.buffer.resize(kReadPiece);
  FileWriter writer;
  writer.stream.Write = WriteFromEncoder;
  writer.out = &out;
  const SRes result = LzmaEnc_Encode(encoder.get(), &writer.stream, &reader.stream, nullptr,
                                     &g_allocator, &g_allocator);
  if (result != SZ_OK) {
    error = !reader.error.empty() ? reader.error
            : !writer.error.empty() ? writer.error
                                    : SdkErrorText(result);
    return false;
  }
  record.packed_size = writer.written;
  record.unpacked_size = group.size;
  for (const ArchiveEntry& entry : group.files) record.file_sizes.push_back(entry.size);
  record.file_crcs = reader.crcs;
  return true;
}

bool CompressBytes(const std::vector<uint8_t>& in, std::vector<uint8_t>& packed,
                   std::vector<uint8_t>& properties, std::string& error) {
  Encoder encoder;
  LzmaSettings settings;
  settings.dictionary = kSmallestDictionary;
  while (settings.dictionary < in.size() && settings.dictionary < (1u << 26)) {
    settings.dictionary <<= 1;
  }
  if (!Configure(encoder, settings, in.size(), properties, error)) return false;
  MemoryReader reader;
  reader.stream.Read = ReadFromMemory;
  reader.in = &in;
  MemoryWriter writer;
  writer.stream.Write = WriteToMemory;
  writer.out = &packed;
  packed.clear();
  const SRes result = LzmaEnc_Encode(encoder.get(), &writer.stream, &reader.stream, nullptr,
                                     &g_allocator, &g_allocator);
  if (result != SZ_OK) {
    error = SdkErrorText(result);
    return false;
  }
  return true;
}
