// Configuration of a log from registry values, for products that let support
// staff switch on a detailed or scrambled log without a new build.
#include <climits>
#include <optional>
#include <string>

#include "actions/registry.h"
#include "log/clog.h"

namespace {

constexpr wchar_t kConfigureSource[] = L"XXX";
constexpr wchar_t kValueLogLevel[] = L"__LogLevel__";
constexpr wchar_t kValueLogToFile[] = L"__LogToFile__";
constexpr wchar_t kValueLogFile[] = L"__LogFile__";
constexpr wchar_t kValueNoEncrypt[] = L"__LogNoEncrypt_@@__";
constexpr wchar_t kValueNoFlush[] = L"__NoFlush__";
constexpr wchar_t kValueOpenConsole[] = L"__OpenConsole__";
constexpr int kDiagnosticLevel = 1;

struct LogSettings {
  DWORD level = 0;
  DWORD toFile = 0;
  std::wstring file;
  DWORD noEncrypt = 0;
  DWORD noFlush = 0;
  DWORD openConsole = 0;
};

// A missing key or value reads as 0 or empty.
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

}  // namespace

HRESULT CLog::ConfigureFromRegistry(HINSTANCE module, HKEY root, const wchar_t* keyPath, uint8_t rotation) {
  if (!Ready()) return E_FAIL;
  if (root == nullptr || keyPath == nullptr || *keyPath == L'\0') return E_INVALIDARG;
  LogLockHold hold(lock_);
  const HRESULT init = Init(kConfigureSource, false, kLogLevelOff, true);
  if (FAILED(init)) return init;
  const LogSettings settings = ReadLogSettings(root, keyPath);

  SetFlush(settings.noFlush != 1);
  if (settings.openConsole == 1) {
    ::AllocConsole();  // fails harmlessly when the process has a console already
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE) SetConsole(output, true);
  }
  if (settings.level != 0) SetThreshold(settings.level > INT_MAX ? INT_MAX : static_cast<int>(settings.level));

  if (settings.toFile != 0 && !settings.file.empty()) {
    const bool opened = settings.noEncrypt == kLogNoEncryptMagic
                            ? SetLogFile(settings.file.c_str(), kLogTextChannel, true, rotation)
                            : SetLogFile(settings.file.c_str(), kLogRecordChannel, true,
                                         rotation != 0 ? rotation : kLogDefaultRotation);
    if (!opened) return S_OK;
  }
  WriteDiagnostics(module, kDiagnosticLevel, kLogLevelAudit);
  return S_OK;
}
