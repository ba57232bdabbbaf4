#include "libmspack_expand.h"

#include <mspack.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// libmspack reads and writes through a table of file operations; these keep both files in
// memory. The cabinet is opened for reading, the expanded file for writing.
struct MemoryFile {
  const std::vector<uint8_t>* in;
  std::vector<uint8_t>* out;
  size_t at;
};

struct MemorySystem {
  mspack_system base;  // first, so that libmspack's pointer to it is one to the whole
  const std::vector<uint8_t>* cabinet;
  std::vector<uint8_t>* file;
};

mspack_file* Open(mspack_system* self, const char*, int mode) {
  MemorySystem* const system = reinterpret_cast<MemorySystem*>(self);
  MemoryFile* const f = new MemoryFile{system->cabinet, nullptr, 0};
  if (mode != MSPACK_SYS_OPEN_READ) {
    f->in = nullptr;
    f->out = system->file;
    f->out->clear();
  }
  return reinterpret_cast<mspack_file*>(f);
}

void Close(mspack_file* file) { delete reinterpret_cast<MemoryFile*>(file); }

int Read(mspack_file* file, void* buffer, int bytes) {
  MemoryFile* const f = reinterpret_cast<MemoryFile*>(file);
  if (f->in == nullptr || bytes < 0) return -1;
  const size_t count = std::min(static_cast<size_t>(bytes), f->in->size() - f->at);
  std::memcpy(buffer, f->in->data() + f->at, count);
  f->at += count;
  return static_cast<int>(count);
}

int Write(mspack_file* file, void* buffer, int bytes) {
  MemoryFile* const f = reinterpret_cast<MemoryFile*>(file);
  if (f->out == nullptr || bytes < 0) return -1;
  const uint8_t* const data = static_cast<const uint8_t*>(buffer);
  f->out->insert(f->out->end(), data, data + bytes);
  return bytes;
}

int Seek(mspack_file* file, off_t offset, int mode) {
  MemoryFile* const f = reinterpret_cast<MemoryFile*>(file);
  const size_t size = f->in != nullptr ? f->in->size() : f->out->size();
  const off_t base = mode == MSPACK_SYS_SEEK_START ? 0
                     : mode == MSPACK_SYS_SEEK_CUR ? static_cast<off_t>(f->at)
                                                   : static_cast<off_t>(size);
  if (base + offset < 0 || static_cast<size_t>(base + offset) > size) return -1;
  f->at = static_cast<size_t>(base + offset);
  return 0;
}

off_t Tell(mspack_file* file) { return static_cast<off_t>(reinterpret_cast<MemoryFile*>(file)->at); }

void Message(mspack_file*, const char*, ...) {}

void* Alloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }

void Free(void* pointer) { std::free(pointer); }

void Copy(void* from, void* to, size_t bytes) { std::memmove(to, from, bytes); }

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

bool ExpandWithLibmspack(const std::vector<uint8_t>& cabinet, std::vector<uint8_t>& file,
                         std::string& error) {
  MemorySystem system = {{Open, Close, Read, Write, Seek, Tell, Message, Alloc, Free, Copy, nullptr},
                         &cabinet,
                         &file};
  mscab_decompressor* const reader = mspack_create_cab_decompressor(&system.base);
  if (reader == nullptr) {
    error = "libmspack made no cabinet reader";
    return false;
  }
  bool expanded = false;
  mscabd_cabinet* const cab = reader->open(reader, "cabinet");
  if (cab == nullptr) {
    error = "libmspack cannot read the cabinet: error " + std::to_string(reader->last_error(reader));
  } else if (cab->files == nullptr) {
    error = "libmspack finds no file in the cabinet";
  } else {
    const int result = reader->extract(reader, cab->files, "file");
    expanded = result == MSPACK_ERR_OK;
    if (!expanded) error = "libmspack cannot expand the file: error " + std::to_string(result);
  }
  if (cab != nullptr) reader->close(reader, cab);
  mspack_destroy_cab_decompressor(reader);
  return expanded;
}

std::vector<uint8_t> CabinetOfFrames(const std::vector<lzx::Frame>& frames, size_t size,
                                     int window_bits) {
  std::vector<uint8_t> cab = {'M', 'S', 'C', 'F'};
  Put32(cab, 0);
  Put32(cab, 0);  // total size, below
  Put32(cab, 0);
  Put32(cab, 36 + 8);  // first file entry
  Put32(cab, 0);
  cab.push_back(3);
  cab.push_back(1);
  Put16(cab, 1);  // folders
  Put16(cab, 1);  // files
  Put16(cab, 0);
  Put16(cab, 0);
  Put16(cab, 0);
  Put32(cab, 36 + 8 + 16 + 2);  // the folder's first data block
  Put16(cab, static_cast<uint32_t>(frames.size()));
  Put16(cab, 3 | (window_bits << 8));
  Put32(cab, static_cast<uint32_t>(size));
  Put32(cab, 0);
  Put16(cab, 0);
  Put16(cab, 0x5B8E);
  Put16(cab, 0);
  Put16(cab, 0x20);
  cab.push_back('f');
  cab.push_back(0);
  for (const lzx::Frame& frame : frames) {
    Put32(cab, 0);
    Put16(cab, static_cast<uint32_t>(frame.bytes.size()));
    Put16(cab, frame.expanded);
    cab.insert(cab.end(), frame.bytes.begin(), frame.bytes.end());
  }
  const uint32_t total = static_cast<uint32_t>(cab.size());
  for (int b = 0; b < 4; ++b) cab[8 + b] = static_cast<uint8_t>(total >> (8 * b));
  return cab;
}

