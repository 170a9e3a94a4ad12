#include "system/process_control.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <vector>

#include "logfront/log.h"
#include "system/error_text.h"
#include "win/strings.h"
#include "win/unique_handle.h"

namespace {

constexpr int kMaxAttempts = 100;
constexpr DWORD kAfterTerminateMs = 5000;  // lets the ended program release its files
constexpr DWORD kBeforeRetryMs = 100;

enum class Pass { Done, Failed, Retry };

// One pass over a fresh process list.
Pass StopMatchingProcesses(const std::wstring& imageName, DWORD processId) {
  win::UniqueSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    LogError(L"CreateToolhelp32Snapshot failed because: \"%s\"", GetLastErrorText().c_str());
    return Pass::Failed;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  if (!::Process32FirstW(snapshot.get(), &entry)) {
    LogError(L"Process32First failed because: \"%s\"", GetLastErrorText().c_str());
    return Pass::Failed;
  }
  do {
    const bool matches =
        ::_wcsicmp(entry.szExeFile, imageName.c_str()) == 0 && (processId == 0 || processId == entry.th32ProcessID);
    if (!matches) continue;
    LogInfo(L"terminate process: %s", imageName.c_str());
    win::UniqueProcess process(::OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
    if (!process) {
      LogError(L"OpenProcess failed because: \"%s\"", GetLastErrorText().c_str());
      return Pass::Retry;
    }
    if (!::TerminateProcess(process.get(), 0)) {
      LogError(L"TerminateProcess %s failed because: \"%s\"", imageName.c_str(), GetLastErrorText().c_str());
      return Pass::Retry;
    }
    process.reset();
    ::Sleep(kAfterTerminateMs);
  } while (::Process32NextW(snapshot.get(), &entry));
  LogInfo(L"Process not found");
  return Pass::Done;
}

// Logs a failed start and passes its error code on.
DWORD StartFailed(const std::wstring& file, DWORD error = ::GetLastError()) {
  LogError(L"StartProcess for %s failed because: \"%s\"", file.c_str(), GetErrorText(error).c_str());
  return error;
}

// Blocks until the started program ends and reads its exit code.
DWORD WaitForExitCode(const std::wstring& file, HANDLE process, DWORD& exitCode) {
  if (::WaitForSingleObject(process, INFINITE) == WAIT_FAILED || !::GetExitCodeProcess(process, &exitCode)) {
    return StartFailed(file);
  }
  return ERROR_SUCCESS;
}

// Wine's shell reports some failures in a box of its own and leaves the last
// error at 0, which would read as success; its code in hInstApp still tells.
DWORD ShellFailureCode(const SHELLEXECUTEINFOW& info) {
  const DWORD error = ::GetLastError();
  if (error != ERROR_SUCCESS) return error;
  switch (reinterpret_cast<INT_PTR>(info.hInstApp)) {
    case SE_ERR_FNF:
      return ERROR_FILE_NOT_FOUND;
    case SE_ERR_PNF:
      return ERROR_PATH_NOT_FOUND;
    case SE_ERR_ACCESSDENIED:
      return ERROR_ACCESS_DENIED;
    case SE_ERR_OOM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SE_ERR_SHARE:
      return ERROR_SHARING_VIOLATION;
    case SE_ERR_NOASSOC:
    case SE_ERR_ASSOCINCOMPLETE:
      return ERROR_NO_ASSOCIATION;
    case SE_ERR_DDETIMEOUT:
    case SE_ERR_DDEFAIL:
    case SE_ERR_DDEBUSY:
      return ERROR_DDE_FAIL;
    case SE_ERR_DLLNOTFOUND:
      return ERROR_DLL_NOT_FOUND;
    default:
      return ERROR_GEN_FAILURE;
  }
}

DWORD StartThroughShell(const std::wstring& file, const std::wstring& arguments, bool wait, DWORD& exitCode) {
  // kept verbatim: "per" and "commandline" as the log has always had them
  LogInfo(L"Try start application %s per UseShellExecute with commandline: %s", file.c_str(), arguments.c_str());
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  // No error box of the shell's own: a quiet session has nobody to answer it.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"runas";
  info.lpFile = file.c_str();
  info.lpParameters = arguments.c_str();
  info.nShow = SW_SHOW;
  if (!::ShellExecuteExW(&info)) return StartFailed(file, ShellFailureCode(info));
  const win::UniqueProcess process(info.hProcess);
  LogInfo(L"ShellExecuteEx successful");
  return wait ? WaitForExitCode(file, process.get(), exitCode) : ERROR_SUCCESS;
}

DWORD CreateChildProcess(const std::wstring& file, const std::wstring& arguments, bool wait, DWORD& exitCode) {
  // Without a file the system takes the program from the start of the command line.
  const std::wstring commandLine =
      file.empty() ? arguments : win::FormatW(L"\"%s\" %s", file.c_str(), arguments.c_str());
  // kept verbatim: "per" and "commandline" as the log has always had them
  LogInfo(L"Try start application %s per CreateProcess with commandline: %s", file.c_str(), commandLine.c_str());
  std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
  writable.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(file.empty() ? nullptr : file.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
    return StartFailed(file);
  }
  const win::UniqueProcess process(info.hProcess);
  const win::UniqueThread thread(info.hThread);
  LogInfo(L"CreateProcess successful");
  return wait ? WaitForExitCode(file, process.get(), exitCode) : ERROR_SUCCESS;
}

}  // namespace

bool StopProcess(const std::wstring& imageName, DWORD processId, int attempt) {
  for (;; ++attempt) {
    if (attempt != 0) LogInfo(L"%d Try", attempt);
    LogInfo(L"Try to stop process: %s", imageName.c_str());
    const Pass pass = StopMatchingProcesses(imageName, processId);
    if (pass != Pass::Retry) return pass == Pass::Done;
    if (attempt > kMaxAttempts) return false;
    ::Sleep(kBeforeRetryMs);
  }
}

DWORD StartProcess(const std::wstring& file, const std::wstring& arguments, bool wait, DWORD& exitCode, bool elevated) {
  exitCode = 0;
  return elevated ? StartThroughShell(file, arguments, wait, exitCode)
                  : CreateChildProcess(file, arguments, wait, exitCode);
}
