// Redirecting this test program's own imports. The stub's code is linked into each test program,
// and every call it makes to the platform goes through the program's import address table: one
// slot per imported function, filled by the loader. A test that puts a function of its own in a
// slot sees, and may answer, every such call, with no seam in the product's code.
//
// One ImportRedirect puts its replacements in and, when it goes out of scope, every original
// back, however the test ends (an ASSERT returns from the test body through its destructor).
#pragma once

#include <windows.h>

#include <string.h>

#include <vector>

class ImportRedirect {
 public:
  ImportRedirect() = default;
  ~ImportRedirect() { RestoreAll(); }
  ImportRedirect(const ImportRedirect&) = delete;
  ImportRedirect& operator=(const ImportRedirect&) = delete;

  // Puts replacement in every slot of this program that imports function from dll (compared
  // without regard to case) and returns the original, or null when the program imports no such
  // function.
  void* Redirect(const char* dll, const char* function, void* replacement) {
    void* original = nullptr;
    ForEachSlot(dll, function, [&](void** slot) {
      original = *slot;
      saved_.push_back({slot, original});
      Write(slot, replacement);
    });
    return original;
  }

  // What the first slot of this program that imports function from dll holds now; null when none.
  static void* Current(const char* dll, const char* function) {
    void* current = nullptr;
    ForEachSlot(dll, function, [&](void** slot) {
      if (current == nullptr) current = *slot;
    });
    return current;
  }

  // Puts every original back, the latest first.
  void RestoreAll() {
    while (!saved_.empty()) {
      Write(saved_.back().slot, saved_.back().original);
      saved_.pop_back();
    }
  }

 private:
  struct Saved {
    void** slot;
    void* original;
  };

  template <typename Visit>
  static void ForEachSlot(const char* dll, const char* function, Visit visit) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return;
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
      if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
      // The names come from the lookup table; the slots of the address table match them in order.
      auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
          base + (entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk));
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
      for (; names->u1.AddressOfData != 0; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* by_name =
            reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (strcmp(reinterpret_cast<const char*>(by_name->Name), function) != 0) continue;
        visit(reinterpret_cast<void**>(&slots->u1.Function));
      }
    }
  }

  static void Write(void** slot, void* value) {
    DWORD protection = 0;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection);
    *slot = value;
    VirtualProtect(slot, sizeof(void*), protection, &protection);
  }

  std::vector<Saved> saved_;
};
