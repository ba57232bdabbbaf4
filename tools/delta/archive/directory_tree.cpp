#include "delta/archive/directory_tree.h"

#include <filesystem>
#include <system_error>

namespace delta {
namespace fs = std::filesystem;
namespace {

fs::path PathOf(const std::string& root, const std::string& name) {
  return fs::u8path(root) / fs::u8path(name);
}

}  // namespace

FileReader::FileReader(const std::string& path) {
  std::error_code error;
  const fs::path file_path = fs::u8path(path);
  const uintmax_t size = fs::file_size(file_path, error);
  if (error) return;
  file_.open(file_path, std::ios::binary);
  size_ = size;
}

bool FileReader::Read(uint8_t* buffer, size_t size) {
  if (size == 0) return true;
  file_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(size));
  return file_.good() && static_cast<size_t>(file_.gcount()) == size;
}

bool DirectoryTree::List(std::vector<std::string>& names, std::string& error) {
  names.clear();
  std::error_code code;
  const fs::path root = fs::u8path(root_);
  for (fs::recursive_directory_iterator it(root, code), end; !code && it != end;
       it.increment(code)) {
    if (!it->is_regular_file(code)) continue;
    names.push_back(it->path().lexically_relative(root).generic_u8string());
  }
  if (code) {
    error = root_ + ": " + code.message();
    return false;
  }
  return true;
}

bool DirectoryTree::ListEmptyFolders(std::vector<std::string>& names, std::string& error) {
  names.clear();
  std::error_code code;
  const fs::path root = fs::u8path(root_);
  for (fs::recursive_directory_iterator it(root, code), end; !code && it != end;
       it.increment(code)) {
    if (!it->is_directory(code) || it->is_symlink(code)) continue;
    if (fs::directory_iterator(it->path(), code) == fs::directory_iterator() && !code) {
      names.push_back(it->path().lexically_relative(root).generic_u8string());
    }
  }
  if (code) {
    error = root_ + ": " + code.message();
    return false;
  }
  return true;
}

bool DirectoryTree::Load(const std::string& name, std::vector<uint8_t>& bytes,
                         std::string& error) {
  FileReader reader(PathOf(root_, name).u8string());
  bytes.clear();
  if (reader.IsOpen()) {
    bytes.resize(reader.Size());
    if (reader.Read(bytes.data(), bytes.size())) return true;
  }
  error = "cannot read " + name + " in " + root_;
  return false;
}

std::unique_ptr<ByteReader> DirectoryTree::Open(const std::string& name, uint64_t& size) {
  auto reader = std::make_unique<FileReader>(PathOf(root_, name).u8string());
  if (!reader->IsOpen()) return nullptr;
  size = reader->Size();
  return reader;
}

bool DirectoryWriter::Begin(const std::string& name, uint64_t) {
  const fs::path path = PathOf(root_, name);
  std::error_code code;
  fs::create_directories(path.parent_path(), code);
  if (code) return false;
  file_.open(path, std::ios::binary | std::ios::trunc);
  return file_.is_open();
}

bool DirectoryWriter::Write(const uint8_t* bytes, size_t size) {
  file_.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
  return file_.good();
}

bool DirectoryWriter::MakeFolder(const std::string& name) {
  std::error_code code;
  fs::create_directories(PathOf(root_, name), code);
  return !code;
}

bool DirectoryWriter::End() {
  file_.close();
  return !file_.fail();
}

}  // namespace delta
