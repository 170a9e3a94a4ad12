#include "support/served_files.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "support/child_process.h"

namespace testing_support {

ServedFiles::ServedFiles(const std::wstring& scope)
    : scope_(scope), folder_(BinFolder() + L"..\\update-server\\catalog\\files\\" + scope + L"\\") {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
}

ServedFiles::~ServedFiles() {
  std::error_code error;
  std::filesystem::remove_all(folder_, error);
}

bool ServedFiles::Write(const std::wstring& relativePath, const std::string& content) const {
  const std::filesystem::path path(folder_ + relativePath);
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  std::ofstream file(path, std::ios::binary);
  file << content;
  return static_cast<bool>(file.flush());
}

bool ServedFiles::Copy(const std::wstring& relativePath, const std::wstring& sourceFile) const {
  const std::filesystem::path path(folder_ + relativePath);
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  return ::CopyFileW(sourceFile.c_str(), path.c_str(), FALSE) != FALSE;
}

std::string ServedFiles::Url(const char* scheme, uint16_t port, const std::wstring& relativePath,
                             const std::wstring& faults) const {
  std::wstring path = L"/t/" + scope_;
  if (!faults.empty()) path += L"/f/" + faults;
  path += L"/files/" + scope_ + L"/" + relativePath;
  std::string narrow;
  for (const wchar_t c : path) narrow += c == L'\\' ? '/' : static_cast<char>(c);
  return std::string(scheme) + "://localhost:" + std::to_string(port) + narrow;
}

std::string ChangedByService(const std::string& content) {
  constexpr char kChange = 0x5A;
  std::string changed = content;
  for (char& c : changed) c = static_cast<char>(c ^ kChange);
  return changed;
}

}  // namespace testing_support
