// Making a patch archive from two releases' trees: the packer's side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace delta {

// A release's files as the writer reads them: names (valid entry names, '/' between parts) and
// whole contents.
class SourceTree {
 public:
  virtual ~SourceTree() = default;
  virtual bool List(std::vector<std::string>& names, std::string& error) = 0;
  virtual bool Load(const std::string& name, std::vector<uint8_t>& bytes, std::string& error) = 0;
  // The folders that hold no file and no folder, named as files are; a tree without folders of
  // its own has none.
  virtual bool ListEmptyFolders(std::vector<std::string>& names, std::string& error) {
    (void)error;
    names.clear();
    return true;
  }
};

struct PatchCounts {
  uint32_t unchanged = 0;
  uint32_t patched = 0;
  uint32_t added = 0;
  uint32_t removed = 0;
  uint32_t folders = 0;  // empty folders of the new release
  uint64_t new_bytes = 0;      // the new release's files, in all
  uint64_t stream_decoded = 0;  // deltas and added files before compression
};

// The archive that turns old_tree into new_tree. A file of the new release is patched against
// the previous release's file of the same name, or, when there is none, against a file that
// leaves with the same content or, failing that, the same last name part (a move); otherwise it
// is added. A delta whose controls outgrow what the applier holds is replaced by the file whole.
bool WritePatchArchive(SourceTree& old_tree, SourceTree& new_tree, std::vector<uint8_t>& archive,
                       PatchCounts& counts, std::string& error);

}  // namespace delta
