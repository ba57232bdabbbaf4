// A tree of files in memory, for the patch archive's tests: a source for the writer, a previous
// release for the applier, and a new release that records what the applier did to it.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "delta/archive/file_tree.h"
#include "delta/archive/patch_archive_writer.h"

using Files = std::map<std::string, std::vector<uint8_t>>;

std::vector<uint8_t> TextBytes(const std::string& text);

class MemoryTree final : public delta::SourceTree, public delta::OldTree, public delta::NewTree {
 public:
  MemoryTree() = default;
  explicit MemoryTree(Files files) : files(std::move(files)) {}

  bool List(std::vector<std::string>& names, std::string& error) override;
  bool Load(const std::string& name, std::vector<uint8_t>& bytes, std::string& error) override;
  std::unique_ptr<delta::ByteReader> Open(const std::string& name, uint64_t& size) override;
  bool Begin(const std::string& name, uint64_t size) override;
  bool Write(const uint8_t* bytes, size_t size) override;
  bool End() override;
  bool ListEmptyFolders(std::vector<std::string>& names, std::string& error) override;
  bool MakeFolder(const std::string& name) override;

  Files files;
  std::set<std::string> folders;  // empty folders: listed as a source, made as a new release
  int begun = 0;  // files the applier started to write
  std::string refuse;  // a name Begin fails for
  uint64_t largest_declared = 0;

 private:
  std::string writing_;
};
