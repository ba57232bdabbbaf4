#include "payload/payload_layout.h"

#include <algorithm>

#include "cabinet/cabinet_header.h"
#include "platform/utf_text.h"

namespace {

// The most of the previous version that is read back; the stub takes any length, but a version
// string longer than this is not something a person reads.
constexpr uint32_t kMaxShownVersion = 64 * 1024;

// The stub meets at most this many names of one type: it records at most the archive and the
// setup program, and the third named resource of a type is always a second member or an
// unknown name, where it stops. Only these few are looked up and read.
constexpr size_t kEntriesTheStubReaches = 3;

// Windows finds a resource by a binary search over the sorted names of a directory, with the
// name it is given upper-cased; a name stored out of order or in lower case is enumerated but
// not found again. This repeats that search over the names as stored.
bool LoaderFinds(const std::vector<ResourceKey>& stored, const std::u16string& wanted) {
  const std::u16string key = AsciiUpper(wanted);
  size_t low = 0, high = stored.size();
  while (low < high) {
    const size_t middle = (low + high) / 2;
    const std::u16string& name = stored[middle].name();
    if (name == key) return true;
    if (name < key) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return false;
}

// The resources listed under one payload type's directory entry.
struct TypeGroup {
  uint32_t type_entry = 0;
  PayloadType type = PayloadType::kPacked;
  std::vector<ResourceKey> names;           // the string names, in stored order
  std::vector<const Resource*> firsts;      // the first language of each name, in order
  std::vector<uint32_t> languages;          // how many languages each name has
};

bool BeginsWithCabinetSignature(const Resource& r, const ResourceData& data) {
  uint8_t magic[4] = {};
  std::string ignored;
  return r.loaded != MappedBytes::kUnmapped && r.size >= sizeof(magic) &&
         data.Read(r, 0, magic, sizeof(magic), ignored) && magic[0] == 'M' && magic[1] == 'S' &&
         magic[2] == 'C' && magic[3] == 'F';
}

MemberCabinet ReadMemberCabinet(const Resource& r, const ResourceData& data) {
  MemberCabinet facts;
  facts.cabinet = BeginsWithCabinetSignature(r, data);
  if (!facts.cabinet) return facts;
  std::vector<uint8_t> header(std::min<size_t>(r.size, kCabinetHeaderReach));
  std::string ignored;
  facts.readable = data.Read(r, 0, header.data(), header.size(), ignored) &&
                   ReadFolderCompression(header.data(), header.size(), facts.compression);
  return facts;
}

void ReadPreviousVersion(const Resource& r, const ResourceData& data, PayloadLayout& layout) {
  layout.has_previous_version = true;
  layout.previous_version_size = r.size;
  std::vector<uint8_t> bytes(std::min(r.size, kMaxShownVersion) & ~1u);
  uint8_t last[2] = {1, 1};
  std::string ignored;
  if (r.loaded == MappedBytes::kUnmapped || r.size < 2 ||
      !data.Read(r, 0, bytes.data(), bytes.size(), ignored) ||
      !data.Read(r, r.size - 2, last, 2, ignored)) {
    return;
  }
  layout.previous_version_valid = r.size % 2 == 0 && last[0] == 0 && last[1] == 0;
  layout.previous_version = TerminatedUtf16Text(bytes);
}

}  // namespace

void ReadPayloadLayout(const std::vector<Resource>& directory, const ResourceData& data,
                       PayloadLayout& layout, bool read_members) {
  layout = PayloadLayout();
  std::vector<ResourceKey> named_types;
  std::vector<TypeGroup> groups;
  const Resource* version = nullptr;
  for (const Resource& r : directory) {
    const bool new_type = groups.empty() || groups.back().type_entry != r.type_entry;
    if (r.type.named && (named_types.empty() || named_types.back() != r.type)) {
      named_types.push_back(r.type);
    }
    PayloadType type = PayloadType::kPacked;
    if (!r.type.named || !ParsePayloadType(r.type.name(), type)) {
      if (IsPreviousVersion(r)) {
        // Its further languages count: which one the stub reads depends on the machine.
        if (version == nullptr) version = &r;
        if (version->name_entry == r.name_entry) ++layout.previous_version_languages;
        if (version == &r) continue;
      }
      layout.others.push_back(r);
      continue;
    }
    layout.payload.push_back(r);
    layout.cabinets.push_back(ReadMemberCabinet(r, data));
    if (new_type) groups.push_back({r.type_entry, type, {}, {}, {}});
    TypeGroup& group = groups.back();
    // A further language of a name: counted, not read; the stub finds one of them by the name.
    if (!group.firsts.empty() && group.firsts.back()->name_entry == r.name_entry) {
      ++group.languages.back();
      continue;
    }
    if (r.name.named) group.names.push_back(r.name);
    group.firsts.push_back(&r);
    group.languages.push_back(1);
  }

  std::vector<ScannedType> reachable;
  for (const TypeGroup& group : groups) {
    const char* type_name = PayloadTypeName(group.type).narrow;
    if (!LoaderFinds(named_types, std::u16string(type_name, type_name + 2))) {
      continue;
    }
    ScannedType t{group.type, {}};
    for (size_t i = 0; i < group.firsts.size() && i < kEntriesTheStubReaches; ++i) {
      const Resource& r = *group.firsts[i];
      PayloadEntry e;
      e.resource = r;
      e.languages = group.languages[i];
      // A name beginning with '#' is read by FindResourceW as a number, not looked up by name.
      const std::u16string seen = TerminatedName(r.name);
      e.findable = r.name.named && (seen.empty() || seen[0] != u'#') && LoaderFinds(group.names, seen);
      t.entries.push_back(std::move(e));
    }
    reachable.push_back(std::move(t));
  }

  if (version != nullptr) ReadPreviousVersion(*version, data, layout);
  PreviousVersionFacts previous;
  previous.present = layout.previous_version_valid;
  previous.text = layout.previous_version;
  previous.languages = layout.previous_version_languages;
  layout.verdict = JudgePayload(reachable, previous, data, read_members);
}
