// The 7z layout read here, from 7-Zip's format description (7zFormat.txt):
//
//   signature header (32 bytes): '7' 'z' BC AF 27 1C, version (major 0), CRC of the next 20
//   bytes, next-header offset (from the end of the signature header), next-header size, its CRC
//   packed streams: the stored bytes of the files
//   header: kHeader, [kMainStreamsInfo: PackInfo, UnpackInfo (folders), SubStreamsInfo],
//           [kFilesInfo: empty-stream bits, empty-file bits, names, times, attributes], kEnd
//
// With the Copy coder a folder's unpacked bytes are its one packed stream, so a file's data lies
// in the archive file itself and can be copied out directly. Numbers in the header use 7z's
// variable-length encoding: the count of leading one bits of the first byte is the count of
// little-endian bytes that follow.
#include "seven_zip_reader.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr unsigned char kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr uint64_t kSignatureHeaderSize = 32;
// The sample's archives have headers of a few kilobytes; a bound keeps a damaged size from
// asking for gigabytes.
constexpr uint64_t kMaxHeaderSize = 16u << 20;

enum PropertyId : uint64_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kArchiveProperties = 0x02,
  kAdditionalStreamsInfo = 0x03,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kAnti = 0x10,
  kNames = 0x11,
  kEncodedHeader = 0x17,
};

// Bounds-checked reading of the header bytes. The first fault sticks: every later read yields
// zero and the caller checks ok() at its decision points.
class HeaderCursor {
 public:
  HeaderCursor(const unsigned char* data, size_t size) : data_(data), end_(data + size) {}

  bool ok() const { return ok_; }
  size_t remaining() const { return static_cast<size_t>(end_ - data_); }
  const unsigned char* position() const { return data_; }

  unsigned char Byte() {
    if (!ok_ || data_ == end_) return Fail();
    return *data_++;
  }
  uint64_t Number() {
    const unsigned char first = Byte();
    unsigned char mask = 0x80;
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
      if ((first & mask) == 0) {
        const uint64_t high = first & (mask - 1u);
        return value | (high << (8 * i));
      }
      value |= static_cast<uint64_t>(Byte()) << (8 * i);
      mask >>= 1;
    }
    return value;
  }
  uint32_t Uint32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
    return value;
  }
  // A count of items that each take at least one byte of the header: a larger count can only
  // come from a damaged header and must not size an allocation.
  size_t Count() {
    const uint64_t count = Number();
    if (count > remaining()) Fail();
    return ok_ ? static_cast<size_t>(count) : 0;
  }
  void Skip(uint64_t size) {
    if (size > remaining()) {
      Fail();
      return;
    }
    data_ += size;
  }
  std::vector<bool> Bits(size_t count) {
    std::vector<bool> bits(count, false);
    unsigned char byte = 0;
    for (size_t i = 0; i < count && ok_; ++i) {
      if (i % 8 == 0) byte = Byte();
      bits[i] = (byte & (0x80 >> (i % 8))) != 0;
    }
    return bits;
  }
  // "all defined" byte, else a bit per item; then a CRC per defined item.
  void Digests(size_t count, std::vector<bool>& defined, std::vector<uint32_t>& crcs) {
    defined = Byte() != 0 ? std::vector<bool>(count, true) : Bits(count);
    crcs.assign(count, 0);
    for (size_t i = 0; i < count && ok_; ++i) {
      if (defined[i]) crcs[i] = Uint32();
    }
  }
  unsigned char Fail() {
    ok_ = false;
    data_ = end_;
    return 0;
  }

 private:
  const unsigned char* data_;
  const unsigned char* end_;
  bool ok_ = true;
};

