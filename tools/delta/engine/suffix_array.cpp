// SA-IS: classify each suffix as S (smaller than the next suffix) or L (larger); the leftmost
// S suffixes of each run (LMS) are sorted first, by sorting the LMS substrings with two induced
// passes, naming them and, when names repeat, sorting the string of names recursively; their
// order then induces the order of all other suffixes in two more passes. The end of the text is
// a virtual sentinel, smaller than every character, so that the input needs no copy.
#include "delta/engine/suffix_array.h"

namespace delta {
namespace {

constexpr int32_t kEmpty = -1;

template <typename Char>
struct Text {
  const Char* chars;
  int32_t size;
  int32_t alphabet;
  std::vector<uint8_t> is_s;  // suffix type, S = 1

  bool IsLms(int32_t i) const { return i > 0 && i < size && is_s[i] && !is_s[i - 1]; }
};

template <typename Char>
void Classify(Text<Char>& text) {
  text.is_s.assign(text.size, 0);
  // The last character is followed by the sentinel, so its suffix is L.
  for (int32_t i = text.size - 2; i >= 0; --i) {
    text.is_s[i] = text.chars[i] < text.chars[i + 1] ||
                   (text.chars[i] == text.chars[i + 1] && text.is_s[i + 1]);
  }
}

// Each character's bucket: heads (first slot) or tails (one past the last slot).
template <typename Char>
void BucketBounds(const Text<Char>& text, bool tails, std::vector<int32_t>& bounds) {
  bounds.assign(text.alphabet + 1, 0);
  for (int32_t i = 0; i < text.size; ++i) ++bounds[text.chars[i] + 1];
  for (int32_t c = 1; c <= text.alphabet; ++c) bounds[c] += bounds[c - 1];
  if (tails) bounds.erase(bounds.begin());
}

// From the LMS suffixes in place at their buckets' tails: the L suffixes left to right, then the
// S suffixes right to left.
template <typename Char>
void Induce(const Text<Char>& text, int32_t* sa) {
  std::vector<int32_t> bucket;
  BucketBounds(text, false, bucket);
  // The sentinel's suffix comes first of all; the suffix before it is L.
  sa[bucket[text.chars[text.size - 1]]++] = text.size - 1;
  for (int32_t i = 0; i < text.size; ++i) {
    const int32_t j = sa[i] - 1;
    if (sa[i] > 0 && !text.is_s[j]) sa[bucket[text.chars[j]]++] = j;
  }
  BucketBounds(text, true, bucket);
  for (int32_t i = text.size - 1; i >= 0; --i) {
    const int32_t j = sa[i] - 1;
    if (sa[i] > 0 && text.is_s[j]) sa[--bucket[text.chars[j]]] = j;
  }
}

template <typename Char>
bool SameLmsSubstring(const Text<Char>& text, int32_t a, int32_t b) {
  for (int32_t d = 0;; ++d) {
    // The substring that reaches the sentinel is unlike every other.
    if (a + d == text.size || b + d == text.size) return false;
    if (text.chars[a + d] != text.chars[b + d] || text.is_s[a + d] != text.is_s[b + d]) return false;
    if (d > 0) {
      const bool a_ends = text.IsLms(a + d), b_ends = text.IsLms(b + d);
      if (a_ends || b_ends) return a_ends && b_ends;
    }
  }
}

template <typename Char>
void Sort(const Char* chars, int32_t size, int32_t alphabet, int32_t* sa) {
  if (size == 0) return;
  if (size == 1) {
    sa[0] = 0;
    return;
  }
  Text<Char> text{chars, size, alphabet, {}};
  Classify(text);

  // 1. LMS substrings sorted by induction from LMS positions in any order.
  std::vector<int32_t> bucket;
  BucketBounds(text, true, bucket);
  for (int32_t i = 0; i < size; ++i) sa[i] = kEmpty;
  for (int32_t i = size - 1; i > 0; --i) {
    if (text.IsLms(i)) sa[--bucket[chars[i]]] = i;
  }
  Induce(text, sa);

  // 2. Names: equal LMS substrings share one; the names in text order form the reduced string.
  std::vector<int32_t> sorted_lms;
  for (int32_t i = 0; i < size; ++i) {
    if (text.IsLms(sa[i])) sorted_lms.push_back(sa[i]);
  }
  const int32_t lms_count = static_cast<int32_t>(sorted_lms.size());
  std::vector<int32_t> name_at(size / 2 + 1, kEmpty);  // LMS positions are never adjacent
  int32_t names = 0;
  for (int32_t k = 0; k < lms_count; ++k) {
    if (k == 0 || !SameLmsSubstring(text, sorted_lms[k - 1], sorted_lms[k])) ++names;
    name_at[sorted_lms[k] / 2] = names - 1;
  }
  std::vector<int32_t> lms_in_text_order, reduced;
  for (int32_t i = 1; i < size; ++i) {
    if (text.IsLms(i)) {
      lms_in_text_order.push_back(i);
      reduced.push_back(name_at[i / 2]);
    }
  }
  name_at.clear();
  name_at.shrink_to_fit();

  // 3. The LMS suffixes in order: directly when every name is unique, else recursively.
  if (names < lms_count) {
    std::vector<int32_t> reduced_sa(lms_count);
    Sort<int32_t>(reduced.data(), lms_count, names, reduced_sa.data());
    for (int32_t k = 0; k < lms_count; ++k) sorted_lms[k] = lms_in_text_order[reduced_sa[k]];
  } else {
    for (int32_t k = 0; k < lms_count; ++k) sorted_lms[reduced[k]] = lms_in_text_order[k];
  }

  // 4. Every suffix, induced from the sorted LMS suffixes placed at their buckets' tails.
  for (int32_t i = 0; i < size; ++i) sa[i] = kEmpty;
  BucketBounds(text, true, bucket);
  for (int32_t k = lms_count - 1; k >= 0; --k) sa[--bucket[chars[sorted_lms[k]]]] = sorted_lms[k];
  Induce(text, sa);
}

}  // namespace

bool BuildSuffixArray(const uint8_t* text, size_t size, std::vector<int32_t>& suffixes) {
  if (size > kMaxSuffixArrayText) return false;
  suffixes.assign(size, kEmpty);
  Sort<uint8_t>(text, static_cast<int32_t>(size), 256, suffixes.data());
  return true;
}

}  // namespace delta
