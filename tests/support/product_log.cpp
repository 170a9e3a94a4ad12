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

namespace {

constexpr size_t kStampChars = 14;

bool AllDigits(const std::wstring& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// "<stamp>_<fileName>.log", or "<stamp>_<fileName>_<process id>.log" for an
// updater that found the first one held by another: the stamp and the process
// id are the only other parts, so "*_" must not reach into the product's name.
bool IsProductLogName(const std::wstring& name, const std::wstring& fileName) {
  const std::wstring head = L"_" + fileName;
  if (name.size() < kStampChars + head.size() + 4 || !AllDigits(name.substr(0, kStampChars)) ||
      name.compare(kStampChars, head.size(), head) != 0 || !name.ends_with(L".log")) {
    return false;
  }
  const std::wstring rest = name.substr(kStampChars + head.size(), name.size() - kStampChars - head.size() - 4);
  return rest.empty() || (rest[0] == L'_' && AllDigits(rest.substr(1)));
}

}  // namespace

std::string ReadProductLog(const std::wstring& fileName) {
  const std::wstring folder = LogFolder();
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  win::UniqueFind find(::FindFirstFileW((folder + L"*_" + fileName + L"*.log").c_str(), &found));
  if (find) {
    do {
      if (IsProductLogName(found.cFileName, fileName)) names.emplace_back(found.cFileName);
    } while (::FindNextFileW(find.get(), &found));
  }
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::wstring& name : names) {
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

std::string LastLines(const std::string& text, size_t count) {
  if (count == 0) return {};
  // A final line break ends the last line; it does not begin another.
  size_t start = text.size();
  if (start > 0 && text[start - 1] == '\n') --start;
  for (; count > 0; --count) {
    const size_t lineBreak = start == 0 ? std::string::npos : text.rfind('\n', start - 1);
    if (lineBreak == std::string::npos) return text;
    start = lineBreak;
  }
  return text.substr(start + 1);
}

}  // namespace testing_support
