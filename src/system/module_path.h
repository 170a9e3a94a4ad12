#pragma once
// Folder and file name of the running program.

#include <string>

// The running program's folder, ending in "\".
bool GetModulDirectory(std::wstring& folder);

// The running program's file name without its folder.
bool GetModuleName(std::wstring& name);
