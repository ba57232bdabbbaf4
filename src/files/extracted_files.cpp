#include "files/extracted_files.h"

#include "files/remove_with_retry.h"

ExtractedFile* ExtractedFiles::Add(const wchar_t* directory, const wchar_t* name) {
  if (count_ == kCapacity) return nullptr;
  ExtractedFile& entry = entries_[count_];
  PathBuffer& path = entry.path;
  if (!CopyBounded(path.text, path.capacity, directory) ||
      !AppendBounded(path.text, path.capacity, name)) {
    return nullptr;
  }
  entry.listed = true;
  ++count_;
  return &entry;
}

void RemoveEarly(ExtractedFile& entry, int32_t& max_attempts) {
  // A held file refuses the deletion: nobody may delete it, this run included.
  entry.file.Release();
  int32_t attempts = 0;
  (void)RemoveWithRetry(entry.path.text, attempts);
  FoldAttempts(max_attempts, attempts);
  entry.listed = false;
}

void RemoveExtracted(ExtractedFiles& files, bool everything, const wchar_t* work_dir,
                     HeldDirectory& work_dir_held, int32_t& max_attempts) {
  int32_t attempts = 0;
  for (uint32_t i = 0; i < files.Count(); ++i) {
    ExtractedFile& entry = files[i];
    if (!entry.listed || (entry.stays && !everything)) continue;
    // A held file refuses the deletion: nobody may delete it, this run included.
    entry.file.Release();
    RemoveWithRetry(entry.path.text, attempts);
    FoldAttempts(max_attempts, attempts);
  }
  if (!everything) return;
  // Last: only an empty directory can be removed, and only once nobody holds it without sharing
  // deletion, this run included.
  work_dir_held.Release();
  RemoveWithRetry(work_dir, attempts);
  FoldAttempts(max_attempts, attempts);
}
