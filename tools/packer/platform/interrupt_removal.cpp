// The slots both builds share, and each platform's handler. The handler may run at any moment of
// the main thread (a signal on Linux) or beside it (a thread of its own on Windows): a slot's
// path is written while the slot is claimed and only then marked watched, the handler reads only
// watched slots, and nothing here allocates or locks.
#include "platform/interrupt_removal.h"

#include <atomic>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "platform/utf_text.h"

namespace {

#ifdef _WIN32
using NativeChar = wchar_t;
// The longest path the wide API takes, with its terminator.
constexpr size_t kPathChars = 32768;
#else
using NativeChar = char;
// PATH_MAX: the longest path open() takes, with its terminator.
constexpr size_t kPathChars = 4096;
#endif

// At most three temporaries exist at once (the installer's, the setup cabinet's scratch file and
// the cabinet being staged over it); a few slots to spare.
constexpr int kSlots = 6;
enum SlotState : int { kFree, kClaimed, kWatched };
struct Slot {
  std::atomic<int> state{kFree};
  NativeChar path[kPathChars];
};
Slot g_slots[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the slots lock-free");

void RemoveWatched() {
  for (Slot& slot : g_slots) {
    if (slot.state.load(std::memory_order_acquire) != kWatched) continue;
#ifdef _WIN32
    DeleteFileW(slot.path);
#else
    unlink(slot.path);
#endif
  }
}

#ifdef _WIN32

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      RemoveWatched();
      break;
    default:
      break;
  }
  return FALSE;  // the next handler, finally the default one, ends the process
}

#else

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int signal_number) {
  const int saved_errno = errno;
  RemoveWatched();
  // SA_RESETHAND restored the default action on entry; the signal, blocked while this runs, is
  // delivered again on return and ends the process as it would have.
  raise(signal_number);
  errno = saved_errno;
}

#endif

}  // namespace

void RemoveWatchedFilesWhenInterrupted() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int s : kSignals) sigaddset(&action.sa_mask, s);
  for (int s : kSignals) {
    struct sigaction old = {};
    // A signal the caller ignores (nohup, a background job's SIGINT) stays ignored.
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
      sigaction(s, &action, nullptr);
    }
  }
#endif
}

void InterruptRemoval::Watch(const std::string& path) {
  Forget();
#ifdef _WIN32
  std::u16string native;
  if (!Utf8ToUtf16(path, native)) return;
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16");
#else
  const std::string& native = path;
#endif
  if (native.size() >= kPathChars || native.find(NativeChar(0)) != native.npos) {
    return;
  }
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!g_slots[i].state.compare_exchange_strong(expected, kClaimed, std::memory_order_acquire)) {
      continue;
    }
    std::memcpy(g_slots[i].path, native.data(), native.size() * sizeof(NativeChar));
    g_slots[i].path[native.size()] = 0;
    g_slots[i].state.store(kWatched, std::memory_order_release);
    slot_ = i;
    return;
  }
}

void InterruptRemoval::Forget() {
  if (slot_ < 0) return;
  g_slots[slot_].state.store(kFree, std::memory_order_release);
  slot_ = -1;
}
