#pragma once
// Finds and answers a message box that a child process shows, so that tests of
// visible sessions never hang on a question.

#include <windows.h>

#include <optional>
#include <string>

namespace testing_support {

struct MessageBoxInfo {
  HWND window = nullptr;
  std::wstring caption;
  std::wstring text;
};

// Waits up to timeoutMs for a top-level dialog (class "#32770") of process pid.
std::optional<MessageBoxInfo> FindMessageBox(DWORD pid, DWORD timeoutMs);
// Presses the button with the given id (IDOK, IDYES, IDNO, ...).
bool AnswerMessageBox(const MessageBoxInfo& box, int buttonId);

}  // namespace testing_support
