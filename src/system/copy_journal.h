#pragma once
// What a tree copy changed in its target, so that a copy that fails half-way
// can put the target back as it was: an update's files go in together or not
// at all, never some old and some new. A file about to be replaced is first
// kept as a copy in the temporary folder; the copies go when the journal ends.

#include <windows.h>

#include <string>
#include <vector>

class CopyJournal {
 public:
  CopyJournal() = default;
  // Keeps its copies in keptFolder (ending in "\\") rather than in the
  // temporary folder, where an unelevated process could change them before
  // a roll-back puts them back.
  explicit CopyJournal(std::wstring keptFolder);
  ~CopyJournal();
  CopyJournal(const CopyJournal&) = delete;
  CopyJournal& operator=(const CopyJournal&) = delete;

  // Before path is written: an existing file is kept as a copy first, a missing
  // one is noted as new. False (logged) when the file can't be kept; it must
  // then not be written.
  bool KeepBeforeWriting(const std::wstring& path);
  // The file last noted was never opened for writing (the system refused it),
  // so it is as it was and needs no putting back; its attributes are restored.
  void ForgetLast();
  // A folder the copy created, to be removed again on a roll-back.
  void AddCreatedFolder(const std::wstring& folder);
  // Puts the replaced files back with their attributes and removes the new
  // files and folders, the latest first. True when everything went back;
  // what could not is logged.
  bool RollBack();

 private:
  struct Written {
    std::wstring path;
    std::wstring kept;  // empty: the file was new
    DWORD attributes = 0;
  };

  std::vector<Written> files_;
  std::vector<std::wstring> folders_;
  std::wstring keptFolder_;
};
