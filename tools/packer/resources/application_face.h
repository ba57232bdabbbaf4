// The application's own face on the installer that users download: Explorer, the download prompt,
// SmartScreen and the properties dialog show its icon and its version resource, and both should
// be the application's, not the stub's. They are resources the stub never reads, so its
// behaviour does not change. Without the options the stub's own stay, byte for byte.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "resources/resource.h"

// One version text a release engineer sets: its key in the version resource's string tables
// ("ProductName", "OriginalFilename", ...), the text (empty: the key is removed), and the option
// that set it, for messages.
struct FaceText {
  std::string key;
  std::string text;
  std::string option;
};

// The version texts and numbers a release engineer sets. The two versions are dotted quads
// ("1.2.3.4") that set the numbers of VS_FIXEDFILEINFO; their texts are among texts.
struct FaceOptions {
  std::vector<FaceText> texts;
  std::string file_version;
  std::string product_version;

  bool empty() const { return texts.empty() && file_version.empty() && product_version.empty(); }
};

// The version keys whose numbers VS_FIXEDFILEINFO holds too.
constexpr char kFileVersionKey[] = "FileVersion";
constexpr char kProductVersionKey[] = "ProductVersion";

// Checks a text given for key by option and adds it: the key must be a name (letters, digits,
// spaces, '_', '-', '.'; at most 64), not yet set by another option (ASCII case aside, as Windows
// compares keys), and the text valid UTF-8 without control characters. For FileVersion and
// ProductVersion given as numbers (numbers true), the text must be a dotted quad, and sets the
// numbers too. False with the reason, which names the option.
bool AddFaceText(const std::string& option, const std::string& key, const std::string& text,
                 bool numbers, FaceOptions& face, std::string& error);

// Replaces the stub's icons and icon groups with the images of icon (the .ico file the options
// name, open; null when none is given), and sets the version texts and numbers the options give
// in the stub's version resource, in resources (the stub's own, copied).
bool ApplyApplicationFace(const FaceOptions& options, const InputFile* icon,
                          std::vector<Resource>& resources, std::string& error);

// The texts of the stub's version resource (its first string table, in resources) that the
// options leave as they are: (key, text) pairs.
std::vector<std::pair<std::string, std::string>> StubTextsLeft(
    const FaceOptions& options, const std::vector<Resource>& resources);
