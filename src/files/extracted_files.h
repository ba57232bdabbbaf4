// What a run extracted into its work directory, in one list. Every step that puts a file there
// (unpacking, the cabinet expansion, the patch run) adds it here before it creates it, so that a
// file whose writing failed, a patch that was never applied and a half-written rebuilt setup
// program all go with the rest. Two files go as soon as the run is done with them, so that the
// setup program finds only itself and the archive beside it: the cabinet right after its
// expansion and the patch right after the patch run, whatever their outcome. Each leaves the list
// then; one clean-up at the end removes what the list still holds. Every removal counts its
// attempts into the run's one maximum.
#pragma once

#include <stdint.h>

#include "base/bounded_string.h"
#include "files/held_directory.h"
#include "files/held_file.h"

struct ExtractedFile {
  PathBuffer path;
  // Open from the file's creation until its removal: see held_file.h.
  HeldFile file;
  // Kept when the removal of extracted files is switched off: the archive and the setup program
  // that the install invocation runs, once they were written whole. Everything else (the
  // compressed setup file, the patch, a file whose writing failed) goes in every case.
  bool stays = false;
  // Set when the entry is made; cleared when its file was removed early (RemoveEarly), which the
  // clean-up then passes by.
  bool listed = false;
};

class ExtractedFiles {
 public:
  // The archive, the setup resource and the setup program expanded or rebuilt from it.
  static constexpr uint32_t kCapacity = 3;

  // A new entry for directory followed by name, listed, not staying and not held yet. Null when
  // the path does not fit 260 units (or the list is full, which no run reaches).
  ExtractedFile* Add(const wchar_t* directory, const wchar_t* name);

  // The entries made; one removed early keeps its place (so that pointers to the others stay
  // good) but is no longer listed.
  uint32_t Count() const { return count_; }
  ExtractedFile& operator[](uint32_t index) { return entries_[index]; }

 private:
  ExtractedFile entries_[kCapacity];
  uint32_t count_ = 0;
};

// Removes a listed file as soon as the run is done with it: released just before its removal, its
// attempt count folded into max_attempts, and no longer listed whether the removal succeeded or
// not (what resists ten seconds of retries would resist the clean-up's as well).
void RemoveEarly(ExtractedFile& entry, int32_t& max_attempts);

// The run's clean-up. Removes every listed file, each released just before its removal, and then
// the work directory (released likewise); with everything false (removal of extracted files
// switched off) only the files that do not stay, and the directory stays with the rest. Every
// attempt count is folded into max_attempts; failures stay silent.
void RemoveExtracted(ExtractedFiles& files, bool everything, const wchar_t* work_dir,
                     HeldDirectory& work_dir_held, int32_t& max_attempts);
