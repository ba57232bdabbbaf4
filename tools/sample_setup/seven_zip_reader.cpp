#include "seven_zip_reader.h"

#include <vector>

#include "base/owner.h"

namespace {

// Copies out in pieces of this size, so that a large entry never needs its size in memory.
constexpr DWORD kChunkSize = 1u << 16;

bool Seek(HANDLE file, uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != FALSE;
}

bool ReadAt(HANDLE file, uint64_t offset, void* buffer, DWORD size) {
  if (!Seek(file, offset)) return false;
  DWORD read = 0;
  // A short read is a failure: the header said these bytes exist.
  return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

// Streams size bytes from offset through the CRC, and into out unless it is null.
SevenZipStatus CopyRange(HANDLE archive, uint64_t offset, uint64_t size, HANDLE out,
                         uint32_t& crc) {
  crc = 0;
  if (!Seek(archive, offset)) return SevenZipStatus::kReadFailed;
  std::vector<unsigned char> buffer(kChunkSize);
  for (uint64_t left = size; left > 0;) {
    const DWORD chunk = static_cast<DWORD>(left < kChunkSize ? left : kChunkSize);
    DWORD read = 0;
    DWORD written = 0;
    if (!ReadFile(archive, buffer.data(), chunk, &read, nullptr) || read != chunk) {
      return SevenZipStatus::kReadFailed;
    }
    if (out != nullptr &&
        (!WriteFile(out, buffer.data(), chunk, &written, nullptr) || written != chunk)) {
      return SevenZipStatus::kWriteFailed;
    }
    crc = Crc32(crc, buffer.data(), chunk);
    left -= chunk;
  }
  return SevenZipStatus::kOk;
}

// A folder CRC that spans several files, checked before any of them is used.
SevenZipStatus VerifyFolder(HANDLE archive, const SevenZipListing& listing, size_t index) {
  if (index == kNoFolder || !listing.folders[index].has_crc) return SevenZipStatus::kOk;
  const SevenZipFolder& folder = listing.folders[index];
  uint32_t crc = 0;
  const SevenZipStatus status = CopyRange(archive, folder.offset, folder.size, nullptr, crc);
  if (status != SevenZipStatus::kOk) return status;
  return crc == folder.crc ? SevenZipStatus::kOk : SevenZipStatus::kDamaged;
}

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

// The file is written beside its place under a name of its own and moved there only once its
// CRC has passed, so that a damaged entry never replaces what an earlier installation left, and a
// partial or wrong file never stays where the application will look for it.
SevenZipStatus ExtractFile(HANDLE archive, const SevenZipEntry& entry,
                           const std::wstring& parent_directory, const std::wstring& path) {
  wchar_t temporary[MAX_PATH];
  if (GetTempFileNameW(parent_directory.c_str(), L"7z", 0, temporary) == 0) {
    return SevenZipStatus::kWriteFailed;
  }
  SevenZipStatus status = SevenZipStatus::kOk;
  {
    FileHandle out(CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    uint32_t crc = 0;
    if (!out.IsValid()) {
      status = SevenZipStatus::kWriteFailed;
    } else {
      status = CopyRange(archive, entry.offset, entry.size, out.Get(), crc);
    }
    if (status == SevenZipStatus::kOk && entry.has_crc && crc != entry.crc) {
      status = SevenZipStatus::kDamaged;
    }
  }
  if (status == SevenZipStatus::kOk &&
      !MoveFileExW(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    status = SevenZipStatus::kWriteFailed;
  }
  if (status != SevenZipStatus::kOk) DeleteFileW(temporary);
  return status;
}

}  // namespace

std::wstring WideName(const SevenZipEntry& entry) {
  return std::wstring(entry.name.begin(), entry.name.end());
}

SevenZipStatus ReadSevenZip(HANDLE archive, SevenZipListing& listing) {
  listing = SevenZipListing();
  LARGE_INTEGER file_size;
  if (!GetFileSizeEx(archive, &file_size)) return SevenZipStatus::kReadFailed;
  const uint64_t size = static_cast<uint64_t>(file_size.QuadPart);
  if (size < kSevenZipStartHeaderSize) return SevenZipStatus::kNotSevenZip;
  unsigned char start[kSevenZipStartHeaderSize];
  if (!ReadAt(archive, 0, start, sizeof(start))) return SevenZipStatus::kReadFailed;
  SevenZipHeaderLocation location;
  const SevenZipStatus status = ReadStartHeader(start, size, location);
  if (status != SevenZipStatus::kOk) return status;
  if (location.size == 0) return SevenZipStatus::kOk;  // an archive without entries
  std::vector<unsigned char> header(static_cast<size_t>(location.size));
  if (!ReadAt(archive, location.offset, header.data(), static_cast<DWORD>(header.size()))) {
    return SevenZipStatus::kReadFailed;
  }
  if (Crc32(0, header.data(), header.size()) != location.crc) return SevenZipStatus::kDamaged;
  return ParseHeader(header.data(), header.size(), location.offset, listing);
}

SevenZipStatus ReadEntryBytes(HANDLE archive, const SevenZipListing& listing,
                              const SevenZipEntry& entry, size_t max_size, std::string& bytes) {
  bytes.clear();
  if (entry.is_directory || entry.size > max_size) return SevenZipStatus::kUnsupported;
  const SevenZipStatus status = VerifyFolder(archive, listing, entry.folder);
  if (status != SevenZipStatus::kOk) return status;
  bytes.resize(static_cast<size_t>(entry.size));
  if (!bytes.empty() &&
      !ReadAt(archive, entry.offset, &bytes[0], static_cast<DWORD>(bytes.size()))) {
    bytes.clear();
    return SevenZipStatus::kReadFailed;
  }
  if (entry.has_crc && Crc32(0, bytes.data(), bytes.size()) != entry.crc) {
    bytes.clear();
    return SevenZipStatus::kDamaged;
  }
  return SevenZipStatus::kOk;
}

SevenZipStatus ExtractSevenZip(HANDLE archive, const SevenZipListing& listing,
                               const std::wstring& directory) {
  size_t verified = kNoFolder;
  for (const SevenZipEntry& entry : listing.entries) {
    const std::wstring name = WideName(entry);
    const size_t slash = name.rfind(L'\\');
    const std::wstring parent = entry.is_directory ? name
                                : slash == std::wstring::npos ? std::wstring()
                                                              : name.substr(0, slash);
    if (!CreateDirectories(directory, parent)) return SevenZipStatus::kWriteFailed;
    const std::wstring parent_directory = directory + parent;
    if (entry.is_directory) continue;
    // A folder's files follow each other, so checking it when its first file comes up suffices.
    if (entry.folder != verified) {
      const SevenZipStatus status = VerifyFolder(archive, listing, entry.folder);
      if (status != SevenZipStatus::kOk) return status;
      verified = entry.folder;
    }
    const SevenZipStatus status = ExtractFile(archive, entry, parent_directory, directory + name);
    if (status != SevenZipStatus::kOk) return status;
  }
  return SevenZipStatus::kOk;
}
