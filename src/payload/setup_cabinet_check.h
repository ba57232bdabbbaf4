// The setup cabinet, checked with the shared rules (lumora/setup_cabinet_rules.h) before the
// system cabinet library sees it: a damaged block or table makes the libraries disagree, and
// makes Wine's read through a null folder or hang.
#pragma once

#include "payload/resource_blob.h"

// True when the cabinet, as the resource holds it (the bytes the stub writes out for the library
// to read), is one the shared rules accept.
bool SetupCabinetIsSound(const ResourceBlob& cabinet);