struct Streams {
  uint64_t pack_position = 0;
  std::vector<uint64_t> pack_sizes;
  std::vector<uint64_t> folder_sizes;
  std::vector<bool> folder_crc_defined;
  std::vector<uint32_t> folder_crcs;
  std::vector<size_t> substream_counts;  // per folder
  std::vector<uint64_t> substream_sizes;
  std::vector<bool> substream_crc_defined;
  std::vector<uint32_t> substream_crcs;
};

struct FileRecord {
  std::wstring name;
  bool empty_stream = false;
  bool empty_file = false;
};

bool ReadAt(HANDLE file, uint64_t offset, void* buffer, DWORD size) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return false;
  DWORD read = 0;
  // A short read is a failure: the header said these bytes exist.
  return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

uint64_t ReadLe64(const unsigned char* p) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

uint32_t ReadLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | (static_cast<uint32_t>(p[3]) << 24);
}

SevenZipStatus ReadPackInfo(HeaderCursor& in, Streams& streams) {
  streams.pack_position = in.Number();
  streams.pack_sizes.assign(in.Count(), 0);
  for (uint64_t id = in.Number(); in.ok() && id != kEnd; id = in.Number()) {
    if (id == kSize) {
      for (uint64_t& size : streams.pack_sizes) size = in.Number();
    } else if (id == kCrc) {
      std::vector<bool> defined;
      std::vector<uint32_t> crcs;  // the folder or file CRCs cover the same bytes for Copy
      in.Digests(streams.pack_sizes.size(), defined, crcs);
    } else {
      return SevenZipStatus::kUnsupported;
    }
  }
  return in.ok() ? SevenZipStatus::kOk : SevenZipStatus::kDamaged;
}

// One folder: exactly one simple coder whose method id is the single byte 00, Copy.
SevenZipStatus ReadFolder(HeaderCursor& in) {
  if (in.Number() != 1) return in.ok() ? SevenZipStatus::kUnsupported : SevenZipStatus::kDamaged;
  const unsigned char flags = in.Byte();
  const unsigned id_size = flags & 0x0Fu;
  const bool complex = (flags & 0x10u) != 0;
  const bool has_properties = (flags & 0x20u) != 0;
  if (!in.ok()) return SevenZipStatus::kDamaged;
  if (complex || has_properties || (flags & 0xC0u) != 0 || id_size != 1) {
    return SevenZipStatus::kUnsupported;
  }
  if (in.Byte() != 0x00) return in.ok() ? SevenZipStatus::kUnsupported : SevenZipStatus::kDamaged;
  // One coder with one input and one output: no bind pairs and no packed-stream indices follow.
  return SevenZipStatus::kOk;
}

SevenZipStatus ReadUnpackInfo(HeaderCursor& in, Streams& streams) {
  if (in.Number() != kFolder) return SevenZipStatus::kDamaged;
  const size_t folders = in.Count();
  if (in.Byte() != 0) return in.ok() ? SevenZipStatus::kUnsupported : SevenZipStatus::kDamaged;
  for (size_t i = 0; i < folders && in.ok(); ++i) {
    const SevenZipStatus status = ReadFolder(in);
    if (status != SevenZipStatus::kOk) return status;
  }
  if (in.Number() != kCodersUnpackSize) return SevenZipStatus::kDamaged;
  streams.folder_sizes.assign(folders, 0);
  for (uint64_t& size : streams.folder_sizes) size = in.Number();
  streams.folder_crc_defined.assign(folders, false);
  streams.folder_crcs.assign(folders, 0);
  for (uint64_t id = in.Number(); in.ok() && id != kEnd; id = in.Number()) {
    if (id != kCrc) return SevenZipStatus::kUnsupported;
    in.Digests(folders, streams.folder_crc_defined, streams.folder_crcs);
  }
  return in.ok() ? SevenZipStatus::kOk : SevenZipStatus::kDamaged;
}

