#pragma once
// The session window of an updater that a test started, seen from outside the
// way a user sees it: found by process, read by control, answered by button.

#include <windows.h>

#include <optional>
#include <string>

#include "support/child_process.h"

namespace testing_support {

// The visible session window of process pid, once its message line reads
// text; nothing when that did not happen within timeoutMs.
std::optional<HWND> WaitForSessionMessage(DWORD pid, const std::wstring& text, DWORD timeoutMs);

// A question box the session shows over its window, once it is up.
std::optional<HWND> WaitForQuestion(DWORD pid, HWND sessionWindow, DWORD timeoutMs);

// Clicks a button of the window (IDC_CLOSE_BUTTON, IDC_UPDATE_NOW_BUTTON, ...).
bool ClickButton(HWND window, int buttonId);

// Waits for the child to end. A visible session that has nothing to offer
// (up to date, or nothing to install, which shows the general error) waits
// for its user; this one closes it then. The exit code, or nothing on a time-out.
std::optional<DWORD> WaitClosingNothingToDo(ChildProcess& child, DWORD timeoutMs);

// Starts the updater with args and waits as WaitClosingNothingToDo does.
std::optional<DWORD> RunSession(const std::wstring& args, DWORD timeoutMs = 90000);

}  // namespace testing_support
