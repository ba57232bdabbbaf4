#include "update/release_tree.h"

#include <algorithm>
#include <cstring>

#include "decode/byte_source.h"
#include "delta/engine/byte_stream.h"
#include "payload/reader_source.h"
#include "platform/utf_text.h"
#include "seven_zip/archive.h"
#include "seven_zip/folder_extraction.h"

namespace {

// A reader that keeps the tree's bytes it reads from alive no longer than the tree: the tree
// outlives every apply that reads it.
class TreeFileReader final : public delta::ByteReader {
 public:
  explicit TreeFileReader(const std::vector<uint8_t>& bytes) : reader_(bytes.data(), bytes.size()) {}
  bool Read(uint8_t* buffer, size_t size) override { return reader_.Read(buffer, size); }

 private:
  delta::MemoryReader reader_;
};

class TreeReceiver final : public SevenZipFileReceiver {
 public:
  TreeReceiver(const std::vector<std::string>& names, ReleaseTree& tree)
      : names_(names), tree_(tree) {}
  SevenZipStatus Begin(size_t index) override {
    current_ = &tree_.files[names_[index]];
    current_->clear();
    return SevenZipStatus::kOk;
  }
  SevenZipStatus Write(const unsigned char* data, size_t size) override {
    current_->insert(current_->end(), data, data + size);
    return SevenZipStatus::kOk;
  }
  SevenZipStatus End(size_t) override { return SevenZipStatus::kOk; }

 private:
  const std::vector<std::string>& names_;
  ReleaseTree& tree_;
  std::vector<uint8_t>* current_ = nullptr;
};

TreeFault FaultOf(SevenZipStatus status) {
  switch (status) {
    case SevenZipStatus::kOk: return TreeFault::kNone;
    case SevenZipStatus::kNotSevenZip:
    case SevenZipStatus::kUnsupported: return TreeFault::kRefused;
    case SevenZipStatus::kUnsupportedMethod: return TreeFault::kUnsupportedMethod;
    case SevenZipStatus::kTooLarge: return TreeFault::kTooLarge;
    default: return TreeFault::kDamaged;
  }
}

const char* StatusText(SevenZipStatus status) {
  switch (status) {
    case SevenZipStatus::kNotSevenZip: return "it is not a 7z archive";
    case SevenZipStatus::kUnsupported: return "it uses a 7z feature the setup program refuses";
    case SevenZipStatus::kUnsupportedMethod: return "it uses a method the setup program cannot decode";
    case SevenZipStatus::kDamaged: return "it is damaged (a CRC or its header)";
    case SevenZipStatus::kUnsafeName: return "it names a file outside the installation folder";
    case SevenZipStatus::kTooLarge: return "decoding it needs more memory than allowed";
    case SevenZipStatus::kReadFailed: return "it could not be read";
    default: return "it could not be decoded";
  }
}

// What a tree built by an update holds at most in memory, and reserves for a file before its
// bytes arrive.
constexpr uint64_t kMaxBuiltBytes = uint64_t{16} << 30;
constexpr uint64_t kReservedAtOnce = uint64_t{64} << 20;

// The largest folder decoder the host gives memory to: the largest dictionary 7-Zip writes.
constexpr uint64_t kHostDecodeMemory = uint64_t{1600} << 20;

}  // namespace

bool ReleaseTree::List(std::vector<std::string>& names, std::string&) {
  names.clear();
  for (const auto& [name, bytes] : files) names.push_back(name);
  return true;
}

bool ReleaseTree::ListEmptyFolders(std::vector<std::string>& names, std::string&) {
  names.clear();
  for (const std::string& folder : folders) {
    // Anything below the folder sorts right after "folder/".
    const std::string inside = folder + "/";
    const auto file = files.lower_bound(inside);
    const auto sub = folders.lower_bound(inside);
    const bool holds_file = file != files.end() && file->first.compare(0, inside.size(), inside) == 0;
    const bool holds_folder = sub != folders.end() && sub->compare(0, inside.size(), inside) == 0;
    if (!holds_file && !holds_folder) names.push_back(folder);
  }
  return true;
}

bool ReleaseTree::Load(const std::string& name, std::vector<uint8_t>& bytes, std::string& error) {
  const auto found = files.find(name);
  if (found == files.end()) {
    error = name + " is not in the release";
    return false;
  }
  bytes = found->second;
  return true;
}

std::unique_ptr<delta::ByteReader> ReleaseTree::Open(const std::string& name, uint64_t& size) {
  const auto found = files.find(name);
  if (found == files.end()) return nullptr;
  size = found->second.size();
  return std::make_unique<TreeFileReader>(found->second);
}

bool ReleaseTree::Begin(const std::string& name, uint64_t size) {
  if (size > kMaxBuiltBytes - built_) return false;
  writing_ = &files[name];
  writing_->clear();
  // Sizes come from the update, which check --against does not trust: memory grows with what
  // the stream gives, not with what the directory claims.
  writing_->reserve(static_cast<size_t>(std::min<uint64_t>(size, kReservedAtOnce)));
  return true;
}

bool ReleaseTree::Write(const uint8_t* bytes, size_t size) {
  if (writing_ == nullptr || size > kMaxBuiltBytes - built_) return false;
  writing_->insert(writing_->end(), bytes, bytes + size);
  built_ += size;
  return true;
}

bool ReleaseTree::End() {
  writing_ = nullptr;
  return true;
}

bool ReleaseTree::MakeFolder(const std::string& name) {
  folders.insert(name);
  return true;
}

uint64_t ReleaseTree::TotalBytes() const {
  uint64_t total = 0;
  for (const auto& [name, bytes] : files) total += bytes.size();
  return total;
}

bool ReadSevenZipTree(const ByteSource& source, ReleaseTree& tree, TreeFault& fault,
                      std::string& error) {
  tree.files.clear();
  tree.folders.clear();
  ReaderSource reader(source);
  SevenZipArchive archive;
  SevenZipStatus status = OpenSevenZip(reader, archive);
  std::vector<std::string> names(archive.files.size());
  for (size_t i = 0; status == SevenZipStatus::kOk && i < archive.files.size(); ++i) {
    std::string name = Utf16ToUtf8(archive.files[i].name);
    std::replace(name.begin(), name.end(), '\\', '/');
    names[i] = name;
    if (archive.files[i].is_directory) {
      tree.folders.insert(name);
    } else {
      tree.files[name];  // empty files have no folder
    }
  }
  for (size_t f = 0; status == SevenZipStatus::kOk && f < archive.folders.size(); ++f) {
    TreeReceiver receiver(names, tree);
    status = ExtractFolder(reader, archive, f, kHostDecodeMemory, receiver);
  }
  fault = FaultOf(status);
  if (status != SevenZipStatus::kOk) {
    tree.files.clear();
    tree.folders.clear();
    error = source.path() + ": " + StatusText(status);
    return false;
  }
  return true;
}

std::string VersionOfTree(const ReleaseTree& tree) {
  const auto found = tree.files.find("VERSION");
  if (found == tree.files.end()) return "";
  const std::vector<uint8_t>& bytes = found->second;
  size_t begin = 0, end = bytes.size();
  while (begin < end && std::strchr(" \t\r\n", bytes[begin]) != nullptr) ++begin;
  while (end > begin && std::strchr(" \t\r\n", bytes[end - 1]) != nullptr) --end;
  std::string version(bytes.begin() + begin, bytes.begin() + end);
  for (char c : version) {
    const bool allowed = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                         (c >= 'a' && c <= 'z') || c == '.' || c == '-' || c == '_';
    if (!allowed) return "";
  }
  return version;
}
