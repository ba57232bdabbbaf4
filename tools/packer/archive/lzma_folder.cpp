#include "archive/lzma_folder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "LzmaEnc.h"
#include "archive/x86_bcj2_encoder.h"
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
  FolderFilter filter_kind = FolderFilter::kNone;
  X86BranchFilter filter;
  // The four-stream converter reads into raw and gives its main stream to the encoder from
  // buffer; raw[0, raw_filled) are bytes it has not taken yet.
  Bcj2Encoder bcj2;
  std::vector<uint8_t> raw;
  size_t raw_filled = 0;
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
  uint64_t delivered = 0;  // bytes handed to the encoder
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

// Refills the buffer with the converter's main stream: the raw bytes it left move to the front,
// new bytes follow, and it takes what it can (all of them once the data has ended).
bool RefillThroughBcj2(GroupReader& r) {
  size_t got = 0;
  if (!ReadGroupBytes(r, r.raw.data() + r.raw_filled, r.raw.size() - r.raw_filled, got)) {
    return false;
  }
  r.raw_filled += got;
  r.buffer.clear();
  const size_t taken = EncodeBcj2(r.bcj2, r.raw.data(), r.raw_filled, got == 0, r.buffer);
  std::memmove(r.raw.data(), r.raw.data() + taken, r.raw_filled - taken);
  r.raw_filled -= taken;
  r.ready_from = 0;
  r.ready_to = r.filled = r.buffer.size();
  r.at_end = got == 0;
  return true;
}

// Refills the buffer: the bytes still waiting move to the front, new bytes follow, and the
// filter decides what it can.
bool Refill(GroupReader& r) {
  if (r.filter_kind == FolderFilter::kBcj2) return RefillThroughBcj2(r);
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
    r.ready_to = r.filter_kind == FolderFilter::kX86Branch
                     ? EncodeX86Branches(r.filter, r.buffer.data(), r.filled)
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
  r.delivered += n;
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


namespace {

// Compresses bytes in memory with settings, appending to packed.
bool CompressWith(const std::vector<uint8_t>& in, const LzmaSettings& settings,
                  std::vector<uint8_t>& packed, std::vector<uint8_t>& properties,
                  std::string& error) {
  Encoder encoder;
  if (!Configure(encoder, settings, in.size(), properties, error)) return false;
  MemoryReader reader;
  reader.stream.Read = ReadFromMemory;
  reader.in = &in;
  MemoryWriter writer;
  writer.stream.Write = WriteToMemory;
  writer.out = &packed;
  const SRes result = LzmaEnc_Encode(encoder.get(), &writer.stream, &reader.stream, nullptr,
                                     &g_allocator, &g_allocator);
  if (result != SZ_OK) {
    error = SdkErrorText(result);
    return false;
  }
  return true;
}

// The window cut down to the data: larger compresses no better and costs memory.
uint32_t DictionaryFor(uint64_t size, uint32_t largest) {
  uint64_t dictionary = kSmallestDictionary;
  while (dictionary < size && dictionary < largest) dictionary <<= 1;
  return static_cast<uint32_t>(dictionary);
}

// Appends a stream compressed from memory to out and records it.
bool WriteSideStream(const std::vector<uint8_t>& data, StagedFile& out, PackedStream& stream,
                     std::string& error) {
  const LzmaSettings settings = SideStreamSettings(data.size());
  std::vector<uint8_t> packed;
  if (!CompressWith(data, settings, packed, stream.lzma_properties, error) ||
      !out.Write(packed.data(), packed.size(), error)) {
    return false;
  }
  stream.packed_size = packed.size();
  stream.unpacked_size = data.size();
  return true;
}

// A program's executable sections, as [start, end) of the file: read from its section table,
// every value bounded by the file's size before it is used. A program whose table cannot be read
// is all code. Ascending and apart.
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kMostSections = 96;  // the loader's own limit
constexpr uint32_t kSectionHoldsCode = 0x00000020;
constexpr uint32_t kSectionExecutes = 0x20000000;

uint32_t Little32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool CodeSections(const ArchiveEntry& entry, std::vector<Bcj2Region>& sections,
                  std::string& error) {
  sections.clear();
  const Bcj2Region whole{0, entry.size};
  InputFile file;
  if (!file.Open(entry.path, error)) return false;
  uint8_t head[64];
  if (entry.size < sizeof(head)) {
    sections.push_back(whole);
    return true;
  }
  if (!file.ReadAt(0, head, sizeof(head), error)) return false;
  const uint64_t pe = PeHeaderOffset(head, sizeof(head));
  uint8_t coff[24];
  if (pe == 0 || pe + sizeof(coff) > entry.size) {
    sections.push_back(whole);
    return true;
  }
  if (!file.ReadAt(pe, coff, sizeof(coff), error)) return false;
  const size_t count = static_cast<size_t>(coff[6] | coff[7] << 8);
  const uint64_t table = pe + sizeof(coff) + static_cast<uint64_t>(coff[20] | coff[21] << 8);
  if (count == 0 || count > kMostSections || table + count * kSectionHeaderSize > entry.size) {
    sections.push_back(whole);
    return true;
  }
  std::vector<uint8_t> headers(count * kSectionHeaderSize);
  if (!file.ReadAt(table, headers.data(), headers.size(), error)) return false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* h = headers.data() + i * kSectionHeaderSize;
    const uint64_t raw_size = Little32(h + 16), raw_at = Little32(h + 20);
    if ((Little32(h + 36) & (kSectionHoldsCode | kSectionExecutes)) == 0 || raw_at >= entry.size) {
      continue;
    }
    sections.push_back({raw_at, std::min(entry.size, raw_at + raw_size)});
  }
  std::sort(sections.begin(), sections.end(),
            [](const Bcj2Region& a, const Bcj2Region& b) { return a.start < b.start; });
  // Sections whose raw bytes overlap are joined.
  std::vector<Bcj2Region> apart;
  for (const Bcj2Region& r : sections) {
    if (r.end <= r.start) continue;
    if (!apart.empty() && r.start < apart.back().end) {
      apart.back().end = std::max(apart.back().end, r.end);
    } else {
      apart.push_back(r);
    }
  }
  sections.swap(apart);
  if (sections.empty()) sections.push_back(whole);
  return true;
}

// The code of a group's programs, in stream offsets.
bool GroupCodeRegions(const ArchiveGroup& group, std::vector<Bcj2Region>& regions,
                      std::string& error) {
  regions.clear();
  uint64_t at = 0;
  std::vector<Bcj2Region> sections;
  for (const ArchiveEntry& entry : group.files) {
    if (!CodeSections(entry, sections, error)) return false;
    for (const Bcj2Region& s : sections) regions.push_back({at + s.start, at + s.end});
    at += entry.size;
  }
  return true;
}

}  // namespace

