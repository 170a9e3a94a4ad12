// The session in its real window: template 103 run modally on this thread,
// driven from another thread the way a user would.

#include "ui/dialog_window.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <optional>
#include <thread>

#include "resource.h"
#include "session_test_support.h"
#include "support/message_box.h"

namespace {

using namespace testing_support;

// A top-level dialog of this process whose caption is `caption`.
std::optional<HWND> FindDialogCaptioned(const std::wstring& caption, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  do {
    struct Search {
      const std::wstring* caption;
      HWND found;
    } search{&caption, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
          auto* s = reinterpret_cast<Search*>(parameter);
          DWORD pid = 0;
          ::GetWindowThreadProcessId(window, &pid);
          wchar_t text[256] = {};
          ::GetWindowTextW(window, text, 256);
          if (pid == ::GetCurrentProcessId() && *s->caption == text) s->found = window;
          return s->found == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    ::Sleep(20);
  } while (::GetTickCount64() < deadline);
  return std::nullopt;
}

class DialogWindowTest : public SessionTest {
 protected:
  INT_PTR Run() {
    dialog_ = std::make_unique<Dialog>(&worker_, &options_, &window_);
    return window_.RunModal(*dialog_);
  }

  // Waits until the window is up and in state.
  bool WaitForState(int32_t state) {
    return WaitUntil([&] { return window_.hwnd() != nullptr && dialog_ && dialog_->DialogState() == state; });
  }

  DialogWindow window_;
};

TEST_F(DialogWindowTest, AQuietSessionStaysHiddenAndEndsWithItsCode) {
  UseSwitches(L"-UpdateCheckSilent -QuickCheck");
  worker_.checkResult = {RESULT_UPDATE_AVAILABLE, kTestUpdateId};
  std::atomic<bool> done{false};
  std::atomic<bool> seen{false};
  std::thread watcher([&] {
    while (!done) {
      const HWND window = window_.hwnd();
      if (window != nullptr && ::IsWindowVisible(window)) seen = true;
      ::Sleep(5);
    }
  });
  EXPECT_EQ(Run(), kEndUpdateNotTaken);
  done = true;
  watcher.join();
  EXPECT_FALSE(seen);
  EXPECT_EQ(worker_.checkCalls, 1);
}

TEST_F(DialogWindowTest, AnOfferIsShownAndClosedThroughTheButtonAndTheQuestionButNeverByEscape) {
  worker_.checkResult = {RESULT_UPDATE_AVAILABLE, kTestUpdateId};
  std::atomic<bool> visible{false};
  std::atomic<bool> installEnabled{false};
  std::atomic<int32_t> stateAfterEscape{0};
  std::thread user([&] {
    if (!WaitForState(UPDATE_AVAILABLE)) return;
    const HWND window = window_.hwnd();
    // The dialog manager shows a modal dialog once its queue first runs empty,
    // and the state is set before its display is: both are waited for.
    visible = WaitUntil([&] { return ::IsWindowVisible(window) != FALSE; });
    installEnabled = WaitUntil([&] { return ::IsWindowEnabled(::GetDlgItem(window, IDC_UPDATE_NOW_BUTTON)) != FALSE; });
    // What the Escape key sends: swallowed.
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    stateAfterEscape = dialog_->DialogState();
    // The key itself, which the dialog manager turns into that command; were
    // it to close the window, the session would not end with the Close button's code.
    const HWND install = ::GetDlgItem(window, IDC_UPDATE_NOW_BUTTON);
    ::PostMessageW(install, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ::PostMessageW(install, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    ::PostMessageW(::GetDlgItem(window, IDC_CLOSE_BUTTON), BM_CLICK, 0, 0);
    if (const auto question = FindDialogCaptioned(L"End Velbor Renova", 30000)) {
      AnswerMessageBox(MessageBoxInfo{*question, L"", L""}, IDYES);
    }
  });
  const INT_PTR code = Run();
  user.join();
  EXPECT_EQ(code, kEndUpdateNotTaken);
  EXPECT_TRUE(visible);
  EXPECT_TRUE(installEnabled);
  EXPECT_EQ(stateAfterEscape, UPDATE_AVAILABLE);
}

TEST_F(DialogWindowTest, AcceptedOfferRunsOnceAndEndsWithTheRunsCode) {
  UseSwitches(L"-UpdateSilent");
  worker_.checkResult = {RESULT_UPDATE_AVAILABLE, kTestUpdateId};
  worker_.runResult = {RESULT_RUN_DONE, kTestUpdateId};
  EXPECT_EQ(Run(), kEndUpdateSucceeded);
  EXPECT_EQ(worker_.runCalls, 1);
  EXPECT_EQ(worker_.mostAtOnce, 1);
  EXPECT_TRUE(worker_.runHadCallback);
}

}  // namespace
