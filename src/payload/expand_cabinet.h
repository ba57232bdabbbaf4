// Expanding the setup program from a cabinet ("MSCF") through the system cabinet library's FDI
// interface. The installer does not decode cabinets itself.
#pragma once

#include <windows.h>

#include <fdi.h>
#include <stdint.h>

#include "files/content_digest.h"
#include "files/extracted_files.h"

// What the library hands back to every notification of one expansion.
struct ExpansionState {
  explicit ExpansionState(ExtractedFile& destination) : destination(destination) {}
  // Created by the copy notification, written by the library through a duplicate of its writer.
  ExtractedFile& destination;
  // Set only when the first file of the cabinet arrived whole.
  bool completed = false;
  // The library may go on after being asked to stop; only the first file is ever written.
  bool copy_started = false;
  // The size fdintCOPY_FILE announced: the close notification is no proof that decoding worked.
  uint32_t announced_size = 0;
  // What the library wrote into the destination, under a key of this expansion: what the file
  // must still hold once sealed.
  ContentDigest written;
};

INT_PTR DIAMONDAPI CabNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification);

// Expands the first file of the cabinet at source (which needs a backslash after its first unit)
// into the destination's file, which must not exist yet, with the cabinet's date as creation time
// and the read-only, hidden, system and archive attributes. True when the file arrived whole and
// is sealed (held_file.h); otherwise nothing is held, and a file this call created is left to the
// run's clean-up.
bool ExpandCabinet(const wchar_t* source, ExtractedFile& destination);
