// The header read here, from 7-Zip's format description (7zFormat.txt):
//
//   kHeader, [kArchiveProperties], [kMainStreamsInfo: PackInfo (where the packed streams lie),
//   UnpackInfo (the folders: coders, bind pairs, packed streams, unpacked sizes, CRCs),
//   SubStreamsInfo (how a folder's bytes split into files, their CRCs)],
//   [kFilesInfo: empty-stream bits, empty-file bits, names, attributes, times], kEnd
//
// Every loop either consumes header bytes on each turn or runs over items whose count was checked
// against the bytes they take, so a header of n bytes costs O(n) work and memory.
#include "seven_zip/header_streams.h"

#include <algorithm>

#include "decode/folder_decoder.h"
#include "seven_zip/safe_entry_name.h"

using namespace seven_zip_header;

namespace {

// Coders and streams per folder: 7-Zip writes four coders at most (BCJ2 with three LZMAs).
constexpr uint64_t kMaxFolderStreams = 64;

struct FilesInfo {
  size_t count = 0;
  std::vector<bool> empty_stream;  // per file; none given: every file has a stream
  std::vector<bool> empty_file;    // per empty-stream file; none given: all are directories
  const unsigned char* names = nullptr;  // count UTF-16LE names, each terminated, checked
  std::vector<bool> attributes_defined;
  std::vector<uint32_t> attributes;
};

SevenZipStatus Fault(const HeaderCursor& in, SevenZipStatus otherwise) {
  return in.ok() ? otherwise : SevenZipStatus::kDamaged;
}

SevenZipStatus ReadPackInfo(HeaderCursor& in, HeaderStreams& streams) {
  streams.pack_position = in.Number();
  const size_t count = in.Count(1);  // each stream's size follows, one byte at least
  bool have_sizes = false;
  bool have_crcs = false;
  for (uint64_t id = in.Number(); in.ok() && id != kEnd; id = in.Number()) {
    if (id == kSize && !have_sizes) {
      for (size_t i = 0; i < count && in.ok(); ++i) streams.pack_sizes.push_back(in.Number());
      have_sizes = true;
    } else if (id == kCrc && !have_crcs) {
      std::vector<bool> defined;
      std::vector<uint32_t> crcs;
      in.Digests(count, defined, crcs);  // checked by nothing: each file's CRC is
      have_crcs = true;
    } else {
      return SevenZipStatus::kDamaged;
    }
  }
  if (!in.ok() || (count > 0 && !have_sizes)) return SevenZipStatus::kDamaged;
  return SevenZipStatus::kOk;
}

SevenZipStatus ReadFolder(HeaderCursor& in, SevenZipFolderCoding& folder) {
  const size_t coders = in.Count(2);  // flags and an id byte at least
  if (!in.ok() || coders == 0 || coders > kMaxFolderStreams) return SevenZipStatus::kDamaged;
  uint64_t ins = 0;
  uint64_t outs = 0;
  for (size_t c = 0; c < coders; ++c) {
    SevenZipCoder coder;
    const unsigned char flags = in.Byte();
    const unsigned id_size = flags & 0x0Fu;
    if (!in.ok()) return SevenZipStatus::kDamaged;
    // Alternative methods (0x80) were never written by 7-Zip; 0x40 is reserved.
    if ((flags & 0xC0u) != 0 || id_size > 8) return SevenZipStatus::kUnsupported;
    for (unsigned i = 0; i < id_size; ++i) coder.method = (coder.method << 8) | in.Byte();
    if ((flags & 0x10u) != 0) {
      const uint64_t coder_ins = in.Number();
      const uint64_t coder_outs = in.Number();
      if (coder_ins > kMaxFolderStreams || coder_outs > kMaxFolderStreams) {
        return SevenZipStatus::kDamaged;
      }
      coder.in_streams = static_cast<uint32_t>(coder_ins);
      coder.out_streams = static_cast<uint32_t>(coder_outs);
    }
    if ((flags & 0x20u) != 0) {
      const uint64_t size = in.Number();
      if (!in.ok() || size > in.remaining()) return SevenZipStatus::kDamaged;
      coder.properties.assign(in.position(), in.position() + size);
      in.Skip(size);
    }
    ins += coder.in_streams;
    outs += coder.out_streams;
    if (ins > kMaxFolderStreams || outs > kMaxFolderStreams) return SevenZipStatus::kDamaged;
    folder.coders.push_back(std::move(coder));
  }
  if (!in.ok() || outs == 0 || ins + 1 < outs) return SevenZipStatus::kDamaged;
  // Every output but the folder's feeds an input; the inputs left over read packed streams.
  const size_t bind_pair_count = static_cast<size_t>(outs) - 1;
  const size_t packed = static_cast<size_t>(ins) - bind_pair_count;
  std::vector<bool> fed(static_cast<size_t>(ins), false);
  for (size_t b = 0; b < bind_pair_count; ++b) {
    const uint64_t in_index = in.Number();
    const uint64_t out_index = in.Number();
    if (!in.ok() || in_index >= ins || out_index >= outs) return SevenZipStatus::kDamaged;
    SevenZipBindPair pair;
    pair.in_index = static_cast<uint32_t>(in_index);
    pair.out_index = static_cast<uint32_t>(out_index);
    folder.bind_pairs.push_back(pair);
    fed[static_cast<size_t>(in_index)] = true;
  }
  if (packed == 1) {
    // The one input that no bind pair feeds.
    const auto unfed = std::find(fed.begin(), fed.end(), false);
    if (unfed == fed.end()) return SevenZipStatus::kDamaged;
    folder.packed_streams.push_back(static_cast<uint32_t>(unfed - fed.begin()));
  } else {
    for (size_t p = 0; p < packed; ++p) {
      const uint64_t index = in.Number();
      if (index >= ins) return SevenZipStatus::kDamaged;
      folder.packed_streams.push_back(static_cast<uint32_t>(index));
    }
  }
  return in.ok() ? SevenZipStatus::kOk : SevenZipStatus::kDamaged;
}

SevenZipStatus ReadUnpackInfo(HeaderCursor& in, HeaderStreams& streams) {
  if (in.Number() != kFolder) return SevenZipStatus::kDamaged;
  // A folder takes its coder (three bytes) and, further on, its size (one byte at least).
  const size_t folders = in.Count(4);
  if (in.Byte() != 0) return Fault(in, SevenZipStatus::kUnsupported);  // folders kept elsewhere
  streams.folders.resize(folders);
  for (size_t i = 0; i < folders && in.ok(); ++i) {
    const SevenZipStatus status = ReadFolder(in, streams.folders[i]);
    if (status != SevenZipStatus::kOk) return status;
  }
  if (in.Number() != kCodersUnpackSize) return SevenZipStatus::kDamaged;
  for (size_t i = 0; i < folders && in.ok(); ++i) {
    SevenZipFolderCoding& folder = streams.folders[i];
    uint32_t outs = 0;
    for (const SevenZipCoder& coder : folder.coders) outs += coder.out_streams;
    for (uint32_t o = 0; o < outs; ++o) folder.unpack_sizes.push_back(in.Number());
    // A folder that is not one tree of streams is damaged; one with a coder the decoder does not
    // know is listed, and refused when it is decoded.
    if (in.ok() && CheckFolderCoding(folder) == DecodeStatus::kDamaged) {
      return SevenZipStatus::kDamaged;
    }
  }
  bool have_crcs = false;
  for (uint64_t id = in.Number(); in.ok() && id != kEnd; id = in.Number()) {
    if (id != kCrc || have_crcs) return SevenZipStatus::kDamaged;
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

SevenZipStatus ReadSubStreamsInfo(HeaderCursor& in, HeaderStreams& streams) {
  const size_t folders = streams.folders.size();
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
    const uint64_t folder_size = FolderUnpackSize(streams.folders[f]);
    uint64_t used = 0;
    for (uint64_t s = 1; s < count; ++s) {
      if (id != kSize) return SevenZipStatus::kDamaged;  // sizes are needed to split a folder
      const uint64_t size = in.Number();
      if (!in.ok() || size > folder_size - used) return SevenZipStatus::kDamaged;
      used += size;
      streams.substream_sizes.push_back(size);
    }
    streams.substream_sizes.push_back(folder_size - used);
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
    if (id != kCrc || have_crcs) return SevenZipStatus::kDamaged;
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

// "All defined" byte, else a bit per file; an "external" byte (0: here); 4 bytes per defined file.
SevenZipStatus ReadAttributes(HeaderCursor& in, FilesInfo& files) {
  const size_t count = files.count;
  size_t given = count;
  if (in.Byte() != 0) {
    files.attributes_defined.assign(count, true);
  } else {
    in.Bits(count, files.attributes_defined);
    given = 0;
    for (bool bit : files.attributes_defined) given += bit ? 1 : 0;
  }
  if (in.Byte() != 0) return Fault(in, SevenZipStatus::kUnsupported);  // attributes kept elsewhere
  if (!in.ok() || given > in.remaining() / 4) return SevenZipStatus::kDamaged;
  files.attributes.assign(count, 0);
  for (size_t i = 0; i < count; ++i) {
    if (files.attributes_defined[i]) files.attributes[i] = in.Uint32();
  }
  return in.ok() ? SevenZipStatus::kOk : SevenZipStatus::kDamaged;
}

SevenZipStatus ReadFilesInfo(HeaderCursor& in, FilesInfo& files) {
  files.count = in.Count(2);  // every file's name takes its terminator at least
  if (!in.ok()) return SevenZipStatus::kDamaged;
  if (files.count > kSevenZipMaxFiles) return SevenZipStatus::kUnsupported;
  size_t empty_streams = 0;
  bool have_empty_streams = false;
  bool have_empty_files = false;
  bool named = false;
  bool have_attributes = false;
  // Each turn consumes an id and a size at least.
  for (uint64_t id = in.Number(); in.ok() && id != kEnd; id = in.Number()) {
    const uint64_t size = in.Number();
    if (!in.ok() || size > in.remaining()) return SevenZipStatus::kDamaged;
    const size_t property_end = in.remaining() - static_cast<size_t>(size);
    SevenZipStatus status = SevenZipStatus::kOk;
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
      status = ReadNames(in, size, files);
      named = true;
    } else if (id == kWinAttributes) {
      if (have_attributes) return SevenZipStatus::kDamaged;
      status = ReadAttributes(in, files);
      have_attributes = true;
    } else {
      in.Skip(size);  // times, padding: nothing the installation needs
    }
    if (status != SevenZipStatus::kOk) return status;
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

SevenZipStatus MapFiles(const HeaderStreams& streams, const FilesInfo& files,
                        SevenZipArchive& archive) {
  // Every name is judged before any file is made, so that a header of many short hostile names
  // costs no memory for files.
  std::u16string name;
  const unsigned char* p = files.names;
  for (size_t i = 0; i < files.count; ++i) {
    p = TakeName(p, name);
    if (!IsSafeEntryName(name)) return SevenZipStatus::kUnsafeName;
  }
  archive.files.reserve(files.count);
  p = files.names;
  size_t empty_index = 0;
  size_t substream = 0;
  size_t folder = 0;
  uint64_t in_folder = 0;  // substreams of this folder already given out
  for (size_t i = 0; i < files.count; ++i) {
    SevenZipFile file;
    p = TakeName(p, file.name);
    if (!files.attributes.empty() && files.attributes_defined[i]) {
      file.has_attributes = true;
      file.attributes = files.attributes[i];
    }
    if (!files.empty_stream.empty() && files.empty_stream[i]) {
      file.is_directory =
          !(empty_index < files.empty_file.size() && files.empty_file[empty_index]);
      ++empty_index;
    } else {
      while (folder < archive.folders.size() && in_folder == streams.substream_counts[folder]) {
        ++folder;
        in_folder = 0;
      }
      if (folder == archive.folders.size()) return SevenZipStatus::kDamaged;  // no data left
      if (in_folder == 0) archive.folders[folder].first_file = archive.files.size();
      file.folder = folder;
      file.size = streams.substream_sizes[substream];
      file.has_crc = streams.substream_crc_defined[substream];
      file.crc = streams.substream_crcs[substream];
      ++archive.folders[folder].file_count;
      ++in_folder;
      ++substream;
    }
    archive.files.push_back(std::move(file));
  }
  // Streams that no file claims mean the header and the data disagree.
  return substream == streams.substream_sizes.size() ? SevenZipStatus::kOk
                                                     : SevenZipStatus::kDamaged;
}

}  // namespace

SevenZipStatus ReadStreamsInfo(HeaderCursor& in, HeaderStreams& streams) {
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
    const size_t folders = streams.folders.size();
    streams.substream_counts.assign(folders, 1);
    for (const SevenZipFolderCoding& folder : streams.folders) {
      streams.substream_sizes.push_back(FolderUnpackSize(folder));
    }
    streams.substream_crc_defined = streams.folder_crc_defined;
    streams.substream_crcs = streams.folder_crcs;
  }
  return SevenZipStatus::kOk;
}

SevenZipStatus MapStreams(const HeaderStreams& streams, uint64_t header_offset,
                          SevenZipArchive& archive) {
  size_t packed = 0;
  for (const SevenZipFolderCoding& folder : streams.folders) packed += folder.packed_streams.size();
  if (packed != streams.pack_sizes.size()) return SevenZipStatus::kDamaged;
  if (header_offset < kSevenZipStartHeaderSize ||
      streams.pack_position > header_offset - kSevenZipStartHeaderSize) {
    return SevenZipStatus::kDamaged;
  }
  uint64_t offset = kSevenZipStartHeaderSize + streams.pack_position;
  for (uint64_t size : streams.pack_sizes) {
    if (size > header_offset - offset) return SevenZipStatus::kDamaged;
    archive.packed_offsets.push_back(offset);
    archive.packed_sizes.push_back(size);
    offset += size;
  }
  size_t first = 0;
  for (size_t f = 0; f < streams.folders.size(); ++f) {
    SevenZipFolder folder;
    folder.coding = streams.folders[f];
    folder.first_packed_stream = first;
    folder.has_crc = streams.folder_crc_defined[f];
    folder.crc = streams.folder_crcs[f];
    first += folder.coding.packed_streams.size();
    archive.folders.push_back(std::move(folder));
  }
  return SevenZipStatus::kOk;
}

SevenZipStatus ParseSevenZipHeader(const unsigned char* header, size_t size,
                                   uint64_t header_offset, SevenZipArchive& archive) {
  archive = SevenZipArchive();
  if (size > kSevenZipMaxHeaderSize) return SevenZipStatus::kUnsupported;
  HeaderCursor in(header, size);
  if (in.Number() != kHeader) return SevenZipStatus::kDamaged;
  uint64_t id = in.Number();
  if (id == kArchiveProperties) {
    // Properties of the whole archive that no installation needs: each a type and its bytes.
    for (uint64_t type = in.Number(); in.ok() && type != kEnd; type = in.Number()) {
      in.Skip(in.Number());
    }
    id = in.Number();
  }
  if (id == kAdditionalStreamsInfo) return Fault(in, SevenZipStatus::kUnsupported);
  HeaderStreams streams;
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
  SevenZipStatus status = MapStreams(streams, header_offset, archive);
  if (status == SevenZipStatus::kOk) status = MapFiles(streams, files, archive);
  if (status != SevenZipStatus::kOk) archive = SevenZipArchive();
  return status;
}
