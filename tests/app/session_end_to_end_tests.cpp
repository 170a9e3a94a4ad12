// Whole sessions of the real updater against the reference update service:
// the exit code a caller reads, what the session leaves in the registry, the
// reports the service received, and the post actions after the window.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "product/program_infos.h"
#include "product/settings.h"
#include "resource.h"
#include "support/child_process.h"
#include "support/product_log.h"
#include "support/reg_tree_guard.h"
#include "support/scratch.h"
#include "support/served_product.h"
#include "support/session_window.h"
#include "support/update_server.h"
#include "system/registry.h"
#include "texts/text_table.h"
#include "win/unique_handle.h"

namespace {

using namespace testing_support;

constexpr DWORD kTimeoutMs = 90000;
constexpr wchar_t kNoAnswer[] = L"";  // the service's own answer: nothing offered

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// A product of the test's own, pointed at the test's scope of the service.
// Its settings in both roots are removed afterwards.
class SessionEndToEndTest : public UpdateServerTest {
 protected:
  void SetUp() override {
    UpdateServerTest::SetUp();
    NewProduct();
  }

  // Each case of a table runs as a product of its own: nothing one case
  // leaves behind reaches the next.
  void NewProduct() {
    product_.ProgramName = UniqueName(L"Session");
    product_.ProgramVersion = L"1.0.0";
    machineSettings_.emplace(HKEY_LOCAL_MACHINE, GetProductSettingsKey(product_));
    served_.reset();
  }

  // The service answers this product with exactly instruction, or as it
  // would on its own when instruction is empty.
  void Serve(const std::string& instruction, const std::wstring& scope) {
    const std::wstring faults = instruction.empty() ? L"" : L"text=" + Base64Url(instruction);
    served_.emplace(product_.ProgramName, ServiceBaseUrl(L"https", ports_.main, scope, faults));
  }
  void Serve(const std::string& instruction) { Serve(instruction, scope_); }

  std::wstring Switches(const std::wstring& extra) const {
    return L"-ProgramName \"" + product_.ProgramName + L"\" -ProgramVersion " + product_.ProgramVersion +
           L" -Language 1033 -InstalledLocation \"" + Folder() + L"\" " + extra;
  }

  // Without the trailing backslash, which would escape the closing quote.
  std::wstring Folder() const { return folder_.path().substr(0, folder_.path().size() - 1); }

  std::string Log() const { return ReadProductLog(product_.ProgramName); }

  // The UpdateStatus documents the scope received so far, in order.
  std::vector<std::string> StatusReports(const std::wstring& scope) const {
    std::vector<std::string> reports;
    const int count = RecordCount(ports_.main, scope);
    for (int i = 0; i < count; ++i) {
      if (RecordField(ports_.main, scope, i, "method") == "ReportUpdateStatus") {
        reports.push_back(RecordField(ports_.main, scope, i, "xml").value_or(""));
      }
    }
    return reports;
  }

