// A release's files held in memory, by their names in the archive ("VERSION", "bin/app.dll"):
// what the packer diffs when it makes an update, and what its check applies an update to and
// builds. Read from a 7z archive with the setup program's own reader, so that the packer sees the
// very files the setup program would install.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "delta/archive/file_tree.h"
#include "delta/archive/patch_archive_writer.h"
#include "platform/byte_source.h"

class ReleaseTree final : public delta::SourceTree, public delta::OldTree, public delta::NewTree {
 public:
  std::map<std::string, std::vector<uint8_t>> files;
  // Folders the release lists (a 7z's folder entries) or an update made; only those that hold
  // no file and no folder matter, the others are made by what they hold.
  std::set<std::string> folders;

  // delta::SourceTree: the writer's view.
  bool List(std::vector<std::string>& names, std::string& error) override;
  bool Load(const std::string& name, std::vector<uint8_t>& bytes, std::string& error) override;
  bool ListEmptyFolders(std::vector<std::string>& names, std::string& error) override;
  // delta::OldTree: the applier's previous release.
  std::unique_ptr<delta::ByteReader> Open(const std::string& name, uint64_t& size) override;
  // delta::NewTree: the applier's new release, at most 16 GiB in all (more is refused as a
  // write that failed).
  bool Begin(const std::string& name, uint64_t size) override;
  bool Write(const uint8_t* bytes, size_t size) override;
  bool End() override;
  bool MakeFolder(const std::string& name) override;

  uint64_t TotalBytes() const;

 private:
  std::vector<uint8_t>* writing_ = nullptr;
  uint64_t built_ = 0;  // bytes written as a new tree, bounded
};

// Why a 7z archive could not be read into a tree: the setup program's own verdict on it.
enum class TreeFault { kNone, kRefused, kDamaged, kUnsupportedMethod, kTooLarge };

// Every file of the 7z archive in source, decoded and checked against its CRC; folders left out,
// names with '/' between their parts, its folder entries in folders. False with the reason in error (and fault).
bool ReadSevenZipTree(const ByteSource& source, ReleaseTree& tree, TreeFault& fault,
                      std::string& error);

// The text of a tree's top-level "VERSION" file as the setup program reads it: blanks and line
// ends around it removed. Empty when there is none or it is not one line of version characters.
std::string VersionOfTree(const ReleaseTree& tree);
