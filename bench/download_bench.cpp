// Times the updater's file download (DownloadFile, urlmon underneath) of one
// URL into a folder, inside this process, and reports the peak working set.
// bench/download-bench runs it alternately with curl against the reference
// update service on loopback.
//   download_bench <url> <folder> [rounds]   rounds downloads (5 by default):
//                                            each time, the median, the peak
//   download_bench --peak <url> <folder>     one download; only the peak working
//                                            set in bytes
// Before the downloads one HEAD request learns the size every download must
// reach. It also loads the TLS stack, as the updater's web-service check does
// before its downloads; it asks the server to close its connection, so that
// the first timed download opens and negotiates a connection of its own, as
// curl does (later ones in the same process reuse it, as the updater's
// downloads from one server do; the script runs one download per process).
// The target is deleted before each download and left after the last; the
// cache entry of the last download is removed.
// Exit status 2 when a download fails or arrives short.
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "protocol/file_download.h"
#include "win/internet_handle.h"

namespace {

using bench::Median;
using bench::Now;

constexpr int kDefaultRounds = 5;

// The Content-Length of a HEAD answer with status 200.
std::optional<ULONGLONG> AnnouncedSize(const std::wstring& url) {
  wchar_t host[256] = {};
  wchar_t path[2048] = {};
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = static_cast<DWORD>(std::size(host));
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = static_cast<DWORD>(std::size(path));
  if (!::InternetCrackUrlW(url.c_str(), 0, 0, &parts)) return std::nullopt;

  const win::UniqueInternetHandle session(
      ::InternetOpenW(L"download_bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  const win::UniqueInternetHandle connection(
      ::InternetConnectW(session.get(), host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                      (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
  const win::UniqueInternetHandle request(
      ::HttpOpenRequestW(connection.get(), L"HEAD", path, nullptr, nullptr, nullptr, flags, 0));
  static constexpr wchar_t kHeader[] = L"Connection: close";
  if (!request || !::HttpSendRequestW(request.get(), kHeader, static_cast<DWORD>(-1), nullptr, 0)) {
    return std::nullopt;
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
      status != 200) {
    return std::nullopt;
  }
  wchar_t length[32] = {};
  size = sizeof length;
  if (!::HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_LENGTH, length, &size, nullptr)) return std::nullopt;
  return _wcstoui64(length, nullptr, 10);
}

std::optional<ULONGLONG> FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

SIZE_T PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  return ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}

// The URL's last path segment, without a query.
std::wstring FileNameOf(const std::wstring& url) {
  const std::wstring path = url.substr(0, url.find_first_of(L"?#"));
  const size_t slash = path.find_last_of(L'/');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool peakOnly = argc >= 2 && std::wcscmp(argv[1], L"--peak") == 0;
  const int first = peakOnly ? 2 : 1;
  if (argc < first + 2 || argc > first + 3 || (peakOnly && argc != 4)) {
    std::fwprintf(stderr,
                  L"usage: download_bench <url> <folder> [rounds]\n"
                  L"       download_bench --peak <url> <folder>\n");
    return 1;
  }
  const std::wstring url = argv[first];
  std::wstring folder = argv[first + 1];
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  const int rounds = peakOnly ? 1 : (argc > first + 2 ? _wtoi(argv[first + 2]) : kDefaultRounds);
  const std::wstring fileName = FileNameOf(url);
  if (rounds <= 0 || fileName.empty()) {
    std::fwprintf(stderr, L"download_bench: need a positive round count and a URL that names a file\n");
    return 1;
  }

  const std::optional<ULONGLONG> expected = AnnouncedSize(url);
  if (!expected || *expected == 0) {
    std::fwprintf(stderr, L"download_bench: no size for %ls; is the server running?\n", url.c_str());
    return 2;
  }
  // Gives the server's close time to arrive, so the first download cannot
  // pick up the HEAD's connection.
  ::Sleep(100);

  const std::wstring target = folder + fileName;
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    ::DeleteFileW(target.c_str());
    const double start = Now();
    const bool ok = DownloadFile(url, folder, fileName, nullptr, true);
    const double elapsed = Now() - start;
    const std::optional<ULONGLONG> size = FileSize(target);
    if (!ok || !size || *size != *expected) {
      std::fwprintf(stderr, L"download_bench: download %d of %ls %ls: %llu of %llu bytes\n", i + 1, url.c_str(),
                    ok ? L"arrived short" : L"failed", size.value_or(0), *expected);
      return 2;
    }
    times.push_back(elapsed);
    if (!peakOnly) std::wprintf(L"download %d: %.1f ms\n", i + 1, elapsed * 1e3);
  }

  const SIZE_T peak = PeakWorkingSet();
  // The system's download leaves a copy in the internet cache; a benchmark keeps nothing there.
  ::DeleteUrlCacheEntryW(url.c_str());
  if (peakOnly) {
    std::wprintf(L"%llu\n", static_cast<unsigned long long>(peak));
    return 0;
  }
  const double median = Median(times);
  std::wprintf(L"median: %.1f ms over %d downloads of %llu bytes (%.1f MiB/s)\n", median * 1e3, rounds, *expected,
               static_cast<double>(*expected) / (1024.0 * 1024.0) / median);
  std::wprintf(L"peak working set: %llu bytes (%.1f MiB)\n", static_cast<unsigned long long>(peak),
               static_cast<double>(peak) / (1024.0 * 1024.0));
  return 0;
}
