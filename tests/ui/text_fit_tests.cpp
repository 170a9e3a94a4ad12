// Every text the session window shows fits its control, at the DPI the screen
// is drawn at.
//
// ctest runs these at 96, 144 and 192 DPI (ui_text_fit_<dpi>dpi), in a Wine
// prefix that draws at that DPI with Wine's Tahoma and a Japanese font linked
// behind it, as the updater's users see the window (tests/dpi/run-at-dpi).
// The suite's own prefix has neither font, so they are left out of its run.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "actions/format_size.h"
#include "resource.h"
#include "session_test_support.h"
#include "texts/text_table.h"
#include "ui/dialog_window.h"
#include "win/dpi.h"
#include "win/strings.h"

namespace {

using namespace testing_support;

std::wstring WindowText(HWND control) {
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool IsOfClass(HWND control, const wchar_t* className) {
  wchar_t name[64] = {};
  ::GetClassNameW(control, name, static_cast<int>(std::size(name)));
  return ::lstrcmpiW(name, className) == 0;
}

std::string ControlName(int id) {
  switch (id) {
    case IDC_MESSAGE_TEXT:
      return "message line";
    case IDC_DOWNLOAD_PROGRESS:
      return "progress label";
    case IDC_CHANGE_LOG_LINK:
      return "change-log link";
    case IDC_SERVER_VERSION_TEXT:
      return "version caption";
    case IDC_SERVER_VERSION:
      return "version line";
    case IDC_MAJOR_UPGRADE_LINK:
      return "hint link";
    case IDC_IMPORTANT_HINT:
      return "hint caption";
    case IDC_MAJOR_UPGRADE_TEXT:
      return "hint text";
    case IDC_MAJOR_UPGRADE_POPUP_LINK:
      return "popup link";
    case IDC_INSTALL_NOW_RADIO:
    case IDC_REMIND_LATER_RADIO:
    case IDC_DONT_SHOW_AGAIN_RADIO:
      return "radio button";
    case IDC_DONT_SHOW_AGAIN:
      return "don't-notify box";
    case IDC_UPDATE_NOW_BUTTON:
      return "Install button";
    case IDC_CONTINUE_BUTTON:
      return "Continue button";
    case IDC_CLOSE_BUTTON:
      return "Close button";
    default:
      return "control";
  }
}

// What a control's text needs, drawn the way the control draws it, and the
// room the control has: its client rectangle.
struct TextRoom {
  bool measured = false;
  SIZE need{};
  SIZE room{};
};

TextRoom Measure(HWND control, const std::wstring& text, UINT dpi) {
  TextRoom result;
  RECT client{};
  ::GetClientRect(control, &client);
  result.room = {client.right - client.left, client.bottom - client.top};
  const LONG style = ::GetWindowLongW(control, GWL_STYLE);
  UINT format = DT_CALCRECT | DT_EXPANDTABS;
  bool isCheckBox = false;
  SIZE frame{};  // what the control keeps around its text
  if (IsOfClass(control, L"Button")) {
    switch (style & BS_TYPEMASK) {
      case BS_CHECKBOX:
      case BS_AUTOCHECKBOX:
      case BS_RADIOBUTTON:
      case BS_AUTORADIOBUTTON:
      case BS_3STATE:
      case BS_AUTO3STATE:
        isCheckBox = true;
        format |= (style & BS_MULTILINE) != 0 ? DT_WORDBREAK : DT_SINGLELINE;
        break;
      case BS_PUSHBUTTON:
      case BS_DEFPUSHBUTTON:
        // The default button's outline and the raised edge: 3 pixels a side at 96 DPI.
        frame = {2 * win::ScaleToDpi(3, dpi), 2 * win::ScaleToDpi(3, dpi)};
        format |= DT_SINGLELINE;
        break;
      default:
        return result;  // group boxes: the window's have no title
    }
  } else if (IsOfClass(control, L"Static")) {
    switch (style & SS_TYPEMASK) {
      case SS_LEFT:
      case SS_CENTER:
      case SS_RIGHT:
        format |= DT_WORDBREAK;
        break;
      case SS_LEFTNOWORDWRAP:
        break;  // lines break at line feeds only
      case SS_SIMPLE:
        format |= DT_SINGLELINE;
        break;
      default:
        return result;  // pictures and frames
    }
    if ((style & SS_NOPREFIX) != 0) format |= DT_NOPREFIX;
  } else {
    return result;  // the progress bar, the header band: no text of a control
  }

  const HDC dc = ::GetDC(control);
  const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
  const HGDIOBJ previous = ::SelectObject(dc, font != nullptr ? font : ::GetStockObject(SYSTEM_FONT));
  if (isCheckBox) {
    // The box as the system draws it, 12 pixels and one more at 96 DPI, and
    // a gap of half a digit's width before the text.
    int digit = 0;
    ::GetCharWidth32W(dc, L'0', L'0', &digit);
    frame.cx = ::MulDiv(12, static_cast<int>(dpi), 96) + 1 + digit / 2;
  }
  RECT drawn = {0, 0, std::max<LONG>(result.room.cx - frame.cx, 1), 0};
  ::DrawTextW(dc, text.c_str(), -1, &drawn, format);
  ::SelectObject(dc, previous);
  ::ReleaseDC(control, dc);
  result.need = {drawn.right - drawn.left + frame.cx, drawn.bottom - drawn.top + frame.cy};
  result.measured = true;
  return result;
}

// "<control> (<id>) "<text>" needs W x H px, has W x H" for every visible
// control of the window whose text does not fit it or that reaches past the
// window's client area.
std::vector<std::string> Misfits(HWND window, UINT dpi) {
  std::vector<std::string> misfits;
  RECT area{};
  ::GetClientRect(window, &area);
  for (HWND control = ::GetWindow(window, GW_CHILD); control != nullptr; control = ::GetWindow(control, GW_HWNDNEXT)) {
    if ((::GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) == 0) continue;
    const std::wstring text = WindowText(control);
    if (text.empty()) continue;
    const int id = ::GetDlgCtrlID(control);
    std::ostringstream name;
    name << ControlName(id) << " (" << id << ") \"" << win::ToUtf8(text) << "\"";
    const TextRoom fit = Measure(control, text, dpi);
    if (fit.measured && (fit.need.cx > fit.room.cx || fit.need.cy > fit.room.cy)) {
      std::ostringstream line;
      line << name.str() << " needs " << fit.need.cx << " x " << fit.need.cy << " px, has " << fit.room.cx << " x "
           << fit.room.cy;
      misfits.push_back(line.str());
    }
    RECT place{};
    ::GetWindowRect(control, &place);
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
    if (place.left < area.left || place.top < area.top || place.right > area.right || place.bottom > area.bottom) {
      std::ostringstream line;
      line << name.str() << " reaches past the window: " << place.left << "," << place.top << " - " << place.right
           << "," << place.bottom << " in " << area.right << " x " << area.bottom;
      misfits.push_back(line.str());
    }
  }
  return misfits;
}

// A state as a session reaches it: the states entered after CHECK_SERVER,
// the last one being the one named.
struct Scene {
  int32_t state;
  const char* name;
  bool installationMode;
  std::vector<int32_t> path;
};

const std::vector<Scene>& Scenes() {
  // clang-format off
  static const std::vector<Scene> scenes = {
      {CHECK_SERVER, "CHECK_SERVER", false, {}},
      {PREPARE_UPDATE_CHECK, "PREPARE_UPDATE_CHECK", false, {PREPARE_UPDATE_CHECK}},
      {MAJOR_UPGRADE_OFFER, "MAJOR_UPGRADE_OFFER", false, {MAJOR_UPGRADE_OFFER}},
      {UPDATE_AVAILABLE, "UPDATE_AVAILABLE", false, {UPDATE_AVAILABLE}},
      {NO_UPDATE_AVAILABLE, "NO_UPDATE_AVAILABLE", false, {NO_UPDATE_AVAILABLE}},
      {UPDATE_IN_PROGRESS, "UPDATE_IN_PROGRESS", false, {UPDATE_AVAILABLE, UPDATE_IN_PROGRESS}},
      {UPDATE_SUCCESSFUL, "UPDATE_SUCCESSFUL", false, {UPDATE_AVAILABLE, UPDATE_IN_PROGRESS, UPDATE_SUCCESSFUL}},
      {UPDATE_FAILED, "UPDATE_FAILED", false, {UPDATE_AVAILABLE, UPDATE_IN_PROGRESS, UPDATE_FAILED}},
      {INSTALLATION_AVAILABLE, "INSTALLATION_AVAILABLE", true, {INSTALLATION_AVAILABLE}},
      {INSTALLATION_NOT_AVAILABLE_, "INSTALLATION_NOT_AVAILABLE_", true, {INSTALLATION_NOT_AVAILABLE_}},
      {INSTALLATION_PREPARATION, "INSTALLATION_PREPARATION", true, {INSTALLATION_PREPARATION}},
      {INSTALLATION_SUCCESSFUL, "INSTALLATION_SUCCESSFUL", true, {INSTALLATION_PREPARATION, INSTALLATION_SUCCESSFUL}},
      {INSTALLATION_FAILED, "INSTALLATION_FAILED", true, {INSTALLATION_PREPARATION, INSTALLATION_FAILED}},
      {OS_NOT_COMPATIBLE, "OS_NOT_COMPATIBLE", false, {OS_NOT_COMPATIBLE}},
      {CLIENT_CANNOT_BUILD_REQUEST, "CLIENT_CANNOT_BUILD_REQUEST", false, {CLIENT_CANNOT_BUILD_REQUEST}},
      {NO_INTERNET_CONNECTION, "NO_INTERNET_CONNECTION", false, {NO_INTERNET_CONNECTION}},
      {SERVER_NOT_AVAILABLE, "SERVER_NOT_AVAILABLE", false, {SERVER_NOT_AVAILABLE}},
      {SERVER_ERROR_OCCURRED, "SERVER_ERROR_OCCURRED", false, {SERVER_ERROR_OCCURRED}},
      {DOWNLOAD_FAILED, "DOWNLOAD_FAILED", false, {UPDATE_AVAILABLE, UPDATE_IN_PROGRESS, DOWNLOAD_FAILED}},
      {PLEASE_CONTACT_SUPPORT, "PLEASE_CONTACT_SUPPORT", false, {PLEASE_CONTACT_SUPPORT}},
  };
  // clang-format on
  return scenes;
}

// What a run shows in the message line on its way, with a file name as a
// server names it.
std::vector<std::wstring> RunLines(int language) {
  const wchar_t file[] = L"PhotoTool-25.2.0-Setup.exe";
  return {GetText(kTextDeletingCache, language),
          win::FormatW(GetText(kTextDownloadingFile, language), file),
          win::FormatW(GetText(kTextDownloadSucceeded, language), file),
          win::FormatW(GetText(kTextDownloadFailed, language), file),
          GetText(kTextStartingInstallation, language),
          GetText(kTextCopyingNewFiles, language)};
}

class TextFitTest : public SessionWindowTest {
 protected:
  void SetUp() override {
    SessionWindowTest::SetUp();
    if (HasFatalFailure()) return;
    // A prefix whose DPI was not set would pass these at 96 DPI unnoticed.
    if (const char* expected = std::getenv("VLRN_EXPECTED_DPI")) {
      ASSERT_EQ(ScreenDpi(), static_cast<UINT>(std::atoi(expected)))
          << "the prefix does not draw at the DPI it was given";
    }
    // Everything an answer can show: the change log, the upgrade hint and
    // its popup link, the further information, and the don't-notify box of a
    // silent check.
    worker_.Instruction.MaxUpdateableProductVersionExistingOnServer = L"25.2.0";
    worker_.Instruction.MajorUpgradeProductVersion = 26;
    worker_.Instruction.ChangeLogUrl = L"https://localhost/changes";
    worker_.Instruction.MajorUpgradeProductUrl = L"https://localhost/upgrade";
    worker_.Instruction.OsNotCompatibleUrl = L"https://localhost/requirements";
  }
};

// Each scene in a window of its own, in each language; every misfit is one
// failure that names where it is.
TEST_F(TextFitTest, EveryTextFitsItsControlInEveryLanguageAndState) {
  const UINT dpi = ScreenDpi();
  int scenesSeen = 0;
  for (const int language : {1033, 1031, 1041}) {
    for (const Scene& scene : Scenes()) {
      Publish(scene.installationMode ? 1 : 0, language);
      UseSwitches(L"-UpdateCheckSilent");
      const std::string where =
          "at " + std::to_string(dpi) + " DPI, language " + std::to_string(language) + ", state " + scene.name + ": ";
      WithWindow([&](HWND window, WindowThreadCalls& calls) {
        std::vector<std::string> misfits;
        calls.Run([&] {
          for (const int32_t state : scene.path) {
            if (state == DOWNLOAD_FAILED) dialog_->SetFailedDownloadUrl(L"https://localhost/files/setup.exe");
            dialog_->SetDialogState(state);
          }
          const bool running = scene.state == UPDATE_IN_PROGRESS || scene.state == INSTALLATION_PREPARATION;
          if (running) {
            window_.ShowDownloadProgress(true);
            window_.SetDownloadProgressText(win::FormatW(
                GetText(kTextTwoValues, language), FormatSize(21'900'000).c_str(), FormatSize(52'300'000).c_str()));
          }
          misfits = Misfits(window, dpi);
          if (running) {
            for (const std::wstring& line : RunLines(language)) {
              window_.SetMessageText(line);
              for (const std::string& misfit : Misfits(window, dpi)) {
                if (misfit.rfind(ControlName(IDC_MESSAGE_TEXT), 0) == 0) misfits.push_back(misfit);
              }
            }
          }
        });
        for (const std::string& misfit : misfits) ADD_FAILURE() << where << misfit;
        ++scenesSeen;
      });
    }
  }
  EXPECT_EQ(scenesSeen, 3 * static_cast<int>(Scenes().size()));
}

}  // namespace
