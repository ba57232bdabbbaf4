#include "update/installed_tree.h"

#include <new>

#include "update/entry_path.h"
#include "update/file_reader.h"

std::unique_ptr<delta::ByteReader> InstalledTree::Open(const std::string& name, uint64_t& size) {
  std::wstring path;
  if (!EntryPath(folder_, name, path)) return nullptr;
  std::unique_ptr<WindowsFileReader> reader(new (std::nothrow) WindowsFileReader);
  if (!reader || !reader->Open(path)) return nullptr;
  size = reader->Size();
  return reader;
}