  ProgramInfos product_;
  ScratchFolder folder_;
  std::optional<ServedProduct> served_;
  std::optional<RegTreeGuard> machineSettings_;
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

constexpr char kUpdate[] =
    "<Instruction><UpdateId>7</UpdateId><NewProductVersion>3.1.0</NewProductVersion>"
    "<MaxUpdateableProductVersionExistingOnServer>3.1.0</MaxUpdateableProductVersionExistingOnServer>"
    "<Download/></Instruction>";
constexpr char kUpgradeOnly[] =
    "<Instruction><UpdateId>0</UpdateId><MajorUpgradeProductVersion>4</MajorUpgradeProductVersion></Instruction>";
constexpr char kUpdateAndUpgrade[] =
    "<Instruction><UpdateId>8</UpdateId>"
    "<MaxUpdateableProductVersionExistingOnServer>3.1.0</MaxUpdateableProductVersionExistingOnServer>"
    "<MajorUpgradeProductVersion>4</MajorUpgradeProductVersion><Download/></Instruction>";
constexpr char kServerError[] = "<Instruction><ErrorMessage>Database down</ErrorMessage></Instruction>";

}  // namespace

// What a product's own start of the updater reads: one quiet check, its
// outcome as the exit code, nothing shown.
TEST_F(SessionEndToEndTest, QuietChecksEndWithTheCodeOfWhatIsOffered) {
  struct Case {
    const char* name;
    std::string instruction;
    const wchar_t* ignoredVersion;  // nullptr: none
    int ignoredMajor;               // -1: none
    DWORD exitCode;
    std::optional<DWORD> written;  // "UpdateResult" after the check
    const wchar_t* text;           // "UpdateResultString" beside it
    bool lastCheck;
  };
  constexpr wchar_t kUpToDate[] = L"You already have the most recent version.";
  constexpr wchar_t kAvailable[] =
      L"A more up-to-date program version is available. Would you like to install it now?\n"
      L"Please close all programs before starting the installation!";
  constexpr wchar_t kError[] = L"Velbor Renova has encountered an error. Please contact the support.";
  const Case cases[] = {
      {"nothing offered", "", nullptr, -1, 0, 0, kUpToDate, true},
      {"an update", kUpdate, nullptr, -1, 2, 1, kAvailable, true},
      {"an ignored update", kUpdate, L"3.1.0", -1, 0, 1, kAvailable, true},
      {"an upgrade", kUpgradeOnly, nullptr, -1, 4, 0, kUpToDate, true},
      {"an ignored upgrade", kUpgradeOnly, nullptr, 4, 0, 0, kUpToDate, true},
      {"an update and an upgrade", kUpdateAndUpgrade, nullptr, -1, 6, 1, kAvailable, true},
      {"both, the update ignored", kUpdateAndUpgrade, L"3.1.0", -1, 4, 1, kAvailable, true},
      {"both, the upgrade ignored", kUpdateAndUpgrade, nullptr, 4, 2, 1, kAvailable, true},
      {"both ignored", kUpdateAndUpgrade, L"3.1.0", 4, 0, 1, kAvailable, true},
      {"an error message", kServerError, nullptr, -1, 1, 0, kError, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NewProduct();
    Serve(c.instruction);
    if (c.ignoredVersion != nullptr) WriteIgnoredVersionUpdate(product_, c.ignoredVersion);
    if (c.ignoredMajor != -1) WriteIgnoredMajorVersionUpgrade(product_, c.ignoredMajor);
    ChildProcess worker(WorkerExePath(), Switches(L"-UpdateCheckSilent -QuickCheck -WriteCheckResultToReg"));
    ASSERT_TRUE(worker.started());
    // A window would keep the session waiting; a quiet one never shows it.
    EXPECT_EQ(worker.Wait(kTimeoutMs), c.exitCode);
    EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, GetVersionSettingsKey(product_), L"UpdateResult"), c.written);
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, GetVersionSettingsKey(product_), L"UpdateResultString"), c.text);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, GetVersionSettingsKey(product_), L"LastUpdateCheck").has_value(),
              c.lastCheck);
    const std::string log = Log();
    EXPECT_TRUE(Contains(log, "ExitCode " + std::to_string(c.exitCode) + "\r\n")) << log;
    if (c.ignoredVersion != nullptr && c.instruction == kUpdate) {
      EXPECT_TRUE(Contains(log, "ignore Version 3.1.0")) << log;
    }
  }
}

TEST_F(SessionEndToEndTest, QuietChecksThatFailEndWithOneAndTellTheService) {
  // Nothing listens: the post fails on a machine that is online, which is
  // as much as Wine lets a test be (it counts as offline only without any
  // interface but loopback).
  served_.emplace(product_.ProgramName, DeadServiceUrl());
  EXPECT_EQ(RunWorker(Switches(L"-UpdateCheckSilent -WriteCheckResultToReg"), kTimeoutMs), 1u);
  EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, GetVersionSettingsKey(product_), L"UpdateResult"), 0u);
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, GetVersionSettingsKey(product_), L"UpdateResultString"),
            L"Server is temporarily unavailable during maintenance.");
  EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, GetVersionSettingsKey(product_), L"LastUpdateCheck").has_value());

  // The service answers with an error status: the check fails the same way,
  // and its report (status 5) is on the service before the process has ended.
  NewProduct();
  served_.emplace(product_.ProgramName, ServiceBaseUrl(L"https", ports_.main, scope_, L"status=500"));
  EXPECT_EQ(RunWorker(Switches(L"-UpdateCheckSilent -QuickCheck"), kTimeoutMs), 1u);
  const std::vector<std::string> reports = StatusReports(scope_);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(Contains(reports[0], "<Status>5</Status>")) << reports[0];
}