SevenZipStatus ReadSubStreamsInfo(HeaderCursor& in, Streams& streams) {
  const size_t folders = streams.folder_sizes.size();
  streams.substream_counts.assign(folders, 1);
  uint64_t id = in.Number();
  if (id == kNumUnpackStream) {
    for (size_t& count : streams.substream_counts) count = in.Count();
    id = in.Number();
  }
  for (size_t f = 0; f < folders && in.ok(); ++f) {
    const size_t count = streams.substream_counts[f];
    if (count == 0) continue;
    uint64_t used = 0;
    for (size_t s = 0; s + 1 < count; ++s) {
      if (id != kSize) return SevenZipStatus::kDamaged;  // sizes are needed to split a folder
      const uint64_t size = in.Number();
      if (size > streams.folder_sizes[f] - used) return SevenZipStatus::kDamaged;
      used += size;
      streams.substream_sizes.push_back(size);
    }
    streams.substream_sizes.push_back(streams.folder_sizes[f] - used);
  }
  if (id == kSize) id = in.Number();

  // CRCs listed here are those that the folder CRCs do not already give.
  size_t unknown = 0;
  for (size_t f = 0; f < folders; ++f) {
    const size_t count = streams.substream_counts[f];
    if (!(count == 1 && streams.folder_crc_defined[f])) unknown += count;
  }
  std::vector<bool> defined(unknown, false);
  std::vector<uint32_t> crcs(unknown, 0);
  for (; in.ok() && id != kEnd; id = in.Number()) {
    if (id != kCrc) return SevenZipStatus::kUnsupported;
    in.Digests(unknown, defined, crcs);
  }
  if (!in.ok()) return SevenZipStatus::kDamaged;
  size_t next = 0;
  for (size_t f = 0; f < folders; ++f) {
    const size_t count = streams.substream_counts[f];
    if (count == 1 && streams.folder_crc_defined[f]) {
      streams.substream_crc_defined.push_back(true);
      streams.substream_crcs.push_back(streams.folder_crcs[f]);
      continue;
    }
    for (size_t s = 0; s < count; ++s, ++next) {
      streams.substream_crc_defined.push_back(defined[next]);
      streams.substream_crcs.push_back(crcs[next]);
    }
  }
  return SevenZipStatus::kOk;
}

SevenZipStatus ReadStreamsInfo(HeaderCursor& in, Streams& streams) {
  uint64_t id = in.Number();
  if (id == kPackInfo) {
    const SevenZipStatus status = ReadPackInfo(in, streams);
    if (status != SevenZipStatus::kOk) return status;
    id = in.Number();
  }
  if (id == kUnpackInfo) {
    const SevenZipStatus status = ReadUnpackInfo(in, streams);
    if (status != SevenZipStatus::kOk) return status;
    id = in.Number();
  }
  bool have_substreams = false;
  if (id == kSubStreamsInfo) {
    const SevenZipStatus status = ReadSubStreamsInfo(in, streams);
    if (status != SevenZipStatus::kOk) return status;
    have_substreams = true;
    id = in.Number();
  }
  if (!in.ok() || id != kEnd) return SevenZipStatus::kDamaged;
  if (!have_substreams) {
    // Without substream information each folder holds one file.
    streams.substream_counts.assign(streams.folder_sizes.size(), 1);
    streams.substream_sizes = streams.folder_sizes;
    streams.substream_crc_defined = streams.folder_crc_defined;
    streams.substream_crcs = streams.folder_crcs;
  }
  return SevenZipStatus::kOk;
}

SevenZipStatus ReadNames(HeaderCursor& in, uint64_t size, std::vector<FileRecord>& files) {
  if (size == 0 || size > in.remaining()) return SevenZipStatus::kDamaged;
  if (in.Byte() != 0) return SevenZipStatus::kUnsupported;  // names kept outside the header
  const unsigned char* p = in.position();
  const unsigned char* const end = p + (size - 1);
  for (FileRecord& file : files) {
    for (;;) {
      if (end - p < 2) return SevenZipStatus::kDamaged;
      const wchar_t unit = static_cast<wchar_t>(p[0] | (p[1] << 8));
      p += 2;
      if (unit == 0) break;
      file.name.push_back(unit);
    }
  }
  if (p != end) return SevenZipStatus::kDamaged;
  in.Skip(size - 1);
  return SevenZipStatus::kOk;
}

