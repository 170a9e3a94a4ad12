#include "actions/process_control.h"

#include <tlhelp32.h>

#include <cwchar>

#include "actions/error_text.h"
#include "log/log.h"
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
    const bool matches = ::_wcsicmp(entry.szExeFile, imageName.c_str()) == 0 &&
                         (processId == 0 || processId == entry.th32ProcessID);
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