TEST_F(SessionEndToEndTest, InstallationModeEndsAQuietCheckWith64WhenASetupIsOffered) {
  Serve("<Instruction><UpdateId>9</UpdateId><Download/></Instruction>");
  EXPECT_EQ(RunWorker(Switches(L"-IsStubExe -UpdateCheckSilent -QuickCheck"), kTimeoutMs), 64u);
  // An installation is no check of an installed version.
  EXPECT_FALSE(ReadRegString(HKEY_LOCAL_MACHINE, GetVersionSettingsKey(product_), L"LastUpdateCheck").has_value());
}

// The machine key that an instruction's registry actions write, below HKLM.
class SilentUpdateTest : public SessionEndToEndTest {
 protected:
  std::string Key() const { return Narrow(machine_.path()); }
  std::optional<DWORD> Value(const wchar_t* name) const {
    return ReadRegDword(HKEY_LOCAL_MACHINE, machine_.path(), name);
  }
  // An update whose one pre action writes "Before" below preKey. Only an
  // instruction with a Download element has post actions; an empty one is
  // enough to make it carry one that writes "After".
  std::string Update(const std::string& preKey, bool withPostAction) const {
    std::string text =
        "<Instruction><UpdateId>43</UpdateId>"
        "<MaxUpdateableProductVersionExistingOnServer>2.0.0</MaxUpdateableProductVersionExistingOnServer>"
        "<Pre><Action Name=\"SetRegValue\" Key=\"" +
        preKey + "\" Value=\"Before\" Type=\"DWORD\" Data=\"1\"/></Pre>";
    if (withPostAction) {
      text += "<Download/><Post><Action Name=\"SetRegValue\" Key=\"" + Key() +
              "\" Value=\"After\" Type=\"DWORD\" Data=\"1\"/></Post>";
    }
    return text + "</Instruction>";
  }

  ScratchRegKey machine_{HKEY_LOCAL_MACHINE};
};

TEST_F(SilentUpdateTest, ASuccessfulRunEndsWith8AndTheServiceHasHeardItBeforeTheProcessEnds) {
  Serve(Update(Key(), /*withPostAction=*/false));
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), 8u);
  EXPECT_EQ(Value(L"Before"), 1u);
  EXPECT_TRUE(Contains(Log(), "ExitCode 8\r\n"));

  // Both reports were on the service when the process ended: no waiting here.
  const std::vector<std::string> reports = StatusReports(scope_);
  ASSERT_EQ(reports.size(), 2u);
  for (const std::string& report : reports) EXPECT_TRUE(Contains(report, "<UpdateId>43</UpdateId>")) << report;
  const bool startedFirst = Contains(reports[0], "<Status>-1</Status>");
  EXPECT_TRUE(Contains(reports[startedFirst ? 0 : 1], "<Status>-1</Status>"));
  EXPECT_TRUE(Contains(reports[startedFirst ? 1 : 0], "<Status>0</Status>"));
}

TEST_F(SilentUpdateTest, AFailingPreActionEndsWith9AndThePostActionsRunAfterTheWindow) {
  // No key component may be longer than 255 characters.
  Serve(Update(Key() + "\\" + std::string(300, 'k'), /*withPostAction=*/true));
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), 9u);
  EXPECT_FALSE(Value(L"Before"));
  // End code 9 runs the post actions too: what the pre actions stopped starts again.
  EXPECT_EQ(Value(L"After"), 1u);
  const std::string log = Log();
  const size_t end = log.find("ExitCode 9\r\n");
  ASSERT_NE(end, std::string::npos) << log;
  EXPECT_GT(log.find("setting reg key " + Key() + " with Value After"), end) << "the post action after the session";

  // The failed action's type id, then the failed run.
  const std::vector<std::string> reports = StatusReports(scope_);
  const auto reported = [&](const std::string& status) {
    return std::any_of(reports.begin(), reports.end(), [&](const std::string& report) {
      return Contains(report, "<Status>" + status + "</Status>\n    <UpdateId>43</UpdateId>");
    });
  };
  EXPECT_TRUE(reported("18"));
  EXPECT_TRUE(reported("1"));
}

