#include "support/scratch.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "win/strings.h"
#include "win/unique_handle.h"

namespace testing_support {

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

std::wstring UniqueName(const std::wstring& prefix) {
  static std::atomic<unsigned> counter{0};
  return win::FormatW(L"%s-%lu-%llu-%u", prefix.c_str(), ::GetCurrentProcessId(),
                      static_cast<unsigned long long>(::GetTickCount64()), ++counter);
}

ScratchFolder::ScratchFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, temp);
  path_ = std::wstring(temp) + UniqueName(L"vlrn-test") + L"\\";
  ::CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
  // Never throws: read-only files would block the removal, so they are made
  // writable first; entries that still can't go are left behind.
  std::error_code error;
  std::filesystem::recursive_directory_iterator it(path_, error), end;
  while (!error && it != end) {
    ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    it.increment(error);
  }
  std::filesystem::remove_all(path_, error);
}

std::wstring ScratchFolder::WriteFile(const std::wstring& relativePath, const std::string& content) const {
  const std::filesystem::path full = std::filesystem::path(path_) / relativePath;
  std::error_code error;
  std::filesystem::create_directories(full.parent_path(), error);
  std::ofstream(full, std::ios::binary) << content;
  return full.wstring();
}

ScratchRegKey::ScratchRegKey(HKEY root) : guard_(root, L"Software\\VLRenovaTests\\" + UniqueName(L"key")) {
  win::UniqueRegKey key;
  ::RegCreateKeyExW(guard_.root(), guard_.path().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                    key.put(), nullptr);
}

ScratchRegKey::~ScratchRegKey() = default;

}  // namespace testing_support
