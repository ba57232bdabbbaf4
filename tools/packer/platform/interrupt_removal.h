// Temporary files that go when the packer is interrupted. pack writes hundreds of megabytes under
// temporary names beside the output (OUT.partial-*, OUT.cab-*); their owners remove them on every
// return, but a signal ends the process without returning. Each owner watches its path here, and
// the handler removes what is watched before the process ends as the signal would have ended it.
//
// On Linux: SIGINT, SIGTERM and SIGHUP (a signal the caller ignores stays ignored). The handler
// does only what is safe in a signal handler: it unlinks the recorded paths, restores the
// signal's default action and raises it again, so that the caller sees the process killed by
// that signal. On Windows: Ctrl+C, Ctrl+Break and the console window closed, logoff and
// shutdown; the handler, which runs on a thread of its own, deletes the recorded paths (the
// packer opens its temporaries shareable for deletion, so that an open one goes when its
// handle closes) and lets the default handler end the process.
#pragma once

#include <string>

// Installs the handlers, once, before any temporary file is made.
void RemoveWatchedFilesWhenInterrupted();

// One watched path: the owner of one of a few fixed slots the handler reads, which it frees on
// destruction; not copied. A path that does not fit a slot, or a full set of slots, goes
// unwatched: the file is still removed on every return, only not on a signal.
class InterruptRemoval {
 public:
  InterruptRemoval() = default;
  InterruptRemoval(const InterruptRemoval&) = delete;
  InterruptRemoval& operator=(const InterruptRemoval&) = delete;
  ~InterruptRemoval() { Forget(); }

  // Watches path (UTF-8) in place of what was watched before.
  void Watch(const std::string& path);
  // Stops watching: the file was renamed to its final name or removed.
  void Forget();

 private:
  int slot_ = -1;
};
