// The entries of a folder, for the archive writer's walk of an application's folder. Only what a
// 7z archive for Windows can carry is listed: files and folders. A symbolic link to a file is
// taken as the file (release trees often link a licence in); a link to a folder, a junction, a
// device, a FIFO or a socket is refused by name, since following one could loop or block, and an
// installer cannot recreate it on Windows anyway.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FolderEntry {
  std::string name;  // the entry's own name, UTF-8, without the folder
  bool is_folder = false;
  uint64_t size = 0;  // a file's size
};

// What a path names: nothing, a regular file (or a link to one), a folder, or anything else.
enum class PathKind { kMissing, kFile, kFolder, kOther };
PathKind KindOfPath(const std::string& path);

// The entries directly inside folder ("." and ".." left out), in the order the system gives
// them; the caller sorts. False with the reason, naming the entry, on anything that cannot be
// archived or a folder that cannot be read.
bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& error);
