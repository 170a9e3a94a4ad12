// "Install and replace the current version": the session starts its own
// executable as the product's installer for the new major version.
//
// No seam: in a test the session's own executable is this test program, whose
// start (ui_tests_main.cpp) sees "-IsStubExe" with the record variable set and,
// instead of running tests, writes its command line where the variable says.
// For the failure the program's own file really goes away: a copy of the test
// program renames itself before the relaunch, which then can't find it.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "ui/dialog.h"
#include "ui/session_test_support.h"
#include "win/strings.h"

namespace {

using namespace testing_support;

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::string ReadWhole(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The value after "key " on its own line of the summary, or nothing.
std::optional<std::string> SummaryValue(const std::string& summary, const std::string& key) {
  std::istringstream lines(summary);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
    if (line == key) return std::string();
  }
  return std::nullopt;
}

TEST_F(SessionTest, InstallAndReplaceRelaunchesTheUpdaterAsInstallerAndEndsWith0) {
  const std::wstring record = folder_.path() + L"relaunch.cmdline";
  ASSERT_TRUE(::SetEnvironmentVariableW(kRelaunchRecordVariable, record.c_str()));
  RunCheck(RESULT_UPDATE_AND_UPGRADE);
  ASSERT_EQ(dialog_->DialogState(), MAJOR_UPGRADE_OFFER);
  view_.SetChecked(UpgradeChoice::kInstallAndReplace, true);
  dialog_->OnBnClickedContinueButton();
  ::SetEnvironmentVariableW(kRelaunchRecordVariable, nullptr);

  // The new instance takes over: the session ends with 0, and the step that
  // follows still reports the support state.
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{0});
  EXPECT_EQ(dialog_->DialogState(), PLEASE_CONTACT_SUPPORT);
  EXPECT_EQ(view_.displays, (std::vector<int32_t>{CHECK_SERVER, MAJOR_UPGRADE_OFFER, PLEASE_CONTACT_SUPPORT}));
  EXPECT_TRUE(view_.permittedWhenShown.empty());
  EXPECT_EQ(log_->CountAt(L"INF", L"Dialog::OnTimer: PLEASE_CONTACT_SUPPORT"), 1u);

  ASSERT_TRUE(WaitUntil([&] { return !ReadWhole(record).empty(); })) << "the relaunched updater did not start";
  const std::wstring expected = L"\"" + OwnPath() + L"\" -IsStubExe -ProgramName \"" + product_.ProgramName +
                                L"\" -DisplayName \"" + product_.DisplayName +
                                L"\" -Language 1033 -ProgramVersion \"3.0.0\" -ForceUpdate";
  EXPECT_EQ(win::FromUtf8(ReadWhole(record)), expected);
  // Started directly, not elevated and not waited for.
  EXPECT_EQ(log_->Count(L"per CreateProcess with commandline"), 1u);
  EXPECT_EQ(log_->Count(L"per UseShellExecute"), 0u);
  ExpectReports({OfferReport(2, kTestMajorVersion), UpdateReport(8, kTestUpdateId)});
}

TEST_F(SessionTest, InstallAndReplaceWhoseUpdaterFileIsGoneSurfacesTheGeneralError) {
  const std::wstring copy = BinFolder() + UniqueName(L"ui_relaunch") + L".exe";
  ASSERT_TRUE(::CopyFileW(OwnPath().c_str(), copy.c_str(), TRUE));
  std::wstring folder = folder_.path();
  folder.pop_back();  // a trailing backslash would escape the closing quote
  std::optional<DWORD> code;
  {
    ChildProcess child(copy, L"--relaunch-without-own-file " + scope_ + L" \"" + folder + L"\"");
    ASSERT_TRUE(child.started());
    code = child.Wait(60000);
  }
  ::DeleteFileW((copy + L".gone").c_str());
  ::DeleteFileW(copy.c_str());
  ASSERT_TRUE(code) << "the session in the copy did not end";
  const std::string summary = ReadWhole(folder_.path() + L"summary.txt");
  ASSERT_EQ(*code, 0u) << summary;

  EXPECT_EQ(SummaryValue(summary, "offer"), std::to_string(MAJOR_UPGRADE_OFFER));
  EXPECT_EQ(SummaryValue(summary, "state"), std::to_string(PLEASE_CONTACT_SUPPORT));
  EXPECT_EQ(SummaryValue(summary, "ends"), "") << "no end: the error stays on screen";
  EXPECT_EQ(SummaryValue(summary, "displays"), std::to_string(PLEASE_CONTACT_SUPPORT));
  // The hidden session is shown for the error.
  EXPECT_EQ(SummaryValue(summary, "shown"), "1");
  EXPECT_EQ(SummaryValue(summary, "permitted"), "1");
  const auto logged = SummaryValue(summary, "logged");
  ASSERT_TRUE(logged) << summary;
  EXPECT_NE(logged->find(win::ToUtf8(L"StartProcess for " + copy + L" failed because: ")), std::string::npos)
      << *logged;
  // No check ran in the copy: the report carries the pair's first update id.
  ExpectReports({OfferReport(2, kTestMajorVersion), UpdateReport(8, 0)}, false);
}

}  // namespace
