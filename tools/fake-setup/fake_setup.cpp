// Stands in for a product's setup.exe, so that the updater's tests and the demo
// can run a real setup process from the download cache without a real product.
// It understands the two command lines the updater starts a setup with (an
// update: /s [/NoSetupFromWeb] /v"<ui> <properties>"; an installation:
// /v"NoSetupFromWeb="1"" [/v"AFFILIATE_ID="<id>""]), records each command line
// and then does what setup-payload.ini beside it asks: exit with chosen codes
// run by run, copy files into the installation folder, install a package with
// msiexec. README.md beside this file describes the file and the record.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "setup_command_line.h"
#include "stand_in_support.h"

namespace {

using namespace fake_setup;
using stand_in::AppendRecord;
using stand_in::Environment;
using stand_in::ModulePath;

// What a failing setup answers (ERROR_INSTALL_FAILURE).
constexpr DWORD kSetupFailed = 1603;
// A payload file that cannot be read as one (ERROR_INVALID_PARAMETER).
constexpr DWORD kBadPayload = 87;

// False when the file does not exist; then error is 0.
bool ReadWholeFile(const std::wstring& path, std::string& data, DWORD& error) {
  error = 0;
  const win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD code = ::GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) error = code;
    return false;
  }
  data.clear();
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) data.append(buffer, read);
  return true;
}

bool WriteWholeFile(const std::wstring& path, const std::string& data) {
  const win::UniqueFile file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return ::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
         written == data.size();
}

// This run's number (1 for the first) from the counter beside the setup.
unsigned long CountRun(const std::wstring& folder) {
  const std::wstring path = folder + L"\\setup-runs.txt";
  std::string text;
  DWORD error = 0;
  unsigned long runs = 0;
  if (ReadWholeFile(path, text, error)) runs = std::strtoul(text.c_str(), nullptr, 10);
  ++runs;
  if (!WriteWholeFile(path, std::to_string(runs) + "\r\n")) {
    fwprintf(stderr, L"setup: cannot write %ls (error %lu)\n", path.c_str(), ::GetLastError());
  }
  return runs;
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

bool CreateFolders(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const size_t slash = path.find_last_of(L'\\');
  if (slash != std::wstring::npos && slash > 2 && !CreateFolders(path.substr(0, slash))) return false;
  return ::CreateDirectoryW(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

// The contents of from (not the folder itself) into to, replacing files,
// read-only ones too, as an installer would.
bool CopyTree(const std::wstring& from, const std::wstring& to) {
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW((from + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    fwprintf(stderr, L"setup: cannot list %ls (error %lu)\n", from.c_str(), ::GetLastError());
    return false;
  }
  if (!CreateFolders(to)) {
    fwprintf(stderr, L"setup: cannot create %ls (error %lu)\n", to.c_str(), ::GetLastError());
    ::FindClose(search);
    return false;
  }
  bool ok = true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring source = from + L"\\" + name;
    const std::wstring destination = to + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = CopyTree(source, destination);
    } else {
      const DWORD existing = ::GetFileAttributesW(destination.c_str());
      if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) {
        ::SetFileAttributesW(destination.c_str(), existing & ~FILE_ATTRIBUTE_READONLY);
      }
      ok = ::CopyFileW(source.c_str(), destination.c_str(), FALSE);
      if (!ok) fwprintf(stderr, L"setup: cannot copy %ls (error %lu)\n", source.c_str(), ::GetLastError());
    }
  } while (ok && ::FindNextFileW(search, &found));
  ::FindClose(search);
  return ok;
}

// msiexec's exit code; nothing when it could not be started.
std::optional<DWORD> RunMsiexec(const std::wstring& package, const SetupRequest& request) {
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  const std::wstring msiexec = std::wstring(system, length) + L"\\msiexec.exe";
  std::wstring commandLine = MsiexecCommandLine(msiexec, package, request.installerWords);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(msiexec.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    fwprintf(stderr, L"setup: cannot start %ls (error %lu)\n", commandLine.c_str(), ::GetLastError());
    return std::nullopt;
  }
  const win::UniqueThread thread(process.hThread);
  const win::UniqueProcess child(process.hProcess);
  ::WaitForSingleObject(child.get(), INFINITE);
  DWORD code = kSetupFailed;
  ::GetExitCodeProcess(child.get(), &code);
  return code;
}

}  // namespace

int wmain() {
  const std::wstring commandLine = ::GetCommandLineW();
  const std::wstring self = ModulePath();
  const std::wstring folder = self.substr(0, self.find_last_of(L'\\'));

  std::wstring recordPath = Environment(L"VLRN_SETUP_RECORD");
  if (recordPath.empty()) recordPath = folder + L"\\setup-record.txt";
  if (!AppendRecord(recordPath, commandLine)) {
    fwprintf(stderr, L"setup: cannot append to %ls (error %lu)\n", recordPath.c_str(), ::GetLastError());
    return kSetupFailed;
  }

  const std::wstring payloadPath = folder + L"\\setup-payload.ini";
  std::string payloadText;
  DWORD readError = 0;
  if (!ReadWholeFile(payloadPath, payloadText, readError)) {
    if (readError == 0) return 0;
    fwprintf(stderr, L"setup: cannot read %ls (error %lu)\n", payloadPath.c_str(), readError);
    return kBadPayload;
  }
  Payload payload;
  std::wstring payloadError;
  if (!ParsePayload(payloadText, payload, payloadError)) {
    fwprintf(stderr, L"setup: %ls: %ls\n", payloadPath.c_str(), payloadError.c_str());
    return kBadPayload;
  }
  const unsigned long run = CountRun(folder);

  std::vector<std::wstring> arguments = SplitCommandLine(commandLine);
  if (!arguments.empty()) arguments.erase(arguments.begin());
  const SetupRequest request = ParseSetupArguments(arguments);

  // While it runs, the files it came with should be beyond change: it tries,
  // as a process swapping them would, and records what the system said.
  for (const std::wstring& name : payload.tamper) {
    const std::wstring path = ResolvePayloadPath(folder, name);
    const win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = file ? 0 : ::GetLastError();
    if (!AppendRecord(recordPath, L"tamper " + name + L": " + std::to_wstring(error))) return kSetupFailed;
  }

  bool failed = false;
  std::optional<DWORD> installerCode;
  if (!payload.msi.empty()) {
    installerCode = RunMsiexec(ResolvePayloadPath(folder, payload.msi), request);
    failed = !installerCode;
  }
  // After the package, so that the files a test chose are the ones that stay.
  if (!failed && !payload.copy.empty()) {
    std::wstring destination = FindProperty(request, L"INSTALLDIR").value_or(std::wstring());
    if (destination.empty()) destination = payload.target;
    if (destination.empty()) {
      fwprintf(stderr, L"setup: copy= without INSTALLDIR or target=\n");
      failed = true;
    } else {
      failed = !CopyTree(WithoutTrailingBackslash(ResolvePayloadPath(folder, payload.copy)),
                         WithoutTrailingBackslash(destination));
    }
  }

  if (failed) return kSetupFailed;
  if (std::optional<unsigned long> chosen = ExitCodeForRun(payload.exitCodes, run)) return static_cast<int>(*chosen);
  return static_cast<int>(installerCode.value_or(0));
}
