#pragma once
// The registry values with which a product's support staff switch on a
// detailed or scrambled log without a new build. CLog::ConfigureFromRegistry
// reads them here and applies them.

#include <windows.h>

#include <string>

struct LogSettings {
  DWORD level = 0;        // __LogLevel__: the threshold, 0 to keep it
  DWORD toFile = 0;       // __LogToFile__: non-zero to open __LogFile__
  std::wstring file;      // __LogFile__
  DWORD noEncrypt = 0;    // __LogNoEncrypt_@@__: kLogNoEncryptMagic for a plain text file
  DWORD noFlush = 0;      // __NoFlush__: 1 to leave lines unflushed
  DWORD openConsole = 0;  // __OpenConsole__: 1 for a console with every line
};

// The values of the key path below root; a missing key or value reads as 0 or empty.
LogSettings ReadLogSettings(HKEY root, const std::wstring& path);
