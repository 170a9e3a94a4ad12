// The updater's peak memory while a hostile update service answers its quiet
// check (-UpdateCheckSilent -QuickCheck) with a body that never ends or a
// document nested without end. The client reads at most kMaxAnswerBytes of an
// answer, so its peak must stay flat however much the service sends, and
// within a few times that cap above a session answered normally.
//   hostile_bench [port] [rounds]   port: the service's TLS port;
//                                   by default read from ..\update-server\port
// Each session runs in a child process of this program (the updater's code,
// this program's image), which reports its own peak working set.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "bench_support.h"
#include "child_peak.h"
#include "product/settings.h"
#include "protocol/http_wrapper.h"
#include "quiet_session.h"
#include "system/registry.h"
#include "ui/dialog_window.h"
#include "win/strings.h"

namespace {

constexpr int kDefaultRounds = 3;
constexpr wchar_t kProduct[] = L"Hostile Bench";
constexpr wchar_t kScope[] = L"hostilebench";
constexpr double kMiB = 1048576.0;

struct Case {
  const wchar_t* name;
  const wchar_t* faults;  // the service's faults; empty: the normal answer
};
// Four times and sixty-four times the cap; a nesting of half the cap and
// one of twenty times it (each level is 7 bytes).
constexpr Case kCases[] = {
    {L"normal answer", L""},
    {L"64 MiB body", L"huge=67108864"},
    {L"1 GiB body", L"huge=1073741824"},
    {L"nesting, 1.2M levels", L"deep=1200000"},
    {L"nesting, 48M levels", L"deep=48000000"},
};

double MedianPeak(const std::wstring& faults, int port, int rounds) {
  ProgramInfos product;
  product.ProgramName = kProduct;
  std::wstring url = win::FormatW(L"https://localhost:%d/t/%s", port, kScope);
  if (!faults.empty()) url += L"/f/" + faults;
  WriteRegString(HKEY_CURRENT_USER, GetProductSettingsKey(product), L"DebugUrl_v2", url + L"/Renova/");
  std::vector<double> peaks;
  for (int i = 0; i < rounds; ++i) {
    SIZE_T peak = 0;
    if (bench::TimeProcess(bench::OwnFolder() + L"hostile_bench.exe", L"--session", &peak) < 0 || peak == 0) {
      return -1;
    }
    peaks.push_back(static_cast<double>(peak));
  }
  return bench::Median(peaks);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wcscmp(argv[1], L"--session") == 0) {
    DialogWindow window;
    // A hostile answer ends the session with its error code; that it ended is what counts here.
    return bench::WithPeakReported(bench::RunQuietSession(kProduct, window) < 0 ? 2 : 0);
  }
  const int port = argc > 1 ? _wtoi(argv[1]) : bench::PortFromFile();
  const int rounds = argc > 2 ? _wtoi(argv[2]) : kDefaultRounds;
  if (port <= 0 || rounds <= 0) {
    std::fwprintf(stderr, L"usage: hostile_bench [port] [rounds] (no port given and no port file found)\n");
    return 1;
  }

  std::vector<double> peaks;
  for (const Case& c : kCases) {
    const double peak = MedianPeak(c.faults, port, rounds);
    if (peak < 0) {
      std::fwprintf(stderr, L"hostile_bench: the session against \"%ls\" failed; is the service running on port %d?\n",
                    c.name, port);
      return 2;
    }
    peaks.push_back(peak);
    std::wprintf(L"%-24ls peak working set %7.1f MiB\n", c.name, peak / kMiB);
  }
  ProgramInfos product;
  product.ProgramName = kProduct;
  ::RegDeleteTreeW(HKEY_CURRENT_USER, GetProductSettingsKey(product).c_str());

  // Flat: sixteen times more hostile input costs (almost) nothing more.
  const double cap = static_cast<double>(kMaxAnswerBytes);
  const double bodyRatio = peaks[2] / peaks[1];
  bench::PrintFigure(L"peak memory: 1 GiB body vs 64 MiB body",
                     win::FormatW(L"%.1f MiB vs %.1f MiB", peaks[2] / kMiB, peaks[1] / kMiB), bodyRatio, L"<= 1.1",
                     bodyRatio <= 1.1);
  const double nestRatio = peaks[4] / peaks[3];
  bench::PrintFigure(L"peak memory: 48M vs 1.2M nested levels",
                     win::FormatW(L"%.1f MiB vs %.1f MiB", peaks[4] / kMiB, peaks[3] / kMiB), nestRatio, L"<= 1.1",
                     nestRatio <= 1.1);
  // Bounded: what the worst of them adds to a normal session, in caps.
  const double worst = *std::max_element(peaks.begin() + 1, peaks.end());
  const double caps = (worst - peaks[0]) / cap;
  bench::PrintFigure(L"peak memory: worst hostile answer vs normal",
                     win::FormatW(L"+%.1f MiB (cap %.0f MiB)", (worst - peaks[0]) / kMiB, cap / kMiB), caps,
                     L"<= 4 caps", caps <= 4.0);
  return 0;
}
