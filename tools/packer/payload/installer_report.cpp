#include "payload/installer_report.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "platform/file_io.h"
#include "pe/pe_checksum.h"
#include "pe/pe_image.h"
#include "resources/resource_directory_check.h"
#include "resources/resource_listing.h"

namespace {

// An icon group lists at most 65,535 images of 14 bytes each; a version block is at most 64 KiB.
// A resource that claims more is not read.
constexpr uint32_t kLargestIconGroup = 6 + 14 * 65535;
constexpr uint32_t kLargestVersionBlock = 0xFFFF;
// A certificate table holds at least one entry's 8-byte header.
constexpr uint32_t kSmallestCertificateTable = 8;

bool ComputeChecksum(const InputFile& file, const PeImage& image, uint32_t& checksum,
                     std::string& error) {
  PeChecksum sum;
  std::vector<uint8_t> buffer(kCopyChunk);
  const uint64_t field = image.ChecksumOffset();
  for (uint64_t at = 0; at < file.size();) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), file.size() - at));
    if (!file.ReadAt(at, buffer.data(), n, error)) return false;
    for (uint64_t i = std::max(at, field); i < std::min(at + n, field + 4); ++i) buffer[i - at] = 0;
    sum.Add(buffer.data(), n);
    at += n;
  }
  checksum = sum.Finish();
  return true;
}

// Resource data as the installer's own code finds it once the loader has mapped the image: the
// file's bytes, and zeros where a section's memory ends before its file data does.
class FileData final : public ResourceData {
 public:
  FileData(const PeImage& image, const InputFile& file) : image_(image), file_(file) {}
  bool Read(const Resource& r, uint64_t offset, uint8_t* out, size_t size,
            std::string& error) const override {
    if (offset > r.size || size > r.size - offset) {
      error = "beyond the resource's data";
      return false;
    }
    return image_.ReadLoaded(file_, uint64_t{r.data_rva} + offset, out, size, error);
  }

 private:
  const PeImage& image_;
  const InputFile& file_;
};

bool ReadWhole(const Resource& r, uint32_t largest, const ResourceData& data,
               std::vector<uint8_t>& bytes) {
  std::string ignored;
  bytes.resize(std::min(r.size, largest));
  return r.loaded != MappedBytes::kUnmapped && data.Read(r, 0, bytes.data(), bytes.size(), ignored);
}

// The first icon group and the first version resource, as Explorer finds them.
void ReadApplicationFace(const std::vector<Resource>& others, const ResourceData& data,
                         InstallerReport& report) {
  std::vector<uint8_t> bytes;
  for (const Resource& r : others) {
    if (HasId(r.type, kRtGroupIcon) && !report.has_icon) {
      report.has_icon = true;
      report.icon_group = r.name;
      report.icon_readable = ReadWhole(r, kLargestIconGroup, data, bytes) &&
                             ParseIconGroup(bytes, report.icons);
    }
    if (HasId(r.type, kRtVersion) && !report.has_version) {
      report.has_version = true;
      report.version_readable = ReadWhole(r, kLargestVersionBlock, data, bytes) &&
                                ReadVersionBlock(bytes, report.version);
    }
  }
  // Each image of the group is looked up once, among icons found in one pass.
  std::map<uint16_t, const Resource*> icons;
  for (const Resource& r : others) {
    if (HasId(r.type, kRtIcon) && !r.name.named) icons.emplace(r.name.id, &r);
  }
  for (IconGroupEntry& entry : report.icons) {
    const auto found = icons.find(entry.id);
    uint8_t start[8];
    std::string ignored;
    entry.png = found != icons.end() && found->second->size >= sizeof(start) &&
                data.Read(*found->second, 0, start, sizeof(start), ignored) &&
                StartsAsPng(start, sizeof(start));
  }
}

}  // namespace

std::string HexText(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

bool StartsOnPage(const PeSection& section) {
  return section.raw_size != 0 && section.raw_offset % kPageSize == 0 &&
         section.virtual_address % kPageSize == 0;
}

bool InstallerReport::PageAligned() const {
  if (file_alignment % kPageSize != 0 || size_of_headers % kPageSize != 0) return false;
  for (const PeSection& s : sections) {
    if (s.raw_size != 0 && !StartsOnPage(s)) return false;
  }
  return true;
}

bool InspectInstaller(const std::string& path, InstallerReport& report, std::string& error,
                      bool compute_checksum) {
  report = InstallerReport();
  report.path = path;
  InputFile file;
  PeImage image;
  std::vector<Resource> listing;
  if (!file.Open(path, error) || !ReadPeImage(file, image, error)) return false;
  // The stub's own check of its directory, before anything reads a resource from it, as the stub
  // does it.
  std::string directory_fault;
  const ResourceCheck directory = CheckResourceDirectoryOf(image, file, directory_fault);
  if (directory.fault == ResourceFault::kUnread) {
    error = directory_fault;
    return false;
  }
  const bool directory_sound = directory.fault == ResourceFault::kNone;
  // A directory the rules refuse is still listed as far as it can be read, for the report.
  if (!ReadResourceListing(image, file, listing, error)) {
    if (directory_sound) return false;
    listing.clear();
    error.clear();
  }
  if (compute_checksum && !ComputeChecksum(file, image, report.computed_checksum, error)) {
    return false;
  }
  report.checksum_computed = compute_checksum;
  report.file_size = image.file_size;
  report.pe32_plus = image.pe32_plus;
  report.overlay = image.file_size - image.RawEnd();
  report.stored_checksum = image.checksum;
  report.file_alignment = image.file_alignment;
  report.size_of_headers = image.size_of_headers;
  report.sections = image.sections;
  uint32_t rva = 0, size = 0;
  image.Directory(kDirectorySecurity, rva, size);
  // Its "address" is a file offset. A signature follows the sections, within the file.
  report.signature_offset = rva;
  report.signature_size = size;
  if ((rva != 0 || size != 0) &&
      (size < kSmallestCertificateTable || rva < image.RawEnd() ||
       uint64_t{rva} + size > image.file_size)) {
    report.signature_malformed = true;
    report.image_fault = "its certificate table (" + std::to_string(size) + " bytes at offset " +
                         HexText(rva) + ") does not lie within the file after the sections; " +
                         "no signing tool or signature check can read it";
  } else if (compute_checksum) {
    CheckSignature(image, file, rva, size, report.signature);
    if (report.signature.Faulty()) {
      report.image_fault = report.signature.problem + "; sign it again";
    }
  }
  image.Directory(kDirectoryResource, rva, size);
  if (const PeSection* s = rva != 0 ? image.SectionAt(rva) : nullptr) {
    report.resource_section = s->name;
  }
  const FileData data(image, file);
  ReadPayloadLayout(listing, data, report.layout, directory_sound);
  if (!directory_sound) report.layout.verdict = RefusedDirectoryVerdict(directory_fault);
  ReadUpdateFacts(report.layout, data, report.update);
  // The loader reads the manifest as the process starts, before any of the stub's code runs.
  for (const Resource& r : report.layout.others) {
    if (report.image_fault.empty() && HasId(r.type, kRtManifest) &&
        r.loaded == MappedBytes::kUnmapped) {
      report.image_fault = "its manifest reaches beyond the image as the loader maps it: the "
                           "process fails as it starts";
    }
  }
  ReadApplicationFace(report.layout.others, data, report);
  error.clear();
  return true;
}
