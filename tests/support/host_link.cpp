#include "support/host_link.h"

#include <windows.h>

#include <optional>
#include <string>

#include "win/strings.h"
#include "win/unique_handle.h"

namespace testing_support {

namespace {

constexpr ULONGLONG kWaitMs = 10000;

// Wine's own export: the host's path of a Windows path, allocated on the process heap.
std::optional<std::string> HostPath(const std::wstring& path) {
  using UnixFileNameFn = char*(CDECL*)(const wchar_t*);
  const auto toHost = reinterpret_cast<UnixFileNameFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toHost == nullptr) return std::nullopt;
  char* host = toHost(path.c_str());
  if (host == nullptr) return std::nullopt;
  std::string copy = host;
  ::HeapFree(::GetProcessHeap(), 0, host);
  return copy;
}

}  // namespace

bool MakeHostFolderLink(const std::wstring& linkPath, const std::wstring& targetPath) {
  const std::optional<std::string> link = HostPath(linkPath);
  const std::optional<std::string> target = HostPath(targetPath);
  if (!link || !target) return false;
  // Wine starts a host program like any other; ln is the host's own.
  std::wstring commandLine =
      L"Z:\\bin\\ln -s \"" + win::ToWide(*target, CP_UTF8) + L"\" \"" + win::ToWide(*link, CP_UTF8) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
    return false;
  }
  const win::UniqueProcess process(started.hProcess);
  const win::UniqueThread thread(started.hThread);
  // Wine does not follow a host program to its end: the handle may be
  // signalled before ln has run, so the link itself is waited for.
  const ULONGLONG deadline = ::GetTickCount64() + kWaitMs;
  do {
    const DWORD attributes = ::GetFileAttributesW(linkPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
    ::Sleep(50);
  } while (::GetTickCount64() < deadline);
  return false;
}

}  // namespace testing_support
