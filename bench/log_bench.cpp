// Writes lines into a text log the way the updater sets it up, once with
// flushing on (write-through, flushed after every line) and once with it off,
// and prints lines per second for both, and against a bare write and flush
// of the same lines.
//   log_bench [lines]     100,000 lines by default
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string>

#include "bench_support.h"
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

// The least a flushed line costs: the same text, time stamp included, written
// and flushed on a file opened once, write-through as the log opens its file.
double BareWriteAndFlush(int lines) {
  const std::wstring path = BenchFile(true) + L".bare";
  ::DeleteFileW(path.c_str());
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  const std::wstring product = L"C:\\Program Files\\Velbor\\Product\\setup.exe";
  LARGE_INTEGER frequency{}, start{}, end{};
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  wchar_t text[512];
  char bytes[1024];
  for (int i = 0; i < lines; ++i) {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const int length =
        std::swprintf(text, std::size(text),
                      L"%02u.%02u.%04u %02u:%02u:%02u:%03u INF: VLRN:[%05lx] Downloading %ls: %d of %d "
                      L"bytes (%u%%)\r\n",
                      now.wDay, now.wMonth, now.wYear, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                      ::GetCurrentThreadId(), product.c_str(), i, lines, static_cast<unsigned>(i * 100ull / lines));
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, length, bytes, sizeof bytes, nullptr, nullptr);
    DWORD written = 0;
    ::WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr);
    ::FlushFileBuffers(file);
  }
  ::QueryPerformanceCounter(&end);
  ::CloseHandle(file);
  ::DeleteFileW(path.c_str());
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
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
  const double bare = BareWriteAndFlush(lines);
  if (bare > 0) {
    std::wprintf(L"bare write and flush of the same lines: %.0f lines per second\n", lines / bare);
    bench::PrintFigure(L"log lines, flushed, vs bare write-and-flush",
                       std::to_wstring(static_cast<long long>(lines / flushed.seconds)) + L" vs " +
                           std::to_wstring(static_cast<long long>(lines / bare)) + L" lines/s",
                       flushed.seconds / bare, L"<= 1.5", flushed.seconds / bare <= 1.5);
  }
  return 0;
}
