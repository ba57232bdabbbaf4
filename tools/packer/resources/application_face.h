// The application's own face on the installer that users download: Explorer, the download prompt,
// SmartScreen and the properties dialog show its icon and its version resource, and both should
// be the application's, not the stub's. They are resources the stub never reads, so its
// behaviour does not change. Without the options the stub's own stay, byte for byte.
#pragma once

#include <string>
#include <vector>

#include "file_io.h"
#include "resource.h"

// The version texts a release engineer sets, each empty when not given; the two versions are
// dotted quads ("1.2.3.4") that set the numbers too.
struct FaceOptions {
  std::string product_name;
  std::string company_name;
  std::string file_description;
  std::string file_version;
  std::string product_version;
  std::string copyright;
};

// Replaces the stub's icons and icon groups with the images of icon (the .ico file the options
// name, open; null when none is given), and sets the version texts and numbers the options give
// in the stub's version resource, in resources (the stub's own, copied).
bool ApplyApplicationFace(const FaceOptions& options, const InputFile* icon,
                          std::vector<Resource>& resources, std::string& error);
