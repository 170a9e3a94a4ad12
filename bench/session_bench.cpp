// Measures a whole quiet session against the least a program can do for the
// same answer, each as a process of its own, run alternately:
//   exe      VLRenovaWorker.exe -UpdateCheckSilent -QuickCheck, answered with
//            "No update available!" by the reference update service on loopback;
//   wake     the same session run by this program, the dialog woken by the
//            worker thread's end (as the updater does);
//   nowake   the same, but the dialog left to its one-second timer;
//   bare     this program loading the same system DLLs, making one WinINet
//            post to the same service and exiting.
// Prints the medians and the ratios to bare (goal for exe: at most 1.3).
//   session_bench [port] [rounds]   port: the service's TLS port;
//                                   by default read from ..\update-server\port
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "child_peak.h"
#include "product/settings.h"
#include "quiet_session.h"
#include "system/registry.h"
#include "ui/dialog_window.h"
#include "win/internet_handle.h"
#include "win/strings.h"

namespace {

using bench::Median;
using bench::Now;
using bench::OwnFolder;
using bench::PortFromFile;
using bench::TimeProcess;
using bench::WithPeakReported;

constexpr int kDefaultRounds = 15;
constexpr wchar_t kProduct[] = L"Session Bench";
constexpr wchar_t kScope[] = L"sessionbench";
std::wstring SessionSwitches() { return bench::QuietSessionSwitches(kProduct); }

// --- The child modes -------------------------------------------------------------------

int BarePost(int port) {
  const win::UniqueInternetHandle session(
      ::InternetOpenW(L"VLRenova", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  const win::UniqueInternetHandle connection(::InternetConnectW(
      session.get(), L"localhost", static_cast<INTERNET_PORT>(port), nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1));
  const std::wstring object = std::wstring(L"/t/") + kScope + L"/Renova/VLRNWebservice.asmx/GetClientUpdate";
  const win::UniqueInternetHandle request(::HttpOpenRequestW(connection.get(), L"POST", object.c_str(), nullptr,
                                                             nullptr, nullptr, INTERNET_FLAG_SECURE, 1));
  static constexpr wchar_t kHeader[] = L"Content-Type: application/x-www-form-urlencoded";
  std::string body =
      "clientStatusXML=%253cClientStatus%253e%253cInformations%253e%253cProgramName%253e"
      "Session+Bench%253c%252fProgramName%253e%253c%252fInformations%253e%253c%252fClientStatus%253e";
  if (!request || !::HttpSendRequestW(request.get(), kHeader, static_cast<DWORD>(-1), body.data(),
                                      static_cast<DWORD>(body.size()))) {
    return 2;
  }
  char block[4096];
  std::string answer;
  DWORD read = 0;
  while (::InternetReadFile(request.get(), block, sizeof block, &read) && read > 0) answer.append(block, read);
  // "Nothing offered": the sentence, or the signed instruction of a service with a key.
  const bool nothing = answer.find("No update available!") != std::string::npos ||
                       answer.find("&lt;UpdateId&gt;0&lt;/UpdateId&gt;") != std::string::npos;
  return nothing ? 0 : 3;
}

// The dialog without the wake-up: only the timer moves it on.
class TimerOnlyWindow : public DialogWindow {
 public:
  void WakeSession() override {}
};

// The updater's session as start-up runs it, with the window chosen here.
int Session(bool wake) {
  std::unique_ptr<DialogWindow> window = wake ? std::make_unique<DialogWindow>() : std::make_unique<TimerOnlyWindow>();
  return bench::RunQuietSession(kProduct, *window);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wcscmp(argv[1], L"--bare") == 0) return WithPeakReported(BarePost(_wtoi(argv[2])));
  if (argc >= 2 && std::wcscmp(argv[1], L"--wake") == 0) return WithPeakReported(Session(true));
  if (argc >= 2 && std::wcscmp(argv[1], L"--nowake") == 0) return Session(false);

  const int port = argc > 1 ? _wtoi(argv[1]) : PortFromFile();
  const int rounds = argc > 2 ? _wtoi(argv[2]) : kDefaultRounds;
  if (port <= 0 || rounds <= 0) {
    std::fwprintf(stderr, L"usage: session_bench [port] [rounds] (no port given and no port file found)\n");
    return 1;
  }

  // On Windows the desktop is always there; Wine starts its desktop process
  // with the first window and ends it with the last one. A window of this
  // program keeps it for the runs, so no run pays for starting it.
  const HWND desktopKeeper =
      ::CreateWindowExW(0, L"STATIC", L"session_bench", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);

  ProgramInfos product;
  product.ProgramName = kProduct;
  const std::wstring settings = GetProductSettingsKey(product);
  WriteRegString(HKEY_CURRENT_USER, settings, L"DebugUrl_v2",
                 win::FormatW(L"https://localhost:%d/t/%s/Renova/", port, kScope));

  const std::wstring self = OwnFolder() + L"session_bench.exe";
  const std::wstring updater = OwnFolder() + L"VLRenovaWorker.exe";
  std::vector<double> exe, wake, nowake, bare, exePeak, barePeak;
  const std::wstring bareArgs = win::FormatW(L"--bare %d", port);
  for (int i = 0; i < rounds; ++i) {
    SIZE_T peaks[2] = {};
    // The session's memory is taken from this program's run of it: the same
    // image as the bare process, so only what the session adds differs.
    const double times[] = {TimeProcess(updater, SessionSwitches()), TimeProcess(self, L"--wake", &peaks[0]),
                            TimeProcess(self, L"--nowake"), TimeProcess(self, bareArgs, &peaks[1])};
    exePeak.push_back(static_cast<double>(peaks[0]));
    barePeak.push_back(static_cast<double>(peaks[1]));
    if (*std::min_element(std::begin(times), std::end(times)) < 0) {
      std::fwprintf(stderr, L"session_bench: a run failed; is the service running on port %d?\n", port);
      ::RegDeleteTreeW(HKEY_CURRENT_USER, settings.c_str());
      return 2;
    }
    exe.push_back(times[0]);
    wake.push_back(times[1]);
    nowake.push_back(times[2]);
    bare.push_back(times[3]);
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, settings.c_str());
  if (desktopKeeper != nullptr) ::DestroyWindow(desktopKeeper);

  const double base = Median(bare);
  std::wprintf(L"%d rounds, medians                        time     ratio to bare   goal\n", rounds);
  std::wprintf(L"bare process and one WinINet post   %7.0f ms\n", base * 1e3);
  std::wprintf(L"quiet session, VLRenovaWorker.exe   %7.0f ms     %5.2f          <= 1.3\n", Median(exe) * 1e3,
               Median(exe) / base);
  std::wprintf(L"same session, with the wake-up      %7.0f ms     %5.2f\n", Median(wake) * 1e3, Median(wake) / base);
  std::wprintf(L"same session, timer only            %7.0f ms     %5.2f\n", Median(nowake) * 1e3,
               Median(nowake) / base);
  const double peak = Median(exePeak), barePeakSize = Median(barePeak);
  std::wprintf(
      L"peak working set: session (with the wake-up) %.1f MiB, bare process %.1f MiB, ratio %.2f "
      L"(goal <= 1.5)\n",
      peak / 1048576, barePeakSize / 1048576, peak / barePeakSize);
  bench::PrintFigure(L"quiet session vs bare process + one post",
                     win::FormatW(L"%.0f ms vs %.0f ms", Median(exe) * 1e3, base * 1e3), Median(exe) / base, L"<= 1.3",
                     Median(exe) / base <= 1.3);
  bench::PrintFigure(L"peak memory: session vs bare process",
                     win::FormatW(L"%.1f MiB vs %.1f MiB", peak / 1048576, barePeakSize / 1048576), peak / barePeakSize,
                     L"<= 1.5", peak / barePeakSize <= 1.5);
  return 0;
}
