// Drives a visible session the way a user would, for the demo: starts the
// updater, takes a picture of the window each time its message line settles
// on a new text, clicks Install when the update is offered and Close once the
// session has nothing more to do, and exits with the updater's exit code.
//   demo_driver PICTURE_FOLDER UPDATER_EXE [SWITCHES...]
// Prints one line per state ("state <n>: <message>") and what it clicked;
// the pictures are <n>-<what>.bmp in PICTURE_FOLDER.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string>

#include "resource.h"
#include "texts/text_table.h"
#include "win/unique_handle.h"
#include "window_capture.h"

namespace {

constexpr DWORD kPollMs = 100;
constexpr ULONGLONG kSettleMs = 1500;   // a text this long unchanged is a state, not a step
constexpr ULONGLONG kLimitMs = 300000;  // the whole session, download and setup included

struct Search {
  DWORD pid;
  HWND found;
};

// The process's visible session window (the one with the message line).
HWND SessionWindow(DWORD pid) {
  Search search{pid, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner != s->pid || !::IsWindowVisible(window) || ::GetDlgItem(window, IDC_MESSAGE_TEXT) == nullptr) {
          return TRUE;
        }
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring Text(HWND window) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(window, text, static_cast<int>(std::size(text)));
  return text;
}

bool Usable(HWND dialog, int id) {
  const HWND button = ::GetDlgItem(dialog, id);
  return button != nullptr && ::IsWindowVisible(button) && ::IsWindowEnabled(button);
}

// While the update runs the Close button reads "Abort" (in the session's
// language); once it reads anything else the session is done.
bool ReadsAbort(HWND dialog) {
  const std::wstring caption = Text(::GetDlgItem(dialog, IDC_CLOSE_BUTTON));
  for (const int language : {1033, 1031, 1041}) {
    if (caption == GetText(kTextAbort, language)) return true;
  }
  return false;
}

void Click(HWND dialog, int id) {
  ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

std::wstring OneLine(std::wstring text) {
  for (wchar_t& c : text) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: demo_driver PICTURE_FOLDER UPDATER_EXE [SWITCHES...]\n");
    return 2;
  }
  const std::wstring folder = std::wstring(argv[1]) + L"\\";
  std::wstring commandLine = L"\"" + std::wstring(argv[2]) + L"\"";
  for (int i = 3; i < argc; ++i) commandLine += std::wstring(L" \"") + argv[i] + L"\"";

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(argv[2], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
    std::fwprintf(stderr, L"demo_driver: can't start %ls (error %lu)\n", argv[2], ::GetLastError());
    return 2;
  }
  const win::UniqueProcess process(started.hProcess);
  const win::UniqueThread thread(started.hThread);

  int pictures = 0;
  bool installClicked = false;
  bool closeClicked = false;
  std::wstring seen;     // the text of the last state pictured
  std::wstring current;  // the text now
  ULONGLONG since = 0;   // when it became the text now
  const ULONGLONG end = ::GetTickCount64() + kLimitMs;
  while (::WaitForSingleObject(process.get(), kPollMs) == WAIT_TIMEOUT) {
    if (::GetTickCount64() > end) {
      std::fwprintf(stderr, L"demo_driver: the session did not end in time\n");
      ::TerminateProcess(process.get(), 1);
      return 3;
    }
    const HWND dialog = SessionWindow(started.dwProcessId);
    if (dialog == nullptr) continue;
    const std::wstring text = Text(::GetDlgItem(dialog, IDC_MESSAGE_TEXT));
    if (text != current) {
      current = text;
      since = ::GetTickCount64();
      continue;
    }
    if (::GetTickCount64() - since < kSettleMs || text == seen || closeClicked) continue;

    // A state: its picture first, then what a user would do in it.
    seen = text;
    ++pictures;
    const bool offer = !installClicked && Usable(dialog, IDC_UPDATE_NOW_BUTTON);
    const bool finished = installClicked && !Usable(dialog, IDC_UPDATE_NOW_BUTTON) &&
                          Usable(dialog, IDC_CLOSE_BUTTON) && !ReadsAbort(dialog);
    const wchar_t* what = offer ? L"offer" : finished ? L"finished" : L"step";
    wchar_t name[64] = {};
    std::swprintf(name, std::size(name), L"%02d-%ls.bmp", pictures, what);
    const std::wstring picture = folder + name;
    std::wprintf(L"state %d: %ls%ls\n", pictures, OneLine(text).c_str(),
                 stand_in::SaveWindow(dialog, picture) ? L"" : L" (no picture)");
    if (offer) {
      std::wprintf(L"  clicking Install\n");
      Click(dialog, IDC_UPDATE_NOW_BUTTON);
      installClicked = true;
    } else if (finished) {
      std::wprintf(L"  clicking Close\n");
      Click(dialog, IDC_CLOSE_BUTTON);
      closeClicked = true;
    }
    std::fflush(stdout);
  }
  DWORD exitCode = 1;
  ::GetExitCodeProcess(process.get(), &exitCode);
  std::wprintf(L"exit code %lu\n", exitCode);
  return static_cast<int>(exitCode);
}
