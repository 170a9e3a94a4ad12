#include "support/child_process.h"

#include <vector>

namespace testing_support {

std::wstring BinFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring WorkerExePath() { return BinFolder() + L"VLRenovaWorker.exe"; }

ChildProcess::ChildProcess(const std::wstring& exePath, const std::wstring& args) {
  std::wstring commandLine = L"\"" + exePath + L"\"";
  if (!args.empty()) commandLine += L" " + args;
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (::CreateProcessW(exePath.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    process_.reset(info.hProcess);
    ::CloseHandle(info.hThread);
    pid_ = info.dwProcessId;
  }
}

ChildProcess::~ChildProcess() {
  if (Running()) Kill();
}

std::optional<DWORD> ChildProcess::Wait(DWORD timeoutMs) {
  if (!process_ || ::WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  if (!::GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
  return code;
}

bool ChildProcess::Running() const { return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

void ChildProcess::Kill() {
  if (!process_) return;
  ::TerminateProcess(process_.get(), 0xDEAD);
  ::WaitForSingleObject(process_.get(), 5000);
}

std::optional<DWORD> RunWorker(const std::wstring& args, DWORD timeoutMs, const std::wstring& exePath) {
  ChildProcess child(exePath, args);
  if (!child.started()) return std::nullopt;
  return child.Wait(timeoutMs);
}

}  // namespace testing_support
