#include "log/clog_registry.h"

#include "system/registry.h"

namespace {

constexpr wchar_t kValueLogLevel[] = L"__LogLevel__";
constexpr wchar_t kValueLogToFile[] = L"__LogToFile__";
constexpr wchar_t kValueLogFile[] = L"__LogFile__";
constexpr wchar_t kValueNoEncrypt[] = L"__LogNoEncrypt_@@__";
constexpr wchar_t kValueNoFlush[] = L"__NoFlush__";
constexpr wchar_t kValueOpenConsole[] = L"__OpenConsole__";

}  // namespace

LogSettings ReadLogSettings(HKEY root, const std::wstring& path) {
  LogSettings settings;
  const win::UniqueRegKey key = OpenRegKey(root, path);
  if (!key) return settings;
  settings.level = ReadRegDword(key.get(), kValueLogLevel).value_or(0);
  settings.toFile = ReadRegDword(key.get(), kValueLogToFile).value_or(0);
  settings.file = ReadRegString(key.get(), kValueLogFile).value_or(L"");
  settings.noEncrypt = ReadRegDword(key.get(), kValueNoEncrypt).value_or(0);
  settings.noFlush = ReadRegDword(key.get(), kValueNoFlush).value_or(0);
  settings.openConsole = ReadRegDword(key.get(), kValueOpenConsole).value_or(0);
  return settings;
}
