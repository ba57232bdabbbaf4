#include "reports/report_digests.h"

#include <algorithm>

#include "platform/digest.h"
#include "platform/file_io.h"

bool ComputeReportDigests(const InstallerReport& report, ReportDigests& digests,
                          std::string& error) {
  digests = ReportDigests();
  InputFile file;
  if (!file.Open(report.path, error)) return false;
  const std::vector<Resource>& members = report.layout.payload;
  Digest whole;
  std::vector<Digest> parts(members.size());
  if (!whole.Start(DigestAlgorithm::kSha256, error)) return false;
  for (Digest& part : parts) {
    if (!part.Start(DigestAlgorithm::kSha256, error)) return false;
  }
  // One pass: each chunk feeds the whole file's digest and the members it overlaps, so that a
  // large payload is read once.
  std::vector<uint8_t> buffer(kCopyChunk);
  for (uint64_t at = 0; at < file.size();) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), file.size() - at));
    if (!file.ReadAt(at, buffer.data(), n, error)) return false;
    whole.Add(buffer.data(), n);
    for (size_t i = 0; i < members.size(); ++i) {
      const Resource& m = members[i];
      if (!m.mapped) continue;
      const uint64_t from = std::max(at, m.file_offset);
      const uint64_t to = std::min(at + n, m.file_offset + m.size);
      if (from < to) parts[i].Add(buffer.data() + (from - at), static_cast<size_t>(to - from));
    }
    at += n;
  }
  std::vector<uint8_t> digest;
  if (!whole.Finish(digest, error)) return false;
  digests.installer = HexDigest(digest);
  for (size_t i = 0; i < members.size(); ++i) {
    if (!parts[i].Finish(digest, error)) return false;
    digests.members.push_back(members[i].mapped ? HexDigest(digest) : "");
  }
  return true;
}
