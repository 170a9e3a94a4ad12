#include "log/log_file.h"

#include <climits>

win::UniqueFile OpenLogFileForAppend(const std::wstring& path, bool writeThrough) {
  if (path.empty() || path.size() > kMaxPathChars) return {};
  const DWORD attributes = FILE_ATTRIBUTE_NORMAL | (writeThrough ? FILE_FLAG_WRITE_THROUGH : 0);
  win::UniqueFile file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, attributes, nullptr));
  if (!file) return {};
  LARGE_INTEGER zero{};
  if (!::SetFilePointerEx(file.get(), zero, nullptr, FILE_END)) return {};
  return file;
}

bool WriteLogBytes(HANDLE file, std::string_view bytes, bool flush) {
  if (bytes.size() > INT_MAX) return false;
  DWORD written = 0;
  const bool wrote =
      ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  if (!wrote) return false;
  return !flush || ::FlushFileBuffers(file);
}
