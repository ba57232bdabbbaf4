// What a payload resource is to the stub, by its type and name: the archive or the setup
// program, and how it is stored. Both reports show it.
#pragma once

#include "payload/installer_report.h"

// The role and storage of a payload resource, by its name and type as the stub reads them.
bool RoleOf(const Resource& m, PayloadMember& member, PayloadType& type);
