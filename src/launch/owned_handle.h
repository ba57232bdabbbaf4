// Owner of one kernel handle whose invalid value is null, as the process and thread handles that
// CreateProcessW hands out are. (INVALID_HANDLE_VALUE is no failure value here: for a process it
// is the pseudo-handle of the current process.) Closing never disturbs the thread's last error,
// so an error taken before the clean-up is still there after it.
#pragma once

#include <windows.h>

class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() { Close(); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  HANDLE get() const { return handle_; }

  void Close() {
    if (handle_ == nullptr) return;
    const DWORD error = GetLastError();
    CloseHandle(handle_);
    handle_ = nullptr;
    SetLastError(error);
  }

 private:
  HANDLE handle_ = nullptr;
};