// A quiet check that finds an update not taken before shows itself, tells the
// product so through the event, and asks before the offer goes.
TEST_F(SessionEndToEndTest, AQuietCheckThatFindsAnUpdateSurfacesAndAsksBeforeClosing) {
  Serve(kUpdate);
  const std::wstring visibleEvent = product_.ProgramName + L" is visible";
  ChildProcess worker(WorkerExePath(), Switches(L"-UpdateCheckSilent -DisplayName \"" + product_.ProgramName + L"\""));
  ASSERT_TRUE(worker.started());
  const std::optional<HWND> window =
      WaitForSessionMessage(worker.pid(),
                            L"A more up-to-date program version is available. Would you like to install it now?\n"
                            L"Please close all programs before starting the installation!",
                            kTimeoutMs);
  ASSERT_TRUE(window.has_value());
  EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(*window, IDC_UPDATE_NOW_BUTTON)));
  const win::UniqueEvent event(::OpenEventW(SYNCHRONIZE, FALSE, visibleEvent.c_str()));
  EXPECT_TRUE(event.valid());

  ASSERT_TRUE(ClickButton(*window, IDC_CLOSE_BUTTON));
  const std::optional<HWND> question = WaitForQuestion(worker.pid(), *window, kTimeoutMs);
  ASSERT_TRUE(question.has_value());
  ASSERT_TRUE(ClickButton(*question, IDYES));
  EXPECT_EQ(worker.Wait(kTimeoutMs), 2u);
  const std::string log = Log();
  EXPECT_TRUE(Contains(log, "SetEvent \"" + Narrow(visibleEvent) + "\" succeeded!")) << log;
}

// Hidden sessions that find nothing new have nobody to wait for: each ends by
// itself with the code its Close would give, and lets go of the product, so
// that the product's next quiet check is not refused.
TEST_F(SessionEndToEndTest, HiddenSessionsWithNothingNewEndByThemselvesAndLeaveTheProductFree) {
  struct Case {
    const char* name;
    const wchar_t* switches;
    DWORD exitCode;
  };
  const Case cases[] = {
      {"the ad viewer's session", L"-OnlyAdViewer", 0},
      // Nothing new after the updater's own update: that update was the success.
      {"a quiet check after a self-update", L"-UpdateCheckSilent -RestartAfterSelfUpdate", 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NewProduct();
    Serve("");  // the service's own answer: nothing offered
    EXPECT_EQ(RunWorker(Switches(c.switches), kTimeoutMs), c.exitCode) << "the hidden session did not end";
    std::string log = Log();
    const std::string code = std::to_string(c.exitCode);
    EXPECT_TRUE(Contains(log, "The window is hidden and nobody can answer; the session ends with " + code + "\r\n"))
        << LastLines(log);
    EXPECT_TRUE(Contains(log, "ExitCode " + code + "\r\n")) << LastLines(log);

    EXPECT_EQ(RunWorker(Switches(L"-UpdateCheckSilent -QuickCheck"), kTimeoutMs), 0u);
    log = Log();
    EXPECT_FALSE(Contains(log, "I am not visible and an other RenovaWorker exist so i close my self."))
        << LastLines(log);
  }
}

// The user asks to end the session while the check still runs, and the check
// comes back behind the question: Yes then closes what it found, up to date
// (0), not the check that was asked about (1).
TEST_F(SessionEndToEndTest, YesAfterTheCheckEndedBehindTheCloseQuestionClosesWhatItFound) {
  // The service's own answer, late enough for the question to come first.
  served_.emplace(product_.ProgramName, ServiceBaseUrl(L"https", ports_.main, scope_, L"delay=8"));
  ChildProcess worker(WorkerExePath(), Switches(L""));
  ASSERT_TRUE(worker.started());
  const std::optional<HWND> window =
      WaitForSessionMessage(worker.pid(), GetText(kTextConnectingToServer, 1033), kTimeoutMs);
  ASSERT_TRUE(window.has_value());
  ASSERT_TRUE(ClickButton(*window, IDC_CLOSE_BUTTON));
  const std::optional<HWND> question = WaitForQuestion(worker.pid(), *window, kTimeoutMs);
  ASSERT_TRUE(question.has_value());
  ASSERT_TRUE(WaitForSessionMessage(worker.pid(), GetText(kTextAlreadyUpToDate, 1033), kTimeoutMs).has_value())
      << "the check did not end behind the question";
  ASSERT_TRUE(ClickButton(*question, IDYES));
  EXPECT_EQ(worker.Wait(kTimeoutMs), 0u);
  const std::string log = Log();
  EXPECT_TRUE(Contains(log,
                       "The session changed while the question was open; Yes now closes it as its Close button "
                       "does\r\n"))
      << LastLines(log);
}
