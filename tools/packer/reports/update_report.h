// An update's facts in both reports: its summary line and setup patch for people, the same as a
// JSON object (null for an installer that is no update).
#pragma once

#include <string>

#include "payload/update_facts.h"

// Lines ending in a newline; empty for an installer that is no update.
std::string UpdateText(const UpdateFacts& facts);
std::string UpdateJson(const UpdateFacts& facts);
