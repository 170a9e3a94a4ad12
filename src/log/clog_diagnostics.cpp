#include "log/clog_diagnostics.h"

#include <lmcons.h>

#include <array>
#include <string>
#include <vector>

#include "logfront/log_level.h"
#include "system/os_version.h"
#include "win/path_limit.h"

namespace {

struct FileVersion {
  DWORD file[4] = {};
  DWORD product[4] = {};
};

std::wstring ModulePath(HMODULE module) {
  std::vector<wchar_t> path(kMaxPathChars + 1, L'\0');  // grown below for longer paths
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return std::wstring(path.data(), length);
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

FileVersion ReadFileVersion(const std::wstring& path) {
  FileVersion version;
  DWORD handle = 0;
  const DWORD size = path.empty() ? 0 : ::GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return version;
  std::vector<BYTE> data(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
      !::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || info == nullptr ||
      infoSize < sizeof(VS_FIXEDFILEINFO)) {
    return version;
  }
  version.file[0] = HIWORD(info->dwFileVersionMS);
  version.file[1] = LOWORD(info->dwFileVersionMS);
  version.file[2] = HIWORD(info->dwFileVersionLS);
  version.file[3] = LOWORD(info->dwFileVersionLS);
  version.product[0] = HIWORD(info->dwProductVersionMS);
  version.product[1] = LOWORD(info->dwProductVersionMS);
  version.product[2] = HIWORD(info->dwProductVersionLS);
  version.product[3] = LOWORD(info->dwProductVersionLS);
  return version;
}

std::wstring ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  return ::GetComputerNameW(name, &size) ? std::wstring(name, size) : std::wstring();
}

std::wstring UserName() {
  wchar_t name[UNLEN + 1] = {};
  DWORD size = UNLEN + 1;
  return ::GetUserNameW(name, &size) ? std::wstring(name) : std::wstring();
}

template <LogArgument... Args>
void Line(const LogDiagnosticsPrinter& print, int level, const wchar_t* format, Args... args) {
  const std::array<LogArg, sizeof...(Args)> list{MakeLogArg(args)...};
  print(level, format, list);
}

}  // namespace

void WriteLogDiagnostics(HINSTANCE module, int diagLevel, int logLevel, const LogDiagnosticsState& log,
                         const LogDiagnosticsPrinter& print) {
  const auto line = [&](int level, const wchar_t* format, auto... args) { Line(print, level, format, args...); };
  line(kLogLevelAudit, L"-> (diag_level=0x%x, log_level=0x%x, current_log_level=0x%x)", diagLevel, logLevel,
       log.threshold);
  if (!LogLevelPasses(logLevel, log.threshold)) {
    line(kLogLevelAudit, L"<- NTD");
    return;
  }

  const HMODULE exe = ::GetModuleHandleW(nullptr);
  const std::wstring exePath = ModulePath(exe);
  const FileVersion exeVersion = ReadFileVersion(exePath);
  line(logLevel, L"module_handle_exe=%p", exe);
  line(logLevel, L"module_path_exe='%s'", exePath.c_str());
  line(logLevel, L"fver=%lu.%lu.%lu.%lu, pver=%lu.%lu.%lu.%lu", exeVersion.file[0], exeVersion.file[1],
       exeVersion.file[2], exeVersion.file[3], exeVersion.product[0], exeVersion.product[1], exeVersion.product[2],
       exeVersion.product[3]);

  const std::wstring modulePath = module != nullptr ? ModulePath(module) : exePath;
  const FileVersion moduleVersion = ReadFileVersion(modulePath);
  line(logLevel, L"module_handle=%p", module);
  line(logLevel, L"module_path='%s'", modulePath.c_str());
  line(logLevel, L"fver=%lu.%lu.%lu.%lu, pver=%lu.%lu.%lu.%lu", moduleVersion.file[0], moduleVersion.file[1],
       moduleVersion.file[2], moduleVersion.file[3], moduleVersion.product[0], moduleVersion.product[1],
       moduleVersion.product[2], moduleVersion.product[3]);

  OSVERSIONINFOEXW os{};
  if (GetOsVersion(os) == 0) {
    line(logLevel, L"os=Windows %lu.%lu build %lu, service pack %u.%u, product type %u", os.dwMajorVersion,
         os.dwMinorVersion, os.dwBuildNumber, os.wServicePackMajor, os.wServicePackMinor, os.wProductType);
  }
  line(logLevel, L"computer_name='%s'", ComputerName().c_str());
  line(logLevel, L"user_name='%s'", UserName().c_str());
  line(logLevel, L"command_line='%s'", ::GetCommandLineW());
  line(logLevel, L"process_id=%lu, thread_id=%lu", ::GetCurrentProcessId(), ::GetCurrentThreadId());
  line(logLevel, L"log_file='%s', record_file='%s', flush=%d", log.textFile.c_str(), log.recordFile.c_str(),
       log.flush ? 1 : 0);
  line(logLevel, L"<- OK");
}
