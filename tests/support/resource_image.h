// An image loaded as data (a payload layout, a fixture with resources of its own): its module
// handle goes where the installer's own image would.
#pragma once

#include <windows.h>

#include <string>

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
