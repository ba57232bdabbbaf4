// The installed previous version as the patch archive's base tree: its folder, read only. The
// setup program's copy of itself (setup.exe) lies there too but is no file of the previous
// archive; the archive never asks for it, and whatever it asks for is only read.
#pragma once

#include <memory>
#include <string>

#include "delta/archive/file_tree.h"

class InstalledTree final : public delta::OldTree {
 public:
  explicit InstalledTree(std::wstring folder) : folder_(std::move(folder)) {}
  // Null for a name that would leave the folder, a missing file or a directory.
  std::unique_ptr<delta::ByteReader> Open(const std::string& name, uint64_t& size) override;

 private:
  std::wstring folder_;
};
