#include "log_test_files.h"

#include <windows.h>

#include <cstdio>

#include "win/unique_handle.h"

namespace log_testing {

std::string ReadBytes(const std::wstring& path) {
  // Shared for writing too: the file may still be open in a log.
  win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  const std::string bytes = ReadBytes(path);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = bytes.find("\r\n"); end != std::string::npos; end = bytes.find("\r\n", start)) {
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

std::string AfterStamp(const std::string& line) { return line.size() > 24 ? line.substr(24) : std::string(); }

std::string ThreadPrefix() {
  char prefix[32] = {};
  std::snprintf(prefix, sizeof(prefix), "[08%lx] ", ::GetCurrentThreadId());
  return prefix;
}

}  // namespace log_testing
