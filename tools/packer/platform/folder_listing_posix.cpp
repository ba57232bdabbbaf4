// The Linux (POSIX) side of folder_listing.h.
#include "platform/folder_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

// Closes the directory stream on every path out of ListFolder.
class DirectoryStream {
 public:
  explicit DirectoryStream(DIR* dir) : dir_(dir) {}
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;
  ~DirectoryStream() {
    if (dir_ != nullptr) closedir(dir_);
  }
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

const char* OtherKindWords(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "neither a file nor a folder";
}

}  // namespace

PathKind KindOfPath(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return PathKind::kMissing;
  if (S_ISREG(info.st_mode)) return PathKind::kFile;
  if (S_ISDIR(info.st_mode)) return PathKind::kFolder;
  return PathKind::kOther;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& error) {
  entries.clear();
  DirectoryStream dir(opendir(folder.c_str()));
  if (dir.get() == nullptr) {
    error = "cannot read the folder " + folder + ": " + std::strerror(errno);
    return false;
  }
  for (;;) {
    errno = 0;
    const dirent* item = readdir(dir.get());
    if (item == nullptr) {
      if (errno == 0) return true;
      error = "cannot read the folder " + folder + ": " + std::strerror(errno);
      return false;
    }
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat own, target;
    if (lstat(path.c_str(), &own) != 0 || stat(path.c_str(), &target) != 0) {
      error = "cannot read " + path + ": " + std::strerror(errno);
      return false;
    }
    FolderEntry entry;
    entry.name = name;
    if (S_ISDIR(own.st_mode)) {
      entry.is_folder = true;
    } else if (S_ISREG(target.st_mode)) {
      entry.size = static_cast<uint64_t>(target.st_size);
    } else if (S_ISLNK(own.st_mode) && S_ISDIR(target.st_mode)) {
      error = path + " is a link to a folder, which an archive cannot carry; copy the folder in";
      return false;
    } else {
      error = path + " is " + OtherKindWords(target.st_mode) + ", which an archive cannot carry";
      return false;
    }
    entries.push_back(entry);
  }
}
