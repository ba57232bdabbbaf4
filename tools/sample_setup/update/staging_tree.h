// The new version as the patch archive builds it: files written into the staging folder that the
// full installation uses too (install/staging.h), each as it comes. The folder itself is made
// with the first file, so that an update refused while its bases are checked has written nothing.
#pragma once

#include <cstdint>
#include <string>

#include "base/owner.h"
#include "delta/archive/file_tree.h"

class StagingTree final : public delta::NewTree {
 public:
  explicit StagingTree(std::wstring folder) : folder_(std::move(folder)) {}
  bool Begin(const std::string& name, uint64_t size) override;
  bool Write(const uint8_t* bytes, size_t size) override;
  bool End() override;
  // An empty folder of the new version, with its parents.
  bool MakeFolder(const std::string& name) override;
  // Closes a file left open by a failed apply, so that the folder can be removed.
  void Close() { file_.Reset(); }
  // Whether a file was refused for its name (a device such as "NUL.txt", a name Windows would
  // alter) rather than for a failing write: the archive is at fault, not the disk.
  bool RefusedAName() const { return refused_name_; }

 private:
  // The path of an entry below the folder, the folder made first; false for a refused name.
  bool PathFor(const std::string& name, std::wstring& path);

  std::wstring folder_;
  bool folder_made_ = false;
  bool refused_name_ = false;
  FileHandle file_;
  uint64_t left_ = 0;  // bytes the current file still expects
};
