#include "support/product_log.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "win/unique_handle.h"

namespace testing_support {

std::wstring LogFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, temp);
  return std::wstring(temp) + L"VI Vadavura\\VL Renova\\";
}

std::string ReadProductLog(const std::wstring& fileName) {
  const std::wstring folder = LogFolder();
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  win::UniqueFind find(::FindFirstFileW((folder + L"*_" + fileName + L".log").c_str(), &found));
  if (find) {
    do {
      names.emplace_back(found.cFileName);
    } while (::FindNextFileW(find.get(), &found));
  }
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::wstring& name : names) {
    // The stamp is the only other part of the name: "*_" must not reach into the product's name.
    if (name.size() != 14 + 1 + fileName.size() + 4) continue;
    win::UniqueFile file(::CreateFileW((folder + name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    char buffer[4096];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
      text.append(buffer, read);
    }
  }
  return text;
}

}  // namespace testing_support
