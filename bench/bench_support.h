#pragma once
// What every benchmark here needs: a clock, the median of its rounds, and the
// port of the reference update service that the tests started.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

// Seconds on the performance counter.
inline double Now() {
  LARGE_INTEGER frequency{};
  LARGE_INTEGER counter{};
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The folder of the running program, with a final "\".
inline std::wstring OwnFolder() {
  wchar_t exe[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring path(exe, length);
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

// The service's main port from ..\update-server\port beside the program; 0 without one.
inline int PortFromFile() {
  FILE* file = _wfopen((OwnFolder() + L"..\\update-server\\port").c_str(), L"r");
  if (file == nullptr) return 0;
  int port = 0;
  if (std::fscanf(file, "%d", &port) != 1) port = 0;
  std::fclose(file);
  return port;
}

// Runs exe with args to its end; its wall time in seconds, or a negative
// value when it did not start or ended with a code other than 0.
inline double TimeProcess(const std::wstring& exe, const std::wstring& args) {
  std::wstring commandLine = L"\"" + exe + L"\" " + args;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  const double start = Now();
  if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
    return -1;
  }
  ::WaitForSingleObject(info.hProcess, INFINITE);
  const double elapsed = Now() - start;
  DWORD code = 1;
  ::GetExitCodeProcess(info.hProcess, &code);
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return code == 0 ? elapsed : -1;
}

// One figure for bench/run, which collects these lines into its table: what
// was measured, the ratio to its baseline, the goal and whether it is met.
inline void PrintFigure(const wchar_t* name, const std::wstring& measured, double ratio, const wchar_t* goal,
                        bool met) {
  std::wprintf(L"FIGURE\t%ls\t%ls\t%.2f\t%ls\t%ls\n", name, measured.c_str(), ratio, goal, met ? L"met" : L"MISSED");
}

// A figure that is only reported: it has no goal to meet.
inline void PrintReportedFigure(const wchar_t* name, const std::wstring& measured, double ratio) {
  std::wprintf(L"FIGURE\t%ls\t%ls\t%.2f\t-\treported\n", name, measured.c_str(), ratio);
}

}  // namespace bench
