// The trees a patch archive reads from and writes to, as interfaces: the setup program gives the
// installed version's folder and a temporary folder for the new one, the packer's check gives
// the previous installer's archive, the tests give trees in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "delta/engine/byte_stream.h"

namespace delta {

// The previous release, read only.
class OldTree {
 public:
  virtual ~OldTree() = default;
  // The file of that name (a valid entry name) with its size; null when it is missing or cannot
  // be opened.
  virtual std::unique_ptr<ByteReader> Open(const std::string& name, uint64_t& size) = 0;
};

// The new release being built: one file at a time, Begin, Write as often as needed, End. A failed
// apply leaves the tree half-written; its owner discards it.
class NewTree {
 public:
  virtual ~NewTree() = default;
  virtual bool Begin(const std::string& name, uint64_t size) = 0;
  virtual bool Write(const uint8_t* bytes, size_t size) = 0;
  virtual bool End() = 0;
  // An empty folder of the new release (its parents made too); a folder that holds files is made
  // by its files.
  virtual bool MakeFolder(const std::string& name) = 0;
};

}  // namespace delta
