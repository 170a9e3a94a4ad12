// The window as a passive view: handed a setup and a state's display made by
// hand, with no session, worker or product record behind it, the real window
// shows them (run modally on the test's thread, read from a second thread).

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "resource.h"
#include "session_test_support.h"
#include "texts/text_table.h"
#include "ui/dialog_state.h"
#include "ui/dialog_window.h"
#include "version.h"

namespace {

using namespace testing_support;

constexpr int32_t kClosedCode = 77;
constexpr int kGerman = 1031;

std::wstring Text(HWND window, int id) {
  wchar_t text[2048] = {};
  ::GetDlgItemTextW(window, id, text, static_cast<int>(std::size(text)));
  return text;
}

bool Visible(HWND window, int id) { return (::GetWindowLongW(::GetDlgItem(window, id), GWL_STYLE) & WS_VISIBLE) != 0; }

// The session's side reduced to the data: it sets the window up with what it
// was given and ends the window when asked to close; every other event is
// only counted.
class GivenData : public SessionEvents {
 public:
  GivenData(SessionView& view, WindowSetup setup) : view_(view), setup_(std::move(setup)) {}

  void OnInitDialog() override {
    view_.SetUpWindow(setup_);
    initialised_.store(true);
  }
  void OnClose() override { view_.EndModal(kClosedCode); }
  void OnTimer() override { ++others_; }
  void OnWorkerWake() override { ++others_; }
  void OnBtnClickedNowButton() override { ++others_; }
  void OnBnClickedCloseButton() override { ++others_; }
  void OnBnClickedContinueButton() override { ++others_; }
  void OnBnClickedDontNotify() override { ++others_; }
  void OnRadioClicked() override { ++others_; }

  bool Initialised() const { return initialised_.load(); }
  int Others() const { return others_.load(); }

 private:
  SessionView& view_;
  const WindowSetup setup_;
  std::atomic<bool> initialised_{false};
  std::atomic<int> others_{0};
};

WindowSetup GermanProduct() {
  WindowSetup setup;
  setup.product.ProgramName = L"Photo Tool";
  setup.product.ProductEditionName = L"Photo Tool Pro";
  setup.product.ProgramVersion = L"6.2.17";
  setup.product.Language = kGerman;
  return setup;
}

}  // namespace

TEST(StateView, ShowsAStateFromItsDataAlone) {
  DialogWindow window;
  GivenData session(window, GermanProduct());

  std::thread user([&] {
    ASSERT_TRUE(WaitUntil([&] { return window.hwnd() != nullptr && session.Initialised(); }));
    const HWND hwnd = window.hwnd();
    {
      WindowThreadCalls calls(hwnd);
      // From the setup: the title, the header band and the texts' language.
      wchar_t title[256] = {};
      ::GetWindowTextW(hwnd, title, 256);
      EXPECT_EQ(std::wstring(title), std::wstring(GetText(kTextUpdaterName, kGerman)) + L" " + kUpdaterVersion);
      EXPECT_EQ(window.Header().Title(), L"Photo Tool Pro");
      EXPECT_EQ(window.Header().Subtitle(), L"Version 6.2 Build 17");
      EXPECT_EQ(Text(hwnd, IDC_MESSAGE_TEXT), GetText(kTextConnectingToServer, kGerman));

      StateDisplay offer;
      offer.state = UPDATE_AVAILABLE;
      offer.language = kGerman;
      offer.offeredVersion = L"6.3.0";
      offer.changeLogUrl = L"https://localhost/changes";
      offer.upgradeUrl = L"https://localhost/upgrade";
      offer.upgradeLinkText = L"Read this first";
      offer.dontNotifyBox = true;
      calls.Run([&] { window.ShowStateDisplay(offer); });
      EXPECT_EQ(Text(hwnd, IDC_MESSAGE_TEXT), GetText(kTextUpdateAvailable, kGerman));
      EXPECT_EQ(Text(hwnd, IDC_SERVER_VERSION), L"6.3.0");
      EXPECT_TRUE(Visible(hwnd, IDC_UPDATE_NOW_BUTTON));
      EXPECT_TRUE(Visible(hwnd, IDC_DONT_SHOW_AGAIN));
      EXPECT_TRUE(Visible(hwnd, IDC_CHANGE_LOG_LINK));
      EXPECT_EQ(window.LinkUrl(IDC_CHANGE_LOG_LINK), L"https://localhost/changes");
      EXPECT_TRUE(Visible(hwnd, IDC_MAJOR_UPGRADE_LINK));
      EXPECT_EQ(Text(hwnd, IDC_MAJOR_UPGRADE_LINK), L"Read this first");
      EXPECT_EQ(window.LinkUrl(IDC_MAJOR_UPGRADE_LINK), L"https://localhost/upgrade");

      // The run ends: the failed download's address becomes the link, and the
      // header band keeps the installed version the display names.
      StateDisplay failed;
      failed.state = DOWNLOAD_FAILED;
      failed.language = kGerman;
      failed.failedDownloadUrl = L"https://localhost/files/setup.exe";
      calls.Run([&] { window.ShowStateDisplay(failed); });
      EXPECT_EQ(Text(hwnd, IDC_MESSAGE_TEXT), GetText(kTextDownloadManually, kGerman));
      EXPECT_EQ(Text(hwnd, IDC_CLOSE_BUTTON), GetText(kTextClose, kGerman));
      EXPECT_EQ(window.LinkUrl(IDC_CHANGE_LOG_LINK), L"https://localhost/files/setup.exe");
      EXPECT_FALSE(Visible(hwnd, IDC_PROGRESS));

      StateDisplay updateFailed;
      updateFailed.state = UPDATE_FAILED;
      updateFailed.language = kGerman;
      updateFailed.installedVersion = L"6.2.18";
      calls.Run([&] { window.ShowStateDisplay(updateFailed); });
      EXPECT_EQ(Text(hwnd, IDC_MESSAGE_TEXT), GetText(kTextUpdateFailed, kGerman));
      EXPECT_EQ(window.Header().Subtitle(), L"Version 6.2 Build 18");
    }
    ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(window.RunModal(session), kClosedCode);
  user.join();
  // Showing asked nothing of the session.
  EXPECT_EQ(session.Others(), 0);
}
