#include "cabinet/cabinet_expansion.h"

#include <mspack.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// libmspack reads and writes through a table of functions of the caller's: here the cabinet
// comes from the source and the expanded file goes into memory, so that no path is opened.
constexpr char kCabinetName[] = "cabinet";
constexpr char kExpandedName[] = "expanded";

struct Stream : mspack_file {
  const ByteSource* source = nullptr;  // null: the expanded file
  uint64_t position = 0;
  CabinetFacts* facts = nullptr;
  bool failed = false;
};

struct System : mspack_system {
  const ByteSource* cabinet = nullptr;
  CabinetFacts* facts = nullptr;
};

mspack_file* Open(mspack_system* self, const char* name, int mode) {
  System* system = static_cast<System*>(self);
  Stream* stream = new Stream();
  if (mode == MSPACK_SYS_OPEN_READ && std::strcmp(name, kCabinetName) == 0) {
    stream->source = system->cabinet;
  } else if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(name, kExpandedName) == 0) {
    stream->facts = system->facts;
  } else {
    delete stream;
    return nullptr;
  }
  return stream;
}

void Close(mspack_file* file) { delete static_cast<Stream*>(file); }

int Read(mspack_file* file, void* buffer, int bytes) {
  Stream* stream = static_cast<Stream*>(file);
  if (stream->source == nullptr || bytes < 0) return -1;
  const uint64_t size = stream->source->size();
  const uint64_t left = stream->position < size ? size - stream->position : 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(left, static_cast<uint64_t>(bytes)));
  std::string ignored;
  if (n != 0 && !stream->source->ReadAt(stream->position, buffer, n, ignored)) return -1;
  stream->position += n;
  return static_cast<int>(n);
}

int Write(mspack_file* file, void* buffer, int bytes) {
  Stream* stream = static_cast<Stream*>(file);
  if (stream->facts == nullptr || bytes < 0) return -1;
  CabinetFacts& facts = *stream->facts;
  const uint8_t* data = static_cast<const uint8_t*>(buffer);
  const uint64_t room =
      facts.first_file.size() < kKeptExpansion ? kKeptExpansion - facts.first_file.size() : 0;
  facts.first_file.insert(facts.first_file.end(), data,
                          data + std::min<uint64_t>(room, static_cast<uint64_t>(bytes)));
  facts.expanded_size += static_cast<uint64_t>(bytes);
  return bytes;
}

int Seek(mspack_file* file, off_t offset, int mode) {
  Stream* stream = static_cast<Stream*>(file);
  if (stream->source == nullptr) return -1;
  const int64_t size = static_cast<int64_t>(stream->source->size());
  int64_t base = 0;
  switch (mode) {
    case MSPACK_SYS_SEEK_START: base = 0; break;
    case MSPACK_SYS_SEEK_CUR: base = static_cast<int64_t>(stream->position); break;
    case MSPACK_SYS_SEEK_END: base = size; break;
    default: return -1;
  }
  const int64_t target = base + static_cast<int64_t>(offset);
  if (target < 0 || target > size) return -1;
  stream->position = static_cast<uint64_t>(target);
  return 0;
}

off_t Tell(mspack_file* file) { return static_cast<off_t>(static_cast<Stream*>(file)->position); }

void Message(mspack_file*, const char*, ...) {}

void* Alloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void Free(void* pointer) { std::free(pointer); }
void Copy(void* source, void* destination, size_t bytes) { std::memmove(destination, source, bytes); }

// The same words as the Windows build's, whatever libmspack's reason: the reader has already
// named what it can tell for itself (truncation, checksums), and both builds report alike.
constexpr char kNotWhole[] = "the cabinet library does not expand it whole";

struct DecompressorDeleter {
  void operator()(mscab_decompressor* d) const { mspack_destroy_cab_decompressor(d); }
};

}  // namespace

bool ExpandFirstFile(const ByteSource& cabinet, CabinetFacts& facts, std::string& failure) {
  System system;
  system.open = Open;
  system.close = Close;
  system.read = Read;
  system.write = Write;
  system.seek = Seek;
  system.tell = Tell;
  system.message = Message;
  system.alloc = Alloc;
  system.free = Free;
  system.copy = Copy;
  system.null_ptr = nullptr;
  system.cabinet = &cabinet;
  system.facts = &facts;
  std::unique_ptr<mscab_decompressor, DecompressorDeleter> decompressor(
      mspack_create_cab_decompressor(&system));
  if (decompressor == nullptr) {
    failure = "libmspack cannot start";
    return false;
  }
  mscabd_cabinet* cab = decompressor->open(decompressor.get(), kCabinetName);
  if (cab == nullptr) {
    failure = kNotWhole;
    return false;
  }
  // libmspack leaves out entries it cannot place in a folder; the stub's library meets the
  // entries in their stored order, so the first one must be the one the headers name.
  const mscabd_file* first = cab->files;
  bool same = first != nullptr && first->length == facts.first_file_size &&
              facts.first_file_name == first->filename;
  int error = MSPACK_ERR_OK;
  if (same) error = decompressor->extract(decompressor.get(), cab->files, kExpandedName);
  decompressor->close(decompressor.get(), cab);
  if (!same || error != MSPACK_ERR_OK) {
    failure = kNotWhole;
    return false;
  }
  return true;
}