LzmaSettings SettingsFor(const ArchiveGroup& group) {
  LzmaSettings settings;
  settings.dictionary = DictionaryFor(group.size, settings.dictionary);
  return settings;
}

LzmaSettings SideStreamSettings(uint64_t size) {
  LzmaSettings settings;
  settings.dictionary = DictionaryFor(size, settings.dictionary);
  settings.literal_context = 0;
  settings.literal_position = 2;
  settings.fast_bytes = 128;
  return settings;
}

bool WriteLzmaFolder(const ArchiveGroup& group, const LzmaSettings& settings, StagedFile& out,
                     FolderRecord& record, std::string& error) {
  record = FolderRecord();
  record.filter = group.kind == ArchiveGroupKind::kPrograms ? FolderFilter::kBcj2
                                                            : FolderFilter::kNone;
  record.streams.resize(1);
  Encoder encoder;
  if (!Configure(encoder, settings, group.size, record.streams[0].lzma_properties, error)) {
    return false;
  }
  GroupReader reader;
  reader.stream.Read = ReadForEncoder;
  reader.group = &group;
  reader.filter_kind = record.filter;
  reader.buffer.resize(kReadPiece);
  if (record.filter == FolderFilter::kBcj2) {
    std::vector<Bcj2Region> regions;
    if (!GroupCodeRegions(group, regions, error)) return false;
    StartBcj2(reader.bcj2, regions);
    reader.raw.resize(kReadPiece);
  }
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
  record.streams[0].packed_size = writer.written;
  record.streams[0].unpacked_size = reader.delivered;
  if (record.filter == FolderFilter::kBcj2) {
    record.streams.resize(4);
    if (!WriteSideStream(reader.bcj2.call, out, record.streams[1], error) ||
        !WriteSideStream(reader.bcj2.jump, out, record.streams[2], error)) {
      return false;
    }
    const std::vector<uint8_t>& bits = reader.bcj2.bit_stream;
    if (!out.Write(bits.data(), bits.size(), error)) return false;
    record.streams[3].packed_size = record.streams[3].unpacked_size = bits.size();
  }
  record.unpacked_size = group.size;
  for (const ArchiveEntry& entry : group.files) record.file_sizes.push_back(entry.size);
  record.file_crcs = reader.crcs;
  return true;
}

bool CompressBytes(const std::vector<uint8_t>& in, std::vector<uint8_t>& packed,
                   std::vector<uint8_t>& properties, std::string& error) {
  LzmaSettings settings;
  settings.dictionary = DictionaryFor(in.size(), settings.dictionary);
  packed.clear();
  return CompressWith(in, settings, packed, properties, error);
}
