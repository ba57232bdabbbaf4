// The 7z layout read here, from 7-Zip's format description (7zFormat.txt):
//
//   start header (32 bytes): '7' 'z' BC AF 27 1C, version (major 0), CRC of the next 20 bytes,
//   header offset (from the end of the start header), header size, header CRC
//   packed streams: the stored bytes of the files
//   header: kHeader, [kMainStreamsInfo: PackInfo, UnpackInfo (folders), SubStreamsInfo],
//           [kFilesInfo: empty-stream bits, empty-file bits, names, times, attributes], kEnd
//
// With the Copy coder a folder's unpacked bytes are its one packed stream, so a file's data lies
// in the archive file itself and can be copied out directly; and every CRC the header gives for a
// stream, a folder or a file is a CRC of bytes in the file. Numbers in the header use 7z's
// variable-length encoding: the count of leading one bits of the first byte is the count of
// little-endian bytes that follow.
//
// Every loop below either consumes header bytes on each turn or runs over items whose count was
// checked against the bytes they take, so a header of n bytes costs O(n) work and memory.
#include "seven_zip_parser.h"

#include <cstring>

#include "crc32.h"
#include "safe_entry_name.h"

namespace {

constexpr unsigned char kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};

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
  // A count of items that the header must still spell out in at least bytes_each bytes apiece. A
  // larger count cannot be honest, and must neither size an allocation nor drive a loop.
  size_t Count(size_t bytes_each) {
    const uint64_t count = Number();
    if (count > remaining() / bytes_each) Fail();
    return ok_ ? static_cast<size_t>(count) : 0;
  }
  void Skip(uint64_t size) {
    if (size > remaining()) {
      Fail();
      return;
    }
    data_ += size;
  }
  // One bit per item, first item in the high bit; count is of items already known to exist.
  void Bits(size_t count, std::vector<bool>& bits) {
    bits.clear();
    if (count / 8 + (count % 8 != 0 ? 1 : 0) > remaining()) {
      Fail();
      return;
    }
    bits.resize(count, false);
    unsigned char byte = 0;
    for (size_t i = 0; i < count; ++i) {
      if (i % 8 == 0) byte = Byte();
      bits[i] = (byte & (0x80 >> (i % 8))) != 0;
    }
  }
  // "All defined" byte, else a bit per item; then a CRC of 4 bytes per defined item.
  void Digests(size_t count, std::vector<bool>& defined, std::vector<uint32_t>& crcs) {
    crcs.clear();
    size_t given = count;
    if (Byte() != 0) {
      defined.assign(count, true);
    } else {
      Bits(count, defined);
      given = 0;
      for (bool bit : defined) given += bit ? 1 : 0;
    }
    if (!ok_ || given > remaining() / 4) {
      Fail();
      return;
    }
    crcs.resize(count, 0);
    for (size_t i = 0; i < count; ++i) {
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
  std::vector<bool> pack_crc_defined;
  std::vector<uint32_t> pack_crcs;
  std::vector<uint64_t> folder_sizes;
  std::vector<bool> folder_crc_defined;
  std::vector<uint32_t> folder_crcs;
  std::vector<uint64_t> substream_counts;  // per folder
  std::vector<uint64_t> substream_sizes;   // all folders' substreams in order
  std::vector<bool> substream_crc_defined;
  std::vector<uint32_t> substream_crcs;
};

struct FilesInfo {
  size_t count = 0;
  std::vector<bool> empty_stream;  // per file; none given: every file has a stream
  std::vector<bool> empty_file;    // per empty-stream file; none given: all are directories
  const unsigned char* names = nullptr;  // count UTF-16LE names, each terminated, checked
};

SevenZipStatus Fault(const HeaderCursor& in, SevenZipStatus otherwise) {
  return in.ok() ? otherwise : SevenZipStatus::kDamaged;
}

SevenZipStatus ReadPackInfo(HeaderCursor& in, Streams& streams) {
  streams.pack_position = in.Number();
  const size_t count = in.Count(1);  // each stream's size follows, one byte at least
  bool have_sizes = false;
  bool have_crcs = false;
  for (uint64_t id = in.Number(); in.ok() && id != kEnd; id = in.Number()) {
    if (id == kSize && !have_sizes) {
      for (size_t i = 0; i < count && in.ok(); ++i) streams.pack_sizes.push_back(in.Number());
      have_sizes = true;
    } else if (id == kCrc && !have_crcs) {
      in.Digests(count, streams.pack_crc_defined, streams.pack_crcs);
      have_crcs = true;
    } else if (id == kSize || id == kCrc) {
      return SevenZipStatus::kDamaged;  // given twice
    } else {
      return SevenZipStatus::kUnsupported;
    }
  }
  if (!in.ok() || (count > 0 && !have_sizes)) return SevenZipStatus::kDamaged;
  if (!have_crcs) {
    streams.pack_crc_defined.assign(count, false);
    streams.pack_crcs.assign(count, 0);
  }
  return SevenZipStatus::kOk;
}

// One folder: exactly one simple coder whose method id is the single byte 00, Copy.
SevenZipStatus ReadFolder(HeaderCursor& in) {
  if (in.Number() != 1) return Fault(in, SevenZipStatus::kUnsupported);
  const unsigned char flags = in.Byte();
  const unsigned id_size = flags & 0x0Fu;
  const bool complex = (flags & 0x10u) != 0;
  const bool has_properties = (flags & 0x20u) != 0;
  if (!in.ok()) return SevenZipStatus::kDamaged;
  if (complex || has_properties || (flags & 0xC0u) != 0 || id_size != 1) {
    return SevenZipStatus::kUnsupported;
  }
  if (in.Byte() != 0x00) return Fault(in, SevenZipStatus::kUnsupported);
  // One coder with one input and one output: no bind pairs and no packed-stream indices follow.
  return SevenZipStatus::kOk;
}

SevenZipStatus ReadUnpackInfo(HeaderCursor& in, Streams& streams) {
  if (in.Number() != kFolder) return SevenZipStatus::kDamaged;
  // A folder takes its coder (three bytes) and, further on, its size (one byte at least).
  const size_t folders = in.Count(4);
  if (in.Byte() != 0) return Fault(in, SevenZipStatus::kUnsupported);  // folders kept elsewhere
  for (size_t i = 0; i < folders && in.ok(); ++i) {
    const SevenZipStatus status = ReadFolder(in);
    if (status != SevenZipStatus::kOk) return status;
  }
  if (in.Number() != kCodersUnpackSize) return SevenZipStatus::kDamaged;
  for (size_t i = 0; i < folders && in.ok(); ++i) streams.folder_sizes.push_back(in.Number());
  bool have_crcs = false;
  for (uint64_t id = in.Number(); in.ok() && id != kEnd; id = in.Number()) {
    if (id != kCrc) return SevenZipStatus::kUnsupported;
    if (have_crcs) return SevenZipStatus::kDamaged;
    in.Digests(folders, streams.folder_crc_defined, streams.folder_crcs);
    have_crcs = true;
  }
  if (!in.ok()) return SevenZipStatus::kDamaged;
  if (!have_crcs) {
    streams.folder_crc_defined.assign(folders, false);
    streams.folder_crcs.assign(folders, 0);
  }
  return SevenZipStatus::kOk;
}

SevenZipStatus ReadSubStreamsInfo(HeaderCursor& in, Streams& streams) {
  const size_t folders = streams.folder_sizes.size();
  streams.substream_counts.assign(folders, 1);
  uint64_t id = in.Number();
  if (id == kNumUnpackStream) {
    for (size_t f = 0; f < folders && in.ok(); ++f) {
      const uint64_t count = in.Number();
      // Each stream after a folder's first has its size spelled out below.
      if (count > 1 && count - 1 > in.remaining()) return SevenZipStatus::kDamaged;
      streams.substream_counts[f] = count;
    }
    id = in.Number();
  }
  // Every size read here takes a byte, so the streams together number at most the folders plus
  // the header's bytes.
  for (size_t f = 0; f < folders && in.ok(); ++f) {
    const uint64_t count = streams.substream_counts[f];
    if (count == 0) continue;
    uint64_t used = 0;
    for (uint64_t s = 1; s < count; ++s) {
      if (id != kSize) return SevenZipStatus::kDamaged;  // sizes are needed to split a folder
      const uint64_t size = in.Number();
      if (!in.ok() || size > streams.folder_sizes[f] - used) return SevenZipStatus::kDamaged;
      used += size;
      streams.substream_sizes.push_back(size);
    }
    streams.substream_sizes.push_back(streams.folder_sizes[f] - used);
  }
  if (id == kSize) id = in.Number();

  // CRCs listed here are those that the folder CRCs do not already give.
  size_t unknown = 0;
  for (size_t f = 0; f < folders; ++f) {
    const uint64_t count = streams.substream_counts[f];
    if (!(count == 1 && streams.folder_crc_defined[f])) unknown += static_cast<size_t>(count);
  }
  std::vector<bool> defined;
  std::vector<uint32_t> crcs;
  bool have_crcs = false;
  for (; in.ok() && id != kEnd; id = in.Number()) {
    if (id != kCrc) return SevenZipStatus::kUnsupported;
    if (have_crcs) return SevenZipStatus::kDamaged;
    in.Digests(unknown, defined, crcs);
    have_crcs = true;
  }
  if (!in.ok()) return SevenZipStatus::kDamaged;
  if (!have_crcs) {
    defined.assign(unknown, false);
    crcs.assign(unknown, 0);
  }
  size_t next = 0;
  for (size_t f = 0; f < folders; ++f) {
    const uint64_t count = streams.substream_counts[f];
    if (count == 1 && streams.folder_crc_defined[f]) {
      streams.substream_crc_defined.push_back(true);
      streams.substream_crcs.push_back(streams.folder_crcs[f]);
      continue;
    }
    for (uint64_t s = 0; s < count; ++s, ++next) {
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

// Checks that the property holds exactly files.count terminated names and remembers where.
SevenZipStatus ReadNames(HeaderCursor& in, uint64_t size, FilesInfo& files) {
  if (size == 0) return SevenZipStatus::kDamaged;
  if (in.Byte() != 0) return Fault(in, SevenZipStatus::kUnsupported);  // names kept elsewhere
  const size_t bytes = static_cast<size_t>(size - 1);  // the caller checked size against the header
  if (bytes % 2 != 0) return SevenZipStatus::kDamaged;
  const unsigned char* const names = in.position();
  size_t terminators = 0;
  for (size_t i = 0; i < bytes; i += 2) {
    if (names[i] == 0 && names[i + 1] == 0) ++terminators;
  }
  const bool ends_terminated = bytes == 0 || (names[bytes - 2] == 0 && names[bytes - 1] == 0);
  if (terminators != files.count || !ends_terminated) return SevenZipStatus::kDamaged;
  files.names = names;
  in.Skip(bytes);
  return SevenZipStatus::kOk;
}

SevenZipStatus ReadFilesInfo(HeaderCursor& in, FilesInfo& files) {
  files.count = in.Count(2);  // every file's name takes its terminator at least
  size_t empty_streams = 0;
  bool have_empty_streams = false;
  bool have_empty_files = false;
  bool named = false;
  // Each turn consumes an id and a size at least.
  for (uint64_t id = in.Number(); in.ok() && id != kEnd; id = in.Number()) {
    const uint64_t size = in.Number();
    if (!in.ok() || size > in.remaining()) return SevenZipStatus::kDamaged;
    const size_t property_end = in.remaining() - static_cast<size_t>(size);
    if (id == kEmptyStream) {
      if (have_empty_streams) return SevenZipStatus::kDamaged;
      in.Bits(files.count, files.empty_stream);
      for (bool empty : files.empty_stream) empty_streams += empty ? 1 : 0;
      have_empty_streams = true;
    } else if (id == kEmptyFile) {
      // Its bits are per empty-stream file, so that list must come first.
      if (have_empty_files || !have_empty_streams) return SevenZipStatus::kDamaged;
      in.Bits(empty_streams, files.empty_file);
      have_empty_files = true;
    } else if (id == kAnti) {
      return SevenZipStatus::kUnsupported;  // deletions for an update of an archive
    } else if (id == kNames) {
      if (named) return SevenZipStatus::kDamaged;
      const SevenZipStatus status = ReadNames(in, size, files);
      if (status != SevenZipStatus::kOk) return status;
      named = true;
    } else {
      in.Skip(size);  // times, attributes, padding: nothing the installation needs
    }
    if (!in.ok() || in.remaining() < property_end) return SevenZipStatus::kDamaged;
    in.Skip(in.remaining() - property_end);
  }
  if (!in.ok() || (!named && files.count > 0)) return SevenZipStatus::kDamaged;
  return SevenZipStatus::kOk;
}

// The name that starts at p, with '/' turned into '\'; returns where the next one starts.
const unsigned char* TakeName(const unsigned char* p, std::u16string& name) {
  name.clear();
  for (;; p += 2) {
    const char16_t unit = static_cast<char16_t>(p[0] | (p[1] << 8));
    if (unit == 0) return p + 2;
    name.push_back(unit == u'/' ? u'\\' : unit);
  }
}

// Places the folders in the file, checks that every byte they name lies between the start header
// and the header, and reconciles the CRCs that cover the same bytes.
SevenZipStatus MapFolders(const Streams& streams, uint64_t data_end, SevenZipListing& listing) {
  const size_t folders = streams.folder_sizes.size();
  if (streams.pack_sizes.size() != folders) return SevenZipStatus::kDamaged;
  if (data_end < kSevenZipStartHeaderSize ||
      streams.pack_position > data_end - kSevenZipStartHeaderSize) {
    return SevenZipStatus::kDamaged;
  }
  uint64_t offset = kSevenZipStartHeaderSize + streams.pack_position;
  listing.folders.reserve(folders);
  for (size_t f = 0; f < folders; ++f) {
    // Copy stores a folder's bytes unchanged: its packed and unpacked sizes are equal, and so are
    // the packed stream's CRC and the folder's where both are given.
    if (streams.pack_sizes[f] != streams.folder_sizes[f]) return SevenZipStatus::kDamaged;
    if (streams.pack_sizes[f] > data_end - offset) return SevenZipStatus::kDamaged;
    SevenZipFolder folder;
    folder.offset = offset;
    folder.size = streams.pack_sizes[f];
    if (streams.pack_crc_defined[f] && streams.folder_crc_defined[f] &&
        streams.pack_crcs[f] != streams.folder_crcs[f]) {
      return SevenZipStatus::kDamaged;
    }
    if (streams.substream_counts[f] > 1) {
      folder.has_crc = streams.pack_crc_defined[f] || streams.folder_crc_defined[f];
      folder.crc = streams.pack_crc_defined[f] ? streams.pack_crcs[f] : streams.folder_crcs[f];
    }
    listing.folders.push_back(folder);
    offset += folder.size;
  }
  return SevenZipStatus::kOk;
}

SevenZipStatus MapEntries(const Streams& streams, const FilesInfo& files,
                          SevenZipListing& listing) {
  // Every name is judged before any entry is made, so that a header of many short hostile names
  // costs no memory for entries.
  std::u16string name;
  const unsigned char* p = files.names;
  for (size_t i = 0; i < files.count; ++i) {
    p = TakeName(p, name);
    if (!IsSafeEntryName(name)) return SevenZipStatus::kUnsafeName;
  }

  listing.entries.reserve(files.count);
  p = files.names;
  size_t empty_index = 0;
  size_t substream = 0;
  size_t folder = 0;
  uint64_t in_folder = 0;  // substreams of this folder already given out
  uint64_t at = 0;         // where the next substream starts
  for (size_t i = 0; i < files.count; ++i) {
    SevenZipEntry entry;
    p = TakeName(p, entry.name);
    if (!files.empty_stream.empty() && files.empty_stream[i]) {
      entry.is_directory = !(empty_index < files.empty_file.size() && files.empty_file[empty_index]);
      ++empty_index;
    } else {
      while (folder < listing.folders.size() && in_folder == streams.substream_counts[folder]) {
        ++folder;
        in_folder = 0;
      }
      if (folder == listing.folders.size()) return SevenZipStatus::kDamaged;  // no data left
      if (in_folder == 0) at = listing.folders[folder].offset;
      entry.folder = folder;
      entry.offset = at;
      entry.size = streams.substream_sizes[substream];
      entry.has_crc = streams.substream_crc_defined[substream];
      entry.crc = streams.substream_crcs[substream];
      if (streams.substream_counts[folder] == 1 && streams.pack_crc_defined[folder]) {
        // The packed stream is this file's bytes: its CRC is the file's.
        if (entry.has_crc && entry.crc != streams.pack_crcs[folder]) return SevenZipStatus::kDamaged;
        entry.has_crc = true;
        entry.crc = streams.pack_crcs[folder];
      }
      at += entry.size;
      ++in_folder;
      ++substream;
    }
    listing.entries.push_back(std::move(entry));
  }
  // Streams that no file claims mean the header and the data disagree.
  return substream == streams.substream_sizes.size() ? SevenZipStatus::kOk
                                                     : SevenZipStatus::kDamaged;
}

uint64_t ReadLe64(const unsigned char* p) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

uint32_t ReadLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

SevenZipStatus ReadStartHeader(const unsigned char* start, uint64_t file_size,
                               SevenZipHeaderLocation& header) {
  header = SevenZipHeaderLocation();
  if (file_size < kSevenZipStartHeaderSize) return SevenZipStatus::kNotSevenZip;
  if (std::memcmp(start, kSignature, sizeof(kSignature)) != 0) return SevenZipStatus::kNotSevenZip;
  if (start[6] != 0) return SevenZipStatus::kUnsupported;  // a major version we do not know
  if (Crc32(0, start + 12, 20) != ReadLe32(start + 8)) return SevenZipStatus::kDamaged;
  const uint64_t offset = ReadLe64(start + 12);
  const uint64_t size = ReadLe64(start + 20);
  const uint64_t room = file_size - kSevenZipStartHeaderSize;
  if (offset > room || size > room - offset) return SevenZipStatus::kDamaged;
  if (size > kSevenZipMaxHeaderSize) return SevenZipStatus::kUnsupported;
  header.offset = kSevenZipStartHeaderSize + offset;
  header.size = size;
  header.crc = ReadLe32(start + 28);
  return SevenZipStatus::kOk;
}

SevenZipStatus ParseHeader(const unsigned char* header, size_t size, uint64_t data_end,
                           SevenZipListing& listing) {
  listing = SevenZipListing();
  if (size > kSevenZipMaxHeaderSize) return SevenZipStatus::kUnsupported;
  HeaderCursor in(header, size);
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
  FilesInfo files;
  if (id == kFilesInfo) {
    const SevenZipStatus status = ReadFilesInfo(in, files);
    if (status != SevenZipStatus::kOk) return status;
    id = in.Number();
  }
  if (!in.ok() || id != kEnd) return SevenZipStatus::kDamaged;
  SevenZipStatus status = MapFolders(streams, data_end, listing);
  if (status == SevenZipStatus::kOk) status = MapEntries(streams, files, listing);
  if (status != SevenZipStatus::kOk) listing = SevenZipListing();
  return status;
}
