#include "support/message_box.h"

namespace testing_support {
namespace {

constexpr int kMessageBoxTextId = 0xFFFF;  // the static control that holds the text

struct Search {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  wchar_t className[16] = {};
  ::GetClassNameW(window, className, 16);
  if (owner == search->pid && std::wstring(className) == L"#32770" && ::IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

std::wstring WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

}  // namespace

std::optional<MessageBoxInfo> FindMessageBox(DWORD pid, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  do {
    Search search{pid, nullptr};
    ::EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) {
      MessageBoxInfo box;
      box.window = search.found;
      box.caption = WindowText(search.found);
      if (HWND text = ::GetDlgItem(search.found, kMessageBoxTextId)) box.text = WindowText(text);
      return box;
    }
    ::Sleep(50);
  } while (::GetTickCount64() < deadline);
  return std::nullopt;
}

bool AnswerMessageBox(const MessageBoxInfo& box, int buttonId) {
  HWND button = ::GetDlgItem(box.window, buttonId);
  if (button == nullptr) return false;
  return ::PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button)) !=
         FALSE;
}

}  // namespace testing_support
