#include "cabinet/cabinet_expansion.h"

#include <windows.h>
#include <fcntl.h>
#include <fdi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// The cabinet library hands its file callbacks nothing but the handle they returned, and opens
// the cabinet by a name. The one expansion running on this thread is kept here for the length of
// ExpandFirstFile; the name given to FDICopy is only what the open callback recognises, and no
// file of that name is ever opened.
constexpr char kCabinetName[] = "cabinet";

struct Stream {
  const ByteSource* source = nullptr;  // null: the expanded file
  uint64_t position = 0;
};

struct Expansion {
  const ByteSource* cabinet = nullptr;
  CabinetFacts* facts = nullptr;
  Stream expanded;
  bool started = false;
  uint64_t announced = 0;  // the first file's size, as the copy notification gave it
  bool completed = false;
  bool continued = false;  // the first file continues from a previous cabinet
};

thread_local Expansion* current = nullptr;

FNALLOC(Alloc) { return std::malloc(cb); }
FNFREE(Free) { std::free(pv); }

FNOPEN(Open) {
  (void)oflag;
  (void)pmode;
  if (current == nullptr || std::strcmp(pszFile, kCabinetName) != 0) return -1;
  Stream* stream = new Stream();
  stream->source = current->cabinet;
  return reinterpret_cast<INT_PTR>(stream);
}

FNREAD(Read) {
  Stream* stream = reinterpret_cast<Stream*>(hf);
  if (stream->source == nullptr) return static_cast<UINT>(-1);
  const uint64_t size = stream->source->size();
  const uint64_t left = stream->position < size ? size - stream->position : 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(left, cb));
  std::string ignored;
  if (n != 0 && !stream->source->ReadAt(stream->position, pv, n, ignored)) {
    return static_cast<UINT>(-1);
  }
  stream->position += n;
  return static_cast<UINT>(n);
}

FNWRITE(Write) {
  Stream* stream = reinterpret_cast<Stream*>(hf);
  if (stream->source != nullptr || current == nullptr) return static_cast<UINT>(-1);
  CabinetFacts& facts = *current->facts;
  const uint8_t* data = static_cast<const uint8_t*>(pv);
  const uint64_t room =
      facts.first_file.size() < kKeptExpansion ? kKeptExpansion - facts.first_file.size() : 0;
  facts.first_file.insert(facts.first_file.end(), data, data + std::min<uint64_t>(room, cb));
  facts.expanded_size += cb;
  return cb;
}

FNCLOSE(Close) {
  Stream* stream = reinterpret_cast<Stream*>(hf);
  if (stream->source != nullptr) delete stream;
  return 0;
}

FNSEEK(Seek) {
  Stream* stream = reinterpret_cast<Stream*>(hf);
  if (stream->source == nullptr) return -1;
  const int64_t size = static_cast<int64_t>(stream->source->size());
  int64_t base = 0;
  switch (seektype) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<int64_t>(stream->position); break;
    case SEEK_END: base = size; break;
    default: return -1;
  }
  const int64_t target = base + dist;
  if (target < 0 || target > size) return -1;
  stream->position = static_cast<uint64_t>(target);
  return static_cast<__LONG32>(target);
}

// As the stub answers: the first file is written, a file continued from another cabinet and a
// request for the next cabinet end the copy, and so does the first file's end. A library may
// report the end of the file even when decoding it failed part way (Wine's does), so the file
// counts as complete only when every byte announced for it arrived; a library that goes on after
// that end offers further files, which are skipped.
FNFDINOTIFY(Notify) {
  Expansion* expansion = static_cast<Expansion*>(pfdin->pv);
  switch (fdint) {
    case fdintCABINET_INFO: return 0;
    case fdintENUMERATE: return 0;
    case fdintPARTIAL_FILE:
      expansion->continued = true;
      return -1;
    case fdintCOPY_FILE:
      if (expansion->started) return 0;
      expansion->started = true;
      expansion->announced = static_cast<uint32_t>(pfdin->cb);
      return reinterpret_cast<INT_PTR>(&expansion->expanded);
    case fdintCLOSE_FILE_INFO:
      expansion->completed = expansion->facts->expanded_size == expansion->announced;
      return -1;
    default: return -1;
  }
}

}  // namespace

bool ExpandFirstFile(const ByteSource& cabinet, CabinetFacts& facts, std::string& failure) {
  Expansion expansion;
  expansion.cabinet = &cabinet;
  expansion.facts = &facts;
  ERF erf = {};
  HFDI fdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &erf);
  if (fdi == nullptr) {
    failure = "the system cabinet library cannot start";
    return false;
  }
  current = &expansion;
  char name[sizeof(kCabinetName)];
  std::memcpy(name, kCabinetName, sizeof(name));
  char path[1] = {0};
  FDICopy(fdi, name, path, 0, Notify, nullptr, &expansion);
  current = nullptr;
  FDIDestroy(fdi);
  if (expansion.completed) return true;
  failure = expansion.continued ? "it continues from a previous cabinet"
                                : "the cabinet library does not expand it whole";
  return false;
}
