// Expanding the setup program from a cabinet ("MSCF") through the system cabinet library's FDI
// interface. The installer does not decode cabinets itself.
#pragma once

#include <windows.h>

#include <fdi.h>
#include <stdint.h>

#include "files/file_being_written.h"

// What the library hands back to every notification of one expansion.
struct ExpansionState {
  const wchar_t* destination = nullptr;
  FileBeingWritten output;
  // Set only when the first file of the cabinet arrived whole.
  bool completed = false;
  // The library may go on after being asked to stop; only the first file is ever written.
  bool copy_started = false;
  // The size fdintCOPY_FILE announced: the close notification is no proof that decoding worked.
  uint32_t announced_size = 0;
};

INT_PTR DIAMONDAPI CabNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification);

// Expands the first file of the cabinet at source (which needs a backslash after its first unit)
// into destination (shorter than 260 units), with the cabinet's date as creation time and the
// read-only, hidden, system and archive attributes. True when the file arrived whole; otherwise a
// destination this call created does not remain.
bool ExpandCabinet(const wchar_t* source, const wchar_t* destination);
