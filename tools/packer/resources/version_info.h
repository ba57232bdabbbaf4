// The version resource (RT_VERSION, a VS_VERSIONINFO block) that Explorer's properties, the
// download prompt and SmartScreen show: the numeric file and product versions of its fixed part
// (VS_FIXEDFILEINFO) and the texts of its string tables. The packer sets the application's texts
// and versions in the stub's block and keeps everything else of it; check reads them back. Blocks
// come from files nobody vouches for: the walk stays within the block and within a few levels.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Four 16-bit numbers, as "1.2.3.4" writes them.
struct VersionNumber {
  uint16_t parts[4] = {};
};

// "1.2.3.4": exactly four decimal numbers from 0 to 65535, separated by dots.
bool ParseVersionNumber(const std::string& text, VersionNumber& number);
std::string VersionNumberText(const VersionNumber& number);

// What the packer changes: texts by key ("ProductName", ...), set in every string table and added
// where a table lacks them; keys removed from every table; the numeric versions when given.
// Keys are matched without regard to ASCII case, as Windows looks them up.
struct VersionChanges {
  std::vector<std::pair<std::u16string, std::u16string>> texts;
  std::vector<std::u16string> removed;
  bool has_file_version = false;
  VersionNumber file_version;
  bool has_product_version = false;
  VersionNumber product_version;

  bool empty() const {
    return texts.empty() && removed.empty() && !has_file_version && !has_product_version;
  }
};

// The block with the changes made, laid out again. False with the reason when the block cannot
// be read as a version resource, or the result would not fit one.
bool ChangeVersionBlock(const std::vector<uint8_t>& block, const VersionChanges& changes,
                        std::vector<uint8_t>& changed, std::string& error);

// What a version block says, for people.
struct VersionSummary {
  bool has_fixed = false;
  VersionNumber file_version;
  VersionNumber product_version;
  std::vector<std::pair<std::u16string, std::u16string>> texts;  // of the first string table
};

bool ReadVersionBlock(const std::vector<uint8_t>& block, VersionSummary& summary);