SevenZipStatus ReadFilesInfo(HeaderCursor& in, std::vector<FileRecord>& files) {
  files.assign(in.Count(), FileRecord());
  std::vector<bool> empty_stream(files.size(), false);
  std::vector<bool> empty_file;
  bool named = false;
  for (uint64_t id = in.Number(); in.ok() && id != kEnd; id = in.Number()) {
    const uint64_t size = in.Number();
    if (!in.ok() || size > in.remaining()) return SevenZipStatus::kDamaged;
    const size_t property_end = in.remaining() - static_cast<size_t>(size);
    size_t empty_count = 0;
    for (bool e : empty_stream) empty_count += e ? 1 : 0;
    if (id == kEmptyStream) {
      empty_stream = in.Bits(files.size());
    } else if (id == kEmptyFile) {
      empty_file = in.Bits(empty_count);
    } else if (id == kAnti) {
      return SevenZipStatus::kUnsupported;  // deletions for an update of an archive
    } else if (id == kNames) {
      const SevenZipStatus status = ReadNames(in, size, files);
      if (status != SevenZipStatus::kOk) return status;
      named = true;
    } else {
      in.Skip(size);  // times, attributes, padding: nothing the installation needs
    }
    if (!in.ok() || in.remaining() < property_end) return SevenZipStatus::kDamaged;
    in.Skip(in.remaining() - property_end);
  }
  if (!in.ok() || (!named && !files.empty())) return SevenZipStatus::kDamaged;
  size_t empty_index = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    files[i].empty_stream = empty_stream[i];
    if (empty_stream[i]) {
      files[i].empty_file = empty_index < empty_file.size() && empty_file[empty_index];
      ++empty_index;
    }
  }
  return SevenZipStatus::kOk;
}

// Lays the files over the substreams and checks that every byte they name lies in the file,
// before the header.
SevenZipStatus MapEntries(const Streams& streams, const std::vector<FileRecord>& files,
                          uint64_t data_end, std::vector<SevenZipEntry>& entries) {
  const size_t folders = streams.folder_sizes.size();
  if (streams.pack_sizes.size() != folders) return SevenZipStatus::kDamaged;
  std::vector<uint64_t> substream_offsets;
  uint64_t pack_offset = kSignatureHeaderSize;
  if (streams.pack_position > data_end - pack_offset) return SevenZipStatus::kDamaged;
  pack_offset += streams.pack_position;
  for (size_t f = 0; f < folders; ++f) {
    // Copy stores a folder's bytes unchanged: its packed and unpacked sizes are equal.
    if (streams.pack_sizes[f] != streams.folder_sizes[f]) return SevenZipStatus::kDamaged;
    if (streams.pack_sizes[f] > data_end - pack_offset) return SevenZipStatus::kDamaged;
    pack_offset += streams.pack_sizes[f];
  }
  pack_offset = kSignatureHeaderSize + streams.pack_position;
  size_t substream = 0;
  for (size_t f = 0; f < folders; ++f) {
    uint64_t at = pack_offset;
    for (size_t s = 0; s < streams.substream_counts[f]; ++s, ++substream) {
      substream_offsets.push_back(at);
      at += streams.substream_sizes[substream];
    }
    pack_offset += streams.pack_sizes[f];
  }

  entries.clear();
  size_t next = 0;
  for (const FileRecord& file : files) {
    SevenZipEntry entry;
    entry.name = file.name;
    for (wchar_t& unit : entry.name) {
      if (unit == L'/') unit = L'\\';
    }
    if (!IsSafeEntryName(entry.name)) return SevenZipStatus::kUnsafeName;
    if (file.empty_stream) {
      entry.is_directory = !file.empty_file;
    } else {
      if (next >= substream_offsets.size()) return SevenZipStatus::kDamaged;
      entry.offset = substream_offsets[next];
      entry.size = streams.substream_sizes[next];
      entry.has_crc = streams.substream_crc_defined[next];
      entry.crc = streams.substream_crcs[next];
      ++next;
    }
    entries.push_back(entry);
  }
  return next == substream_offsets.size() ? SevenZipStatus::kOk : SevenZipStatus::kDamaged;
}

