// The owners of what the platform hands out: each releases once, on every path, whatever moves
// in between, and keeps the thread's last error while it does.
#include "base/owner.h"

#include <gtest/gtest.h>

#include <utility>

#include "support/handles.h"
#include "support/heap_blocks.h"

namespace {

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

HANDLE NewFile() {
  wchar_t directory[MAX_PATH + 1];
  wchar_t path[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, directory);
  GetTempFileNameW(directory, L"own", 0, path);
  return CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE,
                     nullptr);
}

// A value that names nothing the process has open, so that closing it fails and sets an error.
HANDLE NeverOpened() { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0)); }

template <typename Handle>
void ExpectHandleOwnership(HANDLE (*make)()) {
  {
    SCOPED_TRACE("released when the owner goes");
    const HANDLE raw = make();
    ASSERT_TRUE(HandleIsOpen(raw));
    { Handle owner(raw); }
    EXPECT_FALSE(HandleIsOpen(raw));
  }
  {
    SCOPED_TRACE("moved, then released once by the new owner");
    const HANDLE raw = make();
    Handle first(raw);
    Handle second(std::move(first));
    EXPECT_FALSE(first.IsValid());
    first.Reset();
    EXPECT_TRUE(HandleIsOpen(raw)) << "the moved-from owner released it";
    Handle third;
    third = std::move(second);
    EXPECT_EQ(third.Get(), raw);
    third.Reset();
    EXPECT_FALSE(HandleIsOpen(raw));
  }
  {
    SCOPED_TRACE("a move onto an owner releases what it held");
    const HANDLE held = make();
    const HANDLE incoming = make();
    Handle target(held);
    target = Handle(incoming);
    EXPECT_FALSE(HandleIsOpen(held));
    EXPECT_TRUE(HandleIsOpen(incoming));
  }
  {
    // A failing close sets its own error; the error a caller was about to read survives it.
    SCOPED_TRACE("the last error survives a failing close");
    Handle owner(NeverOpened());
    SetLastError(ERROR_SHARING_VIOLATION);
    owner.Reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(owner.IsValid());
  }
}

TEST(Owner, KernelHandleIsReleasedOnceAndKeepsTheLastError) {
  ExpectHandleOwnership<KernelHandle>(NewEvent);
  // Null is its empty value; INVALID_HANDLE_VALUE is a handle (the current process).
  EXPECT_FALSE(KernelHandle().IsValid());
  EXPECT_TRUE(KernelHandle(GetCurrentProcess()).IsValid());
}

TEST(Owner, FileHandleIsReleasedOnceAndKeepsTheLastError) {
  ExpectHandleOwnership<FileHandle>(NewFile);
  // INVALID_HANDLE_VALUE, what CreateFileW fails with, is its empty value: nothing is closed.
  FileHandle failed(CreateFileW(L"Z:\\no\\such\\directory\\file", GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(failed.IsValid());
  SetLastError(ERROR_PATH_NOT_FOUND);
  failed.Reset();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(Owner, MemoryGoesBackToWhereItCameFrom) {
  void* local = LocalAlloc(LMEM_ZEROINIT, 64);
  void* heap = HeapAlloc(GetProcessHeap(), 0, 64);
  ASSERT_TRUE(IsAllocated(local));
  ASSERT_TRUE(IsAllocated(heap));
  {
    LocalMemory<void> local_owner(local);
    HeapMemory<void> heap_owner(heap);
    LocalMemory<void> moved_local(std::move(local_owner));
    HeapMemory<void> moved_heap(std::move(heap_owner));
    local_owner.Reset();
    heap_owner.Reset();
    EXPECT_TRUE(IsAllocated(local)) << "released by an owner it was moved away from";
    EXPECT_TRUE(IsAllocated(heap)) << "released by an owner it was moved away from";
  }
  EXPECT_FALSE(IsAllocated(local));
  EXPECT_FALSE(IsAllocated(heap));
}

TEST(Owner, RegistryKeyIsClosedWhenTheOwnerGoes) {
  HKEY opened = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_QUERY_VALUE, &opened),
            ERROR_SUCCESS);
  { RegistryHandle key(opened); }
  DWORD subkeys = 0;
  EXPECT_EQ(RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_HANDLE);
}

}  // namespace
