// Opening a link's web page, in real windows of this process: through the
// desktop shell, and through the shell here or the .htm association where the
// desktop offers no way. The tests make the recorder the machine's browser for
// http and https while they run, which no other test may see: so they run
// alone.

#include <gtest/gtest.h>
#include <windows.h>

#include <shellapi.h>

#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/message_box.h"
#include "support/reg_tree_guard.h"
#include "support/scratch.h"
#include "ui/desktop_shell_open.h"
#include "ui/hyperlink.h"
#include "ui/hyperlink_test_window.h"
#include "win/strings.h"

namespace {

using namespace testing_support;

// Wine 8's HKEY_CLASSES_ROOT shows the machine's classes only, not the
// user's (Software\Classes of HKEY_CURRENT_USER), so the tests change the
// machine's classes and put them back.
const HKEY kClassesRoot = HKEY_LOCAL_MACHINE;

void SetValue(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(kClassesRoot, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key,
                              nullptr),
            ERROR_SUCCESS);
  ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
}

std::optional<std::wstring> ReadDefault(const std::wstring& path) {
  wchar_t value[2048] = {};
  DWORD bytes = sizeof value;
  if (::RegGetValueW(kClassesRoot, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

// The open command of the http and https schemes, replaced for the test's
// run (or removed, with an empty command) and put back as it was afterwards.
class WebBrowserCommand {
 public:
  explicit WebBrowserCommand(const std::wstring& command) {
    for (const wchar_t* scheme : {L"http", L"https"}) {
      const std::wstring path = std::wstring(L"Software\\Classes\\") + scheme + L"\\shell\\open\\command";
      saved_.push_back({path, ReadDefault(path)});
      Set(path, command);
    }
  }
  ~WebBrowserCommand() {
    for (const auto& [path, value] : saved_) {
      if (value) {
        SetValue(path, L"", *value);
      } else {
        ::RegDeleteKeyValueW(kClassesRoot, path.c_str(), nullptr);
      }
    }
  }
  WebBrowserCommand(const WebBrowserCommand&) = delete;
  WebBrowserCommand& operator=(const WebBrowserCommand&) = delete;

  void Set(const std::wstring& path, const std::wstring& command) {
    if (command.empty()) {
      ::RegDeleteTreeW(kClassesRoot, (path.substr(0, path.rfind(L"\\shell\\")) + L"\\shell").c_str());
    } else {
      SetValue(path, L"", command);
    }
  }

 private:
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
};

class HyperLinkOpen : public HyperLinkWindow {
 protected:
  void SetUp() override {
    HyperLinkWindow::SetUp();
    recorder_ = ProgramFolder() + L"link_recorder.exe";
    ASSERT_NE(::GetFileAttributesW(recorder_.c_str()), INVALID_FILE_ATTRIBUTES) << "link_recorder.exe missing";
    record_ = scratch_.path() + L"opened.txt";
  }

  // "<recorder>" "<record file>" "%1"
  std::wstring RecorderCommand() const { return L"\"" + recorder_ + L"\" \"" + record_ + L"\" \"%1\""; }

  // The lines recorded so far, waiting up to timeoutMs for at least `count`.
  std::vector<std::string> RecordedLines(size_t count, DWORD timeoutMs = 10000) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    std::vector<std::string> lines;
    do {
      lines.clear();
      std::ifstream file(win::ToUtf8(record_));
      std::string line;
      while (std::getline(file, line)) lines.push_back(line);
      if (lines.size() >= count) return lines;
      PumpMessages();
      ::Sleep(50);
    } while (::GetTickCount64() < deadline);
    return lines;
  }

  // Answers this process's error box on another thread while `open` runs here.
  std::optional<MessageBoxInfo> WithErrorBoxAnswered(const std::function<void()>& open) {
    std::optional<MessageBoxInfo> seen;
    std::thread answerer([&] {
      seen = FindMessageBox(::GetCurrentProcessId(), 15000);
      if (seen) AnswerMessageBox(*seen, IDOK);
    });
    open();
    answerer.join();
    return seen;
  }

  ScratchFolder scratch_;
  std::wstring recorder_;
  std::wstring record_;
};

TEST_F(HyperLinkOpen, ClickOpensTheWebPageThroughTheBrowserAndMarksTheLinkVisited) {
  WebBrowserCommand browser(RecorderCommand());
  const std::wstring url = L"http://127.0.0.1/changes/42?page=1#new";

  HWND control = MakeStatic(L"Show changes in the new version");
  CHyperLink link;
  link.SetURL(url);
  ASSERT_TRUE(link.Attach(control));
  EXPECT_FALSE(link.IsVisited());

  // Button down takes the focus (flag 0x10); button up opens. No messages
  // are pumped in between: a window of a test running beside this one may
  // take the focus, and a link that loses it is no longer pressed.
  ::SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  EXPECT_EQ(::GetFocus(), control);
  EXPECT_TRUE(link.IsPressed());
  EXPECT_FALSE(link.IsVisited()) << "opened on button down";
  ::SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  std::vector<std::string> lines = RecordedLines(1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(win::ToUtf8(url)), std::string::npos) << lines[0];
  EXPECT_TRUE(link.IsVisited());

  // The space key opens it too; other keys do nothing.
  ::SendMessageW(control, WM_KEYDOWN, 'A', 0);
  ::SendMessageW(control, WM_KEYDOWN, VK_SPACE, 0);
  lines = RecordedLines(2);
  EXPECT_EQ(lines.size(), 2u);

  // GotoURL reports success; an https page in capitals opens as well.
  EXPECT_GT(link.GotoURL(L"HTTPS://127.0.0.1/direct", SW_SHOWNORMAL), 32);
  lines = RecordedLines(3);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[2].find("HTTPS://127.0.0.1/direct"), std::string::npos) << lines[2];
}

TEST_F(HyperLinkOpen, OpenOnButtonDownOpensOnceAndNeedsNoFocus) {
  WebBrowserCommand browser(RecorderCommand());
  HWND control = MakeStatic(L"start download");
  CHyperLink link;
  link.SetURL(L"https://127.0.0.1/file");
  link.SetFlags(kLinkUnderline | kLinkSizeToText | kLinkOpenOnButtonDown);
  ASSERT_TRUE(link.Attach(control));
  ::SetFocus(host_);
  ::SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  EXPECT_NE(::GetFocus(), control);
  EXPECT_EQ(RecordedLines(1).size(), 1u);
  ::SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  EXPECT_EQ(RecordedLines(2, 1000).size(), 1u) << "opened again on button up";
  EXPECT_TRUE(link.IsVisited());
}

// The desktop shell opens the page in its own process, so the browser is
// not a child of the updater and runs with the user's rights.
TEST_F(HyperLinkOpen, TheDesktopShellOpensThePageInItsOwnProcess) {
  WebBrowserCommand browser(RecorderCommand());
  if (!OpenThroughDesktopShell(L"http://127.0.0.1/desktop", SW_SHOW)) {
    GTEST_SKIP() << "this system's desktop offers no shell to open pages through";
  }
  const std::vector<std::string> lines = RecordedLines(1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("http://127.0.0.1/desktop"), std::string::npos) << lines[0];
}

TEST_F(HyperLinkOpen, WithoutABrowserForTheSchemeTheHtmAssociationOpensThePageQuoted) {
  // A fresh Wine 8 prefix has no .htm key at all (only htmlfile, opened by
  // winebrowser), so the fallback finds nothing there by default; the test
  // makes the machine's .htm key for its run and removes it again.
  HKEY existing = nullptr;
  ASSERT_NE(::RegOpenKeyExW(kClassesRoot, L"Software\\Classes\\.htm", 0, KEY_READ | KEY_WOW64_64KEY, &existing),
            ERROR_SUCCESS)
      << "this prefix has a .htm association already; not touching it";
  if (existing != nullptr) ::RegCloseKey(existing);
  RegTreeGuard htm(kClassesRoot, L"Software\\Classes\\.htm");
  const std::wstring fileType = UniqueName(L"VlrnLinkTest.htm.");
  RegTreeGuard type(kClassesRoot, L"Software\\Classes\\" + fileType);
  SetValue(htm.path(), L"", fileType);
  SetValue(type.path() + L"\\shell\\open\\command", L"", RecorderCommand());
  WebBrowserCommand noBrowser(L"");

  const std::wstring url = L"http://127.0.0.1/page?a=1&b=2";
  // The shell alone fails for this URL now: Wine 8 answers 31 (no
  // association) and starts nothing.
  const INT_PTR shellAlone =
      reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOW));
  ASSERT_LE(shellAlone, 32) << "the shell opened a scheme without handler";
  EXPECT_TRUE(RecordedLines(1, 500).empty()) << "the shell itself used the .htm association";

  // The association's command, cut at "%1", gets a blank and the URL in
  // quotes: one argument, whatever it holds.
  EXPECT_GT(OpenWebPageHere(url, SW_SHOW), 32);
  std::vector<std::string> lines = RecordedLines(1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(win::ToUtf8(L"\"" + record_ + L"\"  \"" + url + L"\"")), std::string::npos) << lines[0];

  // The association's program is missing.
  SetValue(type.path() + L"\\shell\\open\\command", L"", L"\"" + scratch_.path() + L"missing-browser.exe\" \"%1\"");
  EXPECT_EQ(OpenWebPageHere(url, SW_SHOW), 2);
  // No open command for the file type: the shell's own result.
  ::RegDeleteTreeW(kClassesRoot, (type.path() + L"\\shell").c_str());
  EXPECT_EQ(OpenWebPageHere(url, SW_SHOW), shellAlone);
  EXPECT_EQ(RecordedLines(2, 300).size(), 1u);
}

}  // namespace