struct OwnedHandle {
  HANDLE handle = INVALID_HANDLE_VALUE;
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE h) : handle(h) {}
  ~OwnedHandle() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
};

bool CreateDirectories(const std::wstring& directory, const std::wstring& relative) {
  std::wstring path = directory;
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find(L'\\', start);
    if (end == std::wstring::npos) end = relative.size();
    path += relative.substr(start, end - start);
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
    path += L'\\';
    start = end + 1;
  }
  return true;
}

SevenZipStatus ExtractFile(HANDLE archive, const SevenZipEntry& entry, const std::wstring& path) {
  OwnedHandle out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (out.handle == INVALID_HANDLE_VALUE) return SevenZipStatus::kWriteFailed;
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(entry.offset);
  if (!SetFilePointerEx(archive, position, nullptr, FILE_BEGIN)) return SevenZipStatus::kReadFailed;
  std::vector<unsigned char> buffer(1u << 16);
  uint32_t crc = 0;
  SevenZipStatus status = SevenZipStatus::kOk;
  for (uint64_t left = entry.size; left > 0 && status == SevenZipStatus::kOk;) {
    const DWORD chunk = static_cast<DWORD>(left < buffer.size() ? left : buffer.size());
    DWORD read = 0;
    DWORD written = 0;
    if (!ReadFile(archive, buffer.data(), chunk, &read, nullptr) || read != chunk) {
      status = SevenZipStatus::kReadFailed;
    } else if (!WriteFile(out.handle, buffer.data(), chunk, &written, nullptr) || written != chunk) {
      status = SevenZipStatus::kWriteFailed;
    } else {
      crc = Crc32(crc, buffer.data(), chunk);
      left -= chunk;
    }
  }
  if (status == SevenZipStatus::kOk && entry.has_crc && crc != entry.crc) {
    status = SevenZipStatus::kDamaged;
  }
  if (status != SevenZipStatus::kOk) {
    // A partial or wrong file must not stay where the application will look for it.
    CloseHandle(out.handle);
    out.handle = INVALID_HANDLE_VALUE;
    DeleteFileW(path.c_str());
  }
  return status;
}

}  // namespace

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= p[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

bool IsSafeEntryName(const std::wstring& name) {
  if (name.empty()) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find(L'\\', start);
    if (end == std::wstring::npos) end = name.size();
    const std::wstring part = name.substr(start, end - start);
    if (part.empty() || part == L"." || part == L"..") return false;
    for (wchar_t unit : part) {
      if (unit < 0x20 || std::wcschr(L"<>:\"|?*", unit) != nullptr) return false;
    }
    // Windows drops trailing dots and spaces, which would turn "..." or "a." into another name.
    if (part.back() == L'.' || part.back() == L' ') return false;
    start = end + 1;
  }
  return true;
}

