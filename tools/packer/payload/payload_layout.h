// What the stub makes of a resource directory, judged the same way for an installer read back
// from disk (check, and pack's read-back) and for the directory pack is about to write: which
// payload resources its enumeration meets and in what order, in how many languages, the previous
// version it would take, and its verdict. Everything else is listed as the image's other
// resources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "payload/stub_verdict.h"
#include "resources/resource.h"

// What the header of a payload resource that is a cabinet says of its first folder, whatever
// its type: a cabinet where the stub expects none is shown for what it is.
struct MemberCabinet {
  bool cabinet = false;      // the data begins with a cabinet's signature
  bool readable = false;     // ... and its first folder's entry could be read
  uint16_t compression = 0;  // that folder's compression type
};

struct PayloadLayout {
  std::vector<Resource> payload;       // every resource under "B7", "BL" and "BN"
  std::vector<MemberCabinet> cabinets;  // for each of them
  bool has_previous_version = false;   // RT_RCDATA 1 exists
  bool previous_version_valid = false; // ... and the stub would take it
  uint32_t previous_version_size = 0;
  uint32_t previous_version_languages = 0;
  std::u16string previous_version;     // up to its terminator
  std::vector<Resource> others;        // everything else, in directory order
  PayloadVerdict verdict;
};

// directory: the resources in directory order, with their type and name entries. read_members:
// see JudgePayload.
void ReadPayloadLayout(const std::vector<Resource>& directory, const ResourceData& data,
                       PayloadLayout& layout, bool read_members = true);
