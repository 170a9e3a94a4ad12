// Writes lines into a text log the way the updater sets it up, once with
// flushing on (write-through, flushed after every line) and once with it off,
// and prints lines per second for both.
//   log_bench [lines]     100,000 lines by default
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "log/clog.h"

namespace {

constexpr int kDefaultLines = 100000;

struct Run {
  double seconds = 0;
  unsigned long long bytes = 0;
};

std::wstring BenchFile(bool flush) {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, temp);
  return std::wstring(temp) + (flush ? L"vlrn_log_bench_flush.log" : L"vlrn_log_bench_noflush.log");
}

Run WriteLines(int lines, bool flush) {
  const std::wstring path = BenchFile(flush);
  ::DeleteFileW(path.c_str());
  Run run;
  {
    CLog log;
    // The start-up's settings: source VLRN, everything up to level 15, thread ids.
    log.Init(L"VLRN", false, kLogLevelAlways, true);
    log.SetFlush(flush);
    if (!log.SetLogFile(path.c_str(), kLogTextChannel, false, 0)) return run;
    const std::wstring product = L"C:\\Program Files\\Velbor\\Product\\setup.exe";
    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < lines; ++i) {
      log.Print(kLogLevelInfo, L"VLRN", L"Downloading %s: %d of %d bytes (%u%%)", product.c_str(), i, lines,
                static_cast<unsigned>(i * 100ull / lines));
    }
    ::QueryPerformanceCounter(&end);
    run.seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    run.bytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  ::DeleteFileW(path.c_str());
  return run;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int lines = argc > 1 ? _wtoi(argv[1]) : kDefaultLines;
  if (lines <= 0) {
    std::fwprintf(stderr, L"usage: log_bench [lines]\n");
    return 1;
  }
  const Run flushed = WriteLines(lines, true);
  const Run unflushed = WriteLines(lines, false);
  if (flushed.seconds <= 0 || unflushed.seconds <= 0) {
    std::fwprintf(stderr, L"log_bench: the log file could not be written\n");
    return 2;
  }
  std::wprintf(L"%d lines          flush on (updater)   flush off\n", lines);
  std::wprintf(L"seconds          %18.2f   %9.2f\n", flushed.seconds, unflushed.seconds);
  std::wprintf(L"lines per second %18.0f   %9.0f\n", lines / flushed.seconds, lines / unflushed.seconds);
  std::wprintf(L"file bytes       %18llu   %9llu\n", flushed.bytes, unflushed.bytes);
  return 0;
}
