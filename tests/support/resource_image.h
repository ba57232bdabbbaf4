// An image loaded as data (a payload layout, a fixture with resources of its own): its module
// handle goes where the installer's own image would. And resources written into an image file by
// the platform's own resource updater, as anyone could attach them without the project's tools.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <stdint.h>

#include <initializer_list>
#include <string>
#include <vector>

struct ResourceImage {
  HMODULE module = nullptr;
  explicit ResourceImage(const std::wstring& path)
      : module(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~ResourceImage() {
    if (module != nullptr) FreeLibrary(module);
  }
  ResourceImage(const ResourceImage&) = delete;
  ResourceImage& operator=(const ResourceImage&) = delete;
};

// One resource to write, in language 1033 as the packer writes them.
struct NewResource {
  const wchar_t* type;
  const wchar_t* name;
  const std::vector<uint8_t>& bytes;
};

// Writes the resources into the image file, after dropping all that it held when
// replace_existing is set.
inline ::testing::AssertionResult UpdateResources(const std::wstring& image,
                                                  std::initializer_list<NewResource> resources,
                                                  bool replace_existing = false) {
  HANDLE update = BeginUpdateResourceW(image.c_str(), replace_existing ? TRUE : FALSE);
  if (update == nullptr) {
    return ::testing::AssertionFailure() << "BeginUpdateResourceW: error " << GetLastError();
  }
  for (const NewResource& resource : resources) {
    if (!UpdateResourceW(update, resource.type, resource.name, 1033,
                         const_cast<uint8_t*>(resource.bytes.data()),
                         static_cast<DWORD>(resource.bytes.size()))) {
      const DWORD error = GetLastError();
      EndUpdateResourceW(update, TRUE);
      return ::testing::AssertionFailure() << "UpdateResourceW: error " << error;
    }
  }
  if (!EndUpdateResourceW(update, FALSE)) {
    return ::testing::AssertionFailure() << "EndUpdateResourceW: error " << GetLastError();
  }
  return ::testing::AssertionSuccess();
}
