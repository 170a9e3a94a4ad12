#pragma once
// Starting programs and stopping running ones by image name.

#include <windows.h>

#include <string>

// Terminates every process whose image name is imageName (any case) and, when
// processId is not 0, whose id is processId. A process that can't be ended is
// tried again with a fresh list, up to 100 times. True when the last listing
// went through without a failure.
bool StopProcess(const std::wstring& imageName, DWORD processId, int attempt);

// Starts file with arguments. Elevated goes through the shell's "runas" verb;
// otherwise the program is created directly, with the command line "file" arguments,
// or, when file is empty, with arguments alone as the whole command line. With
// wait, blocks until the program ends and stores its exit code in exitCode (set to
// 0 first). 0 when the program was started (and its exit code read), else the
// system's error code.
DWORD StartProcess(const std::wstring& file, const std::wstring& arguments, bool wait, DWORD& exitCode, bool elevated);
