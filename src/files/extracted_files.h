// What a run extracted into its work directory, in one list. Every step that puts a file there
// (unpacking, the cabinet expansion, the patch run) adds it here before it creates it, and one
// clean-up at the end removes what the list holds, counting its attempts. Nothing is removed by
// the step that made it and no path is emptied to keep a file from the clean-up, so a file whose
// writing failed, a patch that was never applied and a half-written rebuilt setup program all go
// the same way as the rest.
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
};

class ExtractedFiles {
 public:
  // The archive, the setup resource and the setup program expanded or rebuilt from it.
  static constexpr uint32_t kCapacity = 3;

  // A new entry for directory followed by name, not staying and not held yet. Null when the
  // path does not fit 260 units (or the list is full, which no run reaches).
  ExtractedFile* Add(const wchar_t* directory, const wchar_t* name);

  uint32_t Count() const { return count_; }
  ExtractedFile& operator[](uint32_t index) { return entries_[index]; }

 private:
  ExtractedFile entries_[kCapacity];
  uint32_t count_ = 0;
};

// The run's clean-up. Removes every listed file, each released just before its removal, and then
// the work directory (released likewise); with everything false (removal of extracted files
// switched off) only the files that do not stay, and the directory stays with the rest. Every
// attempt count is folded into max_attempts; failures stay silent.
void RemoveExtracted(ExtractedFiles& files, bool everything, const wchar_t* work_dir,
                     HeldDirectory& work_dir_held, int32_t& max_attempts);
