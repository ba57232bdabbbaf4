#include "memory_tree.h"

#include <memory>

std::vector<uint8_t> TextBytes(const std::string& text) { return {text.begin(), text.end()}; }

namespace {

// Reads a copy, so that a test may change the tree while a reader is open.
class CopyReader final : public delta::ByteReader {
 public:
  explicit CopyReader(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  bool Read(uint8_t* buffer, size_t size) override {
    if (size > bytes_.size() - at_) return false;
    std::copy(bytes_.begin() + at_, bytes_.begin() + at_ + size, buffer);
    at_ += size;
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t at_ = 0;
};

}  // namespace

bool MemoryTree::List(std::vector<std::string>& names, std::string&) {
  names.clear();
  for (const auto& [name, bytes] : files) names.push_back(name);
  return true;
}

bool MemoryTree::Load(const std::string& name, std::vector<uint8_t>& bytes, std::string& error) {
  auto found = files.find(name);
  if (found == files.end()) {
    error = "no " + name;
    return false;
  }
  bytes = found->second;
  return true;
}

std::unique_ptr<delta::ByteReader> MemoryTree::Open(const std::string& name, uint64_t& size) {
  auto found = files.find(name);
  if (found == files.end()) return nullptr;
  size = found->second.size();
  return std::make_unique<CopyReader>(found->second);
}

bool MemoryTree::Begin(const std::string& name, uint64_t size) {
  ++begun;
  if (name == refuse) return false;
  if (size > largest_declared) largest_declared = size;
  writing_ = name;
  files[name].clear();
  return true;
}

bool MemoryTree::Write(const uint8_t* bytes, size_t size) {
  std::vector<uint8_t>& file = files[writing_];
  file.insert(file.end(), bytes, bytes + size);
  return true;
}

bool MemoryTree::End() { return true; }

bool MemoryTree::ListEmptyFolders(std::vector<std::string>& names, std::string&) {
  names.assign(folders.begin(), folders.end());
  return true;
}

bool MemoryTree::MakeFolder(const std::string& name) {
  if (name == refuse) return false;
  return folders.insert(name).second;
}
