// Matching after Colin Percival's bsdiff: walk the new file; at each position find the longest
// exact match anywhere in the old file (a binary search of the suffix array); take it when it
// beats, by more than a few bytes, what simply continuing the current alignment would give.
// Between two taken alignments, the previous one is extended forwards and the next one
// backwards as far as they agree more often than not: those runs become diff bytes (new minus
// old, mostly zero, so they compress to almost nothing) and the rest becomes extra bytes. This
// keeps code whose addresses all moved by a constant as a diff run instead of literal bytes.
#include "delta/engine/delta_encoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "delta/engine/byte_stream.h"
#include "delta/engine/suffix_array.h"

namespace delta {
namespace {

// A new alignment is taken only when its match is this much longer than what the current one
// would give: switching costs a control step.
constexpr int64_t kSwitchMargin = 8;

struct Files {
  const uint8_t* old_file;
  int64_t old_size;
  const uint8_t* new_file;
  int64_t new_size;
  const std::vector<int32_t>* suffixes;

  bool OldMatchesNew(int64_t old_at, int64_t new_at) const {
    return old_at >= 0 && old_at < old_size && old_file[old_at] == new_file[new_at];
  }
};

struct Match {
  int64_t old_at = 0;
  int64_t length = 0;
};

int64_t CommonPrefix(const uint8_t* a, int64_t a_size, const uint8_t* b, int64_t b_size) {
  const int64_t limit = std::min(a_size, b_size);
  int64_t i = 0;
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

// The longest prefix of new_file[new_at..] found in the old file.
Match LongestMatch(const Files& files, int64_t new_at) {
  const std::vector<int32_t>& sa = *files.suffixes;
  const uint8_t* needle = files.new_file + new_at;
  const int64_t needle_size = files.new_size - new_at;
  auto length_at = [&](int64_t k) {
    return CommonPrefix(files.old_file + sa[k], files.old_size - sa[k], needle, needle_size);
  };
  Match best;
  if (sa.empty()) return best;
  int64_t low = 0, high = static_cast<int64_t>(sa.size()) - 1;
  while (high - low > 1) {
    const int64_t middle = low + (high - low) / 2;
    const int64_t suffix_size = files.old_size - sa[middle];
    const int compared = std::memcmp(files.old_file + sa[middle], needle,
                                     static_cast<size_t>(std::min(suffix_size, needle_size)));
    if (compared < 0 || (compared == 0 && suffix_size < needle_size)) {
      low = middle;
    } else {
      high = middle;
    }
  }
  for (int64_t k : {low, high}) {
    const int64_t length = length_at(k);
    if (length > best.length || (length == best.length && best.length == 0 && k == low)) {
      best.old_at = sa[k];
      best.length = length;
    }
  }
  return best;
}

// How far the alignment (old_at, new_at) may run forwards before it agrees less than half the
// time, stopping at limit.
int64_t ExtendForwards(const Files& files, int64_t old_at, int64_t new_at, int64_t limit) {
  int64_t agreed = 0, best_score = 0, best_length = 0;
  for (int64_t i = 0; i < limit && old_at + i < files.old_size;) {
    if (files.old_file[old_at + i] == files.new_file[new_at + i]) ++agreed;
    ++i;
    if (agreed * 2 - i > best_score) {
      best_score = agreed * 2 - i;
      best_length = i;
    }
  }
  return best_length;
}

// The same backwards from (old_at, new_at), exclusive.
int64_t ExtendBackwards(const Files& files, int64_t old_at, int64_t new_at, int64_t limit) {
  int64_t agreed = 0, best_score = 0, best_length = 0;
  for (int64_t i = 1; i <= limit && i <= old_at; ++i) {
    if (files.old_file[old_at - i] == files.new_file[new_at - i]) ++agreed;
    if (agreed * 2 - i > best_score) {
      best_score = agreed * 2 - i;
      best_length = i;
    }
  }
  return best_length;
}

}  // namespace

bool EncodeDelta(const uint8_t* old_file, size_t old_size, const uint8_t* new_file,
                 size_t new_size, DeltaParts& parts) {
  std::vector<int32_t> suffixes;
  if (!BuildSuffixArray(old_file, old_size, suffixes)) return false;
  const Files files{old_file, static_cast<int64_t>(old_size), new_file,
                    static_cast<int64_t>(new_size), &suffixes};
  parts = DeltaParts{};

  int64_t scan = 0, length = 0, match_at = 0;
  int64_t last_scan = 0, last_old = 0, last_offset = 0;
  while (scan < files.new_size) {
    // Look for the next position where a new alignment beats the current one.
    int64_t current_score = 0;
    scan += length;
    int64_t scored_to = scan;
    for (; scan < files.new_size; ++scan) {
      const Match match = LongestMatch(files, scan);
      length = match.length;
      match_at = match.old_at;
      for (; scored_to < scan + length; ++scored_to) {
        if (files.OldMatchesNew(scored_to + last_offset, scored_to)) ++current_score;
      }
      if ((length == current_score && length != 0) || length > current_score + kSwitchMargin) break;
      if (files.OldMatchesNew(scan + last_offset, scan)) --current_score;
    }
    if (length == current_score && scan != files.new_size) continue;

    int64_t forwards = ExtendForwards(files, last_old, last_scan, scan - last_scan);
    int64_t backwards =
        scan < files.new_size ? ExtendBackwards(files, match_at, scan, scan - last_scan) : 0;
    // Where the two runs overlap, split them where the bytes fit best.
    if (last_scan + forwards > scan - backwards) {
      const int64_t overlap = last_scan + forwards - (scan - backwards);
      int64_t score = 0, best_score = 0, split = 0;
      for (int64_t i = 0; i < overlap; ++i) {
        if (files.new_file[last_scan + forwards - overlap + i] ==
            files.old_file[last_old + forwards - overlap + i]) {
          ++score;
        }
        if (files.new_file[scan - backwards + i] == files.old_file[match_at - backwards + i]) {
          --score;
        }
        if (score > best_score) {
          best_score = score;
          split = i + 1;
        }
      }
      forwards += split - overlap;
      backwards -= split;
    }

    for (int64_t i = 0; i < forwards; ++i) {
      parts.diff.push_back(
          static_cast<uint8_t>(files.new_file[last_scan + i] - files.old_file[last_old + i]));
    }
    const int64_t extra_from = last_scan + forwards, extra_to = scan - backwards;
    parts.extra.insert(parts.extra.end(), files.new_file + extra_from, files.new_file + extra_to);
    PutVarint(parts.controls, static_cast<uint64_t>(forwards));
    PutVarint(parts.controls, static_cast<uint64_t>(extra_to - extra_from));
    PutSignedVarint(parts.controls, (match_at - backwards) - (last_old + forwards));

    last_scan = scan - backwards;
    last_old = match_at - backwards;
    last_offset = match_at - scan;
  }
  return true;
}

}  // namespace delta
