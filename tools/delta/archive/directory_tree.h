// Trees of files in a folder of the file system, for the host tool and the tests: read as the
// previous release (and as either release by the writer), written as the new one.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "delta/archive/file_tree.h"
#include "delta/archive/patch_archive_writer.h"
#include "delta/engine/byte_stream.h"

namespace delta {

// A file read front to back.
class FileReader final : public ByteReader {
 public:
  explicit FileReader(const std::string& path);
  bool IsOpen() const { return file_.is_open(); }
  uint64_t Size() const { return size_; }
  bool Read(uint8_t* buffer, size_t size) override;

 private:
  std::ifstream file_;
  uint64_t size_ = 0;
};

// Every regular file below root, named by its path from root with '/' between parts.
class DirectoryTree final : public SourceTree, public OldTree {
 public:
  explicit DirectoryTree(std::string root) : root_(std::move(root)) {}
  bool List(std::vector<std::string>& names, std::string& error) override;
  bool Load(const std::string& name, std::vector<uint8_t>& bytes, std::string& error) override;
  bool ListEmptyFolders(std::vector<std::string>& names, std::string& error) override;
  std::unique_ptr<ByteReader> Open(const std::string& name, uint64_t& size) override;

 private:
  std::string root_;
};

// Writes below root, making folders as files need them.
class DirectoryWriter final : public NewTree {
 public:
  explicit DirectoryWriter(std::string root) : root_(std::move(root)) {}
  bool Begin(const std::string& name, uint64_t size) override;
  bool Write(const uint8_t* bytes, size_t size) override;
  bool End() override;
  bool MakeFolder(const std::string& name) override;

 private:
  std::string root_;
  std::ofstream file_;
};

}  // namespace delta
