// operator new and delete over the process heap, so that the setup program links no part of the
// C++ runtime library: its allocator is the one piece of it the setup program's code calls.
//
// The code allocates in two ways. Where a failure can be handled (a decoder's buffers, whose size
// comes from the archive), it asks with std::nothrow and reports the failure as a status. Elsewhere
// (a container growing past what the archive's bounded header allows) a failure is not expected;
// if it comes, the process ends at once with the code of a failed installation, as the uncaught
// exception did before, without a C++ runtime to unwind through.
#include <windows.h>

#include <cstddef>
#include <new>

#include "runtime/fatal_failure.h"

namespace {

void* Allocate(std::size_t size) {
  // HeapAlloc may return null for 0 bytes on some heaps; every new must return a distinct pointer.
  return HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1);
}

void* AllocateOrEnd(std::size_t size) {
  void* memory = Allocate(size);
  if (memory == nullptr) EndOnFatalFailure();
  return memory;
}

void Release(void* memory) {
  if (memory != nullptr) HeapFree(GetProcessHeap(), 0, memory);
}

}  // namespace

// The tag of new (std::nothrow), which the C++ runtime library would define.
const std::nothrow_t std::nothrow{};

void* operator new(std::size_t size) { return AllocateOrEnd(size); }
void* operator new[](std::size_t size) { return AllocateOrEnd(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* memory) noexcept { Release(memory); }
void operator delete[](void* memory) noexcept { Release(memory); }
void operator delete(void* memory, std::size_t) noexcept { Release(memory); }
void operator delete[](void* memory, std::size_t) noexcept { Release(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { Release(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { Release(memory); }
