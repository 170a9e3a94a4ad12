#pragma once
// Checked files kept unchangeable until they have served: the cache folder is
// the user's to write, so a file checked now and run later could be swapped
// in between unless it stays open without sharing writes, renames or deletes.

#include <string>

#include "win/unique_handle.h"

// Opens the file for reading, shared for reading (and so for running) only;
// invalid when it can't be opened so.
win::UniqueFile OpenAgainstChange(const std::wstring& path);

// Keeps a checked download open that way until ReleaseVerifiedFiles.
void HoldVerifiedFile(win::UniqueFile file);
// Closes every held download: once the setup that used them has ended, and
// before a new download clears the cache folder.
void ReleaseVerifiedFiles();
// How many downloads are held now.
size_t HeldVerifiedFileCount();
