#include "resources/resource_directory_check.h"

#include <algorithm>
#include <vector>

namespace {

// The walk reads the directory's tables and names, which come first; a packed installer's
// directory entry also covers the payload's data, which the walk never reads. The head is read
// once, and only what lies beyond it costs a read of the file.
constexpr uint32_t kHeadBytes = 64 * 1024;

class DirectoryBytes {
 public:
  DirectoryBytes(const ByteSource& file, uint64_t offset, uint32_t size, std::string& error)
      : file_(file), offset_(offset), error_(error) {
    head_.resize(std::min(size, kHeadBytes));
    head_read_ = file_.ReadAt(offset_, head_.data(), head_.size(), error_);
  }
  bool Read(uint32_t offset, uint8_t* out, uint32_t size) const {
    if (head_read_ && uint64_t{offset} + size <= head_.size()) {
      std::copy_n(head_.begin() + offset, size, out);
      return true;
    }
    return file_.ReadAt(offset_ + offset, out, size, error_);
  }

 private:
  const ByteSource& file_;
  uint64_t offset_;
  std::string& error_;
  std::vector<uint8_t> head_;
  bool head_read_ = false;
};

std::string FaultText(const ResourceCheck& check, const std::string& read_error) {
  const std::string at = " (at byte " + std::to_string(check.offset) + " of the directory)";
  switch (check.fault) {
    case ResourceFault::kNone:
      return "";
    case ResourceFault::kDirectoryUnmapped:
      return "the resource directory does not lie within the file's bytes of one section";
    case ResourceFault::kOutside:
      return "a table, entry, name or data entry of the resource directory lies beyond its "
             "bytes" + at;
    case ResourceFault::kOverclaimed:
      return "the resource directory's names, read once per entry, add up to more than its "
             "bytes" + at;
    case ResourceFault::kUnread:
      return "the resource directory could not be read: " + read_error;
    case ResourceFault::kTableOrder:
      return "a table of the resource directory is shared, overlaps another of its level or is "
             "out of the order of the walk" + at;
    case ResourceFault::kCounts:
      return "a table of the resource directory counts its named and numbered entries other "
             "than it holds them" + at;
    case ResourceFault::kOrder:
      return "the entries of a table of the resource directory are out of order or repeat a "
             "type, name or language" + at;
    case ResourceFault::kName:
      return "a resource name is empty, holds a zero, a lower-case or non-ASCII letter, or "
             "begins with '#': the loader's lookup would not find it as it is stored" + at;
    case ResourceFault::kLevel:
      return "the resource directory has data where a table belongs, a table where data "
             "belongs, or a named language" + at;
    case ResourceFault::kNoLanguage:
      return "a resource name of the directory has no language" + at;
    case ResourceFault::kDataOutside:
      return "a resource's data lies outside the image or outside the memory of one section" +
             at;
  }
  return "";
}

}  // namespace

ResourceCheck CheckResourceDirectoryOf(const PeImage& image, const ByteSource& file,
                                       std::string& reason) {
  ResourceImage facts;
  facts.sections = image.loaded_sections.data();
  facts.section_count = static_cast<uint32_t>(image.loaded_sections.size());
  facts.size_of_image = image.size_of_image;
  image.Directory(kDirectoryResource, facts.directory_rva, facts.directory_size);
  ResourceCheck check;
  std::string read_error;
  if (!ResourceDirectoryMapped(facts)) {
    check = {ResourceFault::kDirectoryUnmapped, 0};
  } else if (facts.directory_rva != 0) {
    // The section whose file bytes hold the directory, as the rule found it.
    uint64_t offset = 0;
    for (const ImageSection& s : image.loaded_sections) {
      ResourceImage one = facts;
      one.sections = &s;
      one.section_count = 1;
      if (resource_directory::WithinOneSection(one, facts.directory_rva, facts.directory_size,
                                               true)) {
        offset = s.raw_offset + (facts.directory_rva - s.virtual_address);
        break;
      }
    }
    const DirectoryBytes bytes(file, offset, facts.directory_size, read_error);
    check = CheckResourceDirectory(facts, bytes);
  }
  reason = FaultText(check, read_error);
  return check;
}
