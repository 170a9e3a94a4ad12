#pragma once
// The peak working set of a child process. Under Wine the system can't be
// asked once the child has gone, so the child writes its own peak into the
// file the parent names in an environment variable, just before it ends.

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "bench_support.h"

namespace bench {

inline constexpr wchar_t kPeakFileVariable[] = L"VLRN_BENCH_PEAK_FILE";

// In the child: writes its peak where the parent asked; exitCode passes through.
inline int WithPeakReported(int exitCode) {
  wchar_t path[MAX_PATH] = {};
  PROCESS_MEMORY_COUNTERS counters{};
  if (::GetEnvironmentVariableW(kPeakFileVariable, path, MAX_PATH) > 0 &&
      ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) {
    if (FILE* file = _wfopen(path, L"w")) {
      std::fprintf(file, "%llu\n", static_cast<unsigned long long>(counters.PeakWorkingSetSize));
      std::fclose(file);
    }
  }
  return exitCode;
}

// In the parent: runs the child as TimeProcess does; peak: what it reported
// (0 when it reported nothing).
inline double TimeProcess(const std::wstring& exe, const std::wstring& args, SIZE_T* peak) {
  const std::wstring peakFile = OwnFolder() + L"bench-child.peak";
  ::DeleteFileW(peakFile.c_str());
  ::SetEnvironmentVariableW(kPeakFileVariable, peak != nullptr ? peakFile.c_str() : nullptr);
  const double elapsed = TimeProcess(exe, args);
  ::SetEnvironmentVariableW(kPeakFileVariable, nullptr);
  if (peak != nullptr) {
    unsigned long long bytes = 0;
    if (FILE* file = _wfopen(peakFile.c_str(), L"r")) {
      if (std::fscanf(file, "%llu", &bytes) != 1) bytes = 0;
      std::fclose(file);
    }
    *peak = static_cast<SIZE_T>(bytes);
  }
  return elapsed;
}

}  // namespace bench
