#pragma once
// The system's text for an error code, as every "because:" message quotes it.

#include <windows.h>

#include <string>

// The message for the calling thread's last error without line breaks, followed by
// " (code)". A code the system has no message for gives " (code)" alone.
std::wstring GetLastErrorText();

// The same text for a code the caller saved earlier.
std::wstring GetErrorText(DWORD code);
