#pragma once
// Checked files kept unchangeable until they have served: the cache folder is
// the user's to write, so a file checked now and run later could be swapped
// in between unless it stays open without sharing writes, renames or deletes.
// The list also says which files this run checked, so that nothing else that
// lies in the folder is run or copied.

#include <optional>
#include <string>
#include <vector>

#include "win/unique_handle.h"

// Opens the file for reading, shared for reading (and so for running) only;
// invalid when it can't be opened so.
win::UniqueFile OpenAgainstChange(const std::wstring& path);

// Keeps a checked download open that way until ReleaseVerifiedFiles.
void HoldVerifiedFile(const std::wstring& path, win::UniqueFile file);
// Keeps the folder the downloads lie in open without sharing renames or
// deletes, so that it can't be moved away and replaced. False when it can't
// be opened as a plain folder.
bool HoldDownloadFolder(const std::wstring& folder);
// Closes every held download and the folder: once the setup that used them
// has ended, and before a new download clears the cache folder.
void ReleaseVerifiedFiles();
// How many downloads are held now.
size_t HeldVerifiedFileCount();

// Whether path names a file held now (compared as the system resolves paths).
bool IsVerifiedFile(const std::wstring& path);
// The held files below folder (ending in "\"), relative to it, in the order
// they were checked.
std::vector<std::wstring> VerifiedFilesBelow(const std::wstring& folder);
// The first file or link in the tree of folder (ending in "\") that is not a
// held file: what this run did not download and check. Nothing when there is none.
std::optional<std::wstring> FirstUnverifiedEntry(const std::wstring& folder);