SevenZipStatus ReadSevenZip(HANDLE archive, std::vector<SevenZipEntry>& entries) {
  entries.clear();
  LARGE_INTEGER file_size;
  if (!GetFileSizeEx(archive, &file_size)) return SevenZipStatus::kReadFailed;
  const uint64_t size = static_cast<uint64_t>(file_size.QuadPart);
  unsigned char start[kSignatureHeaderSize];
  if (size < kSignatureHeaderSize) return SevenZipStatus::kNotSevenZip;
  if (!ReadAt(archive, 0, start, sizeof(start))) return SevenZipStatus::kReadFailed;
  if (std::memcmp(start, kSignature, sizeof(kSignature)) != 0) return SevenZipStatus::kNotSevenZip;
  if (start[6] != 0) return SevenZipStatus::kUnsupported;  // a major version we do not know
  if (Crc32(0, start + 12, 20) != ReadLe32(start + 8)) return SevenZipStatus::kDamaged;
  const uint64_t header_offset = ReadLe64(start + 12);
  const uint64_t header_size = ReadLe64(start + 20);
  const uint32_t header_crc = ReadLe32(start + 28);
  const uint64_t room = size - kSignatureHeaderSize;
  if (header_offset > room || header_size > room - header_offset) return SevenZipStatus::kDamaged;
  if (header_size == 0) return SevenZipStatus::kOk;  // an archive without entries
  if (header_size > kMaxHeaderSize) return SevenZipStatus::kUnsupported;
  std::vector<unsigned char> header(static_cast<size_t>(header_size));
  const uint64_t data_end = kSignatureHeaderSize + header_offset;
  if (!ReadAt(archive, data_end, header.data(), static_cast<DWORD>(header.size()))) {
    return SevenZipStatus::kReadFailed;
  }
  if (Crc32(0, header.data(), header.size()) != header_crc) return SevenZipStatus::kDamaged;

  HeaderCursor in(header.data(), header.size());
  const uint64_t first = in.Number();
  if (first == kEncodedHeader) return SevenZipStatus::kUnsupported;  // compressed header
  if (first != kHeader) return SevenZipStatus::kDamaged;
  uint64_t id = in.Number();
  if (id == kArchiveProperties || id == kAdditionalStreamsInfo) return SevenZipStatus::kUnsupported;
  Streams streams;
  if (id == kMainStreamsInfo) {
    const SevenZipStatus status = ReadStreamsInfo(in, streams);
    if (status != SevenZipStatus::kOk) return status;
    id = in.Number();
  }
  std::vector<FileRecord> files;
  if (id == kFilesInfo) {
    const SevenZipStatus status = ReadFilesInfo(in, files);
    if (status != SevenZipStatus::kOk) return status;
    id = in.Number();
  }
  if (!in.ok() || id != kEnd) return SevenZipStatus::kDamaged;
  return MapEntries(streams, files, data_end, entries);
}

SevenZipStatus ReadEntryBytes(HANDLE archive, const SevenZipEntry& entry, size_t max_size,
                              std::string& bytes) {
  bytes.clear();
  if (entry.is_directory || entry.size > max_size) return SevenZipStatus::kUnsupported;
  bytes.resize(static_cast<size_t>(entry.size));
  if (!bytes.empty() &&
      !ReadAt(archive, entry.offset, &bytes[0], static_cast<DWORD>(bytes.size()))) {
    return SevenZipStatus::kReadFailed;
  }
  if (entry.has_crc && Crc32(0, bytes.data(), bytes.size()) != entry.crc) {
    return SevenZipStatus::kDamaged;
  }
  return SevenZipStatus::kOk;
}

SevenZipStatus ExtractSevenZip(HANDLE archive, const std::vector<SevenZipEntry>& entries,
                               const std::wstring& directory) {
  for (const SevenZipEntry& entry : entries) {
    const size_t slash = entry.name.rfind(L'\\');
    const std::wstring parent = entry.is_directory ? entry.name
                                : slash == std::wstring::npos ? std::wstring()
                                                              : entry.name.substr(0, slash);
    if (!CreateDirectories(directory, parent)) return SevenZipStatus::kWriteFailed;
    if (entry.is_directory) continue;
    const SevenZipStatus status = ExtractFile(archive, entry, directory + entry.name);
    if (status != SevenZipStatus::kOk) return status;
  }
  return SevenZipStatus::kOk;
}
