// Whatever the platform hands out and wants back (a handle, a registry key, a block of memory)
// has exactly one owner, which gives it back on every path out of the owner's scope. An owner is
// move-only: handing one on moves the duty to release with it, so nothing is released twice.
// Releasing keeps the thread's last error: an owner is released on failure paths too, where the
// caller is still about to read the error of the call that failed.
//
// Each kind differs in its invalid value and its release call, stated once in its traits below:
// a kernel handle whose failure value is null (a process, a thread, a token; for a process,
// INVALID_HANDLE_VALUE is the pseudo-handle of the current process, not a failure), a file
// handle whose failure value is INVALID_HANDLE_VALUE (what CreateFileW returns), a registry key,
// and memory from LocalAlloc or from the process heap.
#pragma once

#include <windows.h>

template <typename Traits>
class Owner {
 public:
  using Value = typename Traits::Value;

  Owner() = default;
  explicit Owner(Value value) : value_(value) {}
  ~Owner() { Reset(); }
  Owner(Owner&& other) : value_(other.Take()) {}
  Owner& operator=(Owner&& other) {
    if (this != &other) Reset(other.Take());
    return *this;
  }
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;

  Value Get() const { return value_; }
  bool IsValid() const { return value_ != Traits::Invalid(); }

  // Releases what is held, if anything, and holds value from then on.
  void Reset(Value value = Traits::Invalid()) {
    // Replaced first, so that no path can release the same value twice.
    const Value previous = value_;
    value_ = value;
    if (previous == Traits::Invalid()) return;
    const DWORD error = GetLastError();
    Traits::Release(previous);
    SetLastError(error);
  }

 private:
  Value Take() {
    const Value taken = value_;
    value_ = Traits::Invalid();
    return taken;
  }

  Value value_ = Traits::Invalid();
};

struct KernelHandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return nullptr; }
  static void Release(Value handle) { CloseHandle(handle); }
};

struct FileHandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static void Release(Value handle) { CloseHandle(handle); }
};

struct RegistryKeyTraits {
  using Value = HKEY;
  static Value Invalid() { return nullptr; }
  static void Release(Value key) { RegCloseKey(key); }
};

template <typename Item>
struct LocalMemoryTraits {
  using Value = Item*;
  static Value Invalid() { return nullptr; }
  static void Release(Value memory) { LocalFree(memory); }
};

template <typename Item>
struct HeapMemoryTraits {
  using Value = Item*;
  static Value Invalid() { return nullptr; }
  static void Release(Value memory) { HeapFree(GetProcessHeap(), 0, memory); }
};

using KernelHandle = Owner<KernelHandleTraits>;
using FileHandle = Owner<FileHandleTraits>;
using RegistryHandle = Owner<RegistryKeyTraits>;
template <typename Item>
using LocalMemory = Owner<LocalMemoryTraits<Item>>;
template <typename Item>
using HeapMemory = Owner<HeapMemoryTraits<Item>>;
