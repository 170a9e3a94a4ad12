#include "support/session_window.h"

#include "resource.h"
#include "texts/text_table.h"

namespace testing_support {
namespace {

constexpr DWORD kPollMs = 50;

std::wstring ControlText(HWND window, int id) {
  wchar_t text[1024] = {};
  ::GetDlgItemTextW(window, id, text, static_cast<int>(std::size(text)));
  return text;
}

struct Search {
  DWORD pid;
  HWND found;
};

// The session window is the process's visible dialog that has a message line.
std::optional<HWND> FindSessionWindow(DWORD pid) {
  Search search{pid, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        auto* s = reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner == s->pid && ::IsWindowVisible(window) && ::GetDlgItem(window, IDC_MESSAGE_TEXT) != nullptr) {
          s->found = window;
        }
        return s->found == nullptr;
      },
      reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return std::nullopt;
  return search.found;
}

// Up to date, or in installation mode nothing to install (shown as the
// general error): the session waits for its user and closes without a question.
bool ShowsNothingToDo(HWND window) {
  const std::wstring message = ControlText(window, IDC_MESSAGE_TEXT);
  for (const int language : {1033, 1031, 1041}) {
    if (message == GetText(kTextAlreadyUpToDate, language) ||
        message == ReplaceUpdaterName(GetText(kTextUpdaterError, language), L"", language)) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<HWND> WaitForSessionMessage(DWORD pid, const std::wstring& text, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  do {
    const std::optional<HWND> window = FindSessionWindow(pid);
    if (window && ControlText(*window, IDC_MESSAGE_TEXT) == text) return window;
    ::Sleep(kPollMs);
  } while (::GetTickCount64() < deadline);
  return std::nullopt;
}

std::optional<HWND> WaitForQuestion(DWORD pid, HWND sessionWindow, DWORD timeoutMs) {
  struct Question {
    DWORD pid;
    HWND session;
    HWND found;
  };
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  do {
    Question search{pid, sessionWindow, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
          auto* s = reinterpret_cast<Question*>(parameter);
          DWORD owner = 0;
          ::GetWindowThreadProcessId(window, &owner);
          wchar_t className[16] = {};
          ::GetClassNameW(window, className, 16);
          if (owner == s->pid && window != s->session && ::IsWindowVisible(window) &&
              std::wstring(className) == L"#32770") {
            s->found = window;
          }
          return s->found == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    ::Sleep(kPollMs);
  } while (::GetTickCount64() < deadline);
  return std::nullopt;
}

bool ClickButton(HWND window, int buttonId) {
  const HWND button = ::GetDlgItem(window, buttonId);
  return button != nullptr && ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                                             reinterpret_cast<LPARAM>(button)) != FALSE;
}

std::optional<DWORD> WaitClosingNothingToDo(ChildProcess& child, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  bool closed = false;
  do {
    if (const std::optional<DWORD> code = child.Wait(kPollMs)) return code;
    if (!closed) {
      const std::optional<HWND> window = FindSessionWindow(child.pid());
      if (window && ShowsNothingToDo(*window)) closed = ClickButton(*window, IDC_CLOSE_BUTTON);
    }
  } while (::GetTickCount64() < deadline);
  return std::nullopt;
}

std::optional<DWORD> RunSession(const std::wstring& args, DWORD timeoutMs) {
  ChildProcess child(WorkerExePath(), args);
  if (!child.started()) return std::nullopt;
  return WaitClosingNothingToDo(child, timeoutMs);
}

}  // namespace testing_support
