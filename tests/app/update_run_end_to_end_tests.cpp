// Whole update runs of the real updater: the reference update service names
// the files, the updater downloads them into the product's cache folder and
// starts the setup stand-in, which records its command line and does what
// its payload says.

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "resource.h"
#include "support/session_window.h"
#include "system/registry.h"
#include "texts/text_table.h"
#include "update_run_test.h"

using namespace testing_support;

TEST_F(UpdateRunTest, ASilentUpdateRunsTheSetupAndTheProductChanges) {
  ServeSetup("0");
  ServeUpdate(/*majorUpgrade=*/false, SetupFiles());
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), 8u);
  EXPECT_EQ(SetupRuns(), (std::vector<std::string>{UpdateLine("REINSTALL=ALL REINSTALLMODE=vamus ")}));
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"program.txt"), "2.0.0");
  // The setup is gone after its success; the other files stay for now.
  EXPECT_FALSE(PathExists(cache_ + L"setup.exe"));
  EXPECT_TRUE(PathExists(cache_ + L"new\\program.txt"));
  EXPECT_TRUE(Reported(-1));
  EXPECT_TRUE(Reported(0));
  const std::string log = Log();
  EXPECT_TRUE(Contains(log, "Update is minor upgrade")) << log;
  EXPECT_TRUE(Contains(log, "Cannot delete directory ")) << "the cache folder still holds files";
}

// A session the user sees: the offer, Install, and the setup with the
// installer's basic interface; Close at its end gives 8.
TEST_F(UpdateRunTest, AnUpdateTheUserStartsRunsTheSetupWithItsBasicInterface) {
  ServeSetup("0");
  ServeUpdate(/*majorUpgrade=*/false, SetupFiles());
  ChildProcess worker(WorkerExePath(), Switches(L""));
  ASSERT_TRUE(worker.started());
  const std::optional<HWND> offer =
      WaitForSessionMessage(worker.pid(), GetText(kTextUpdateAvailable, 1033), kTimeoutMs);
  ASSERT_TRUE(offer.has_value());
  ASSERT_TRUE(ClickButton(*offer, IDC_UPDATE_NOW_BUTTON));
  const std::optional<HWND> done = WaitForSessionMessage(worker.pid(), GetText(kTextUpdateSucceeded, 1033), kTimeoutMs);
  ASSERT_TRUE(done.has_value());
  ASSERT_TRUE(ClickButton(*done, IDC_CLOSE_BUTTON));
  EXPECT_EQ(worker.Wait(kTimeoutMs), 8u);
  EXPECT_EQ(SetupRuns(), (std::vector<std::string>{UpdateLine("REINSTALL=ALL REINSTALLMODE=vamus ", true, "/qb")}));
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"program.txt"), "2.0.0");
  EXPECT_TRUE(Reported(0));
}

// Each exit code of the setup, in a major upgrade: how the run ends and what
// the service hears.
TEST_F(UpdateRunTest, TheSetupsExitCodeDecidesTheEnd) {
  const struct {
    const char* exitCodes;
    DWORD exitCode;
    int runs;
    int status;  // the report beside -1
  } cases[] = {
      {"1641", 8, 1, 0}, {"3010", 8, 1, 0}, {"1602", 9, 1, 2}, {"1155,0", 8, 2, 0}, {"1603", 9, 1, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exitCodes);
    StartAfresh();
    ServeSetup(c.exitCodes);
    ServeUpdate(/*majorUpgrade=*/true, SetupFiles());
    EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), c.exitCode);
    std::vector<std::string> expected = {UpdateLine("REINSTALLMODE=amus ")};
    if (c.runs == 2) expected.push_back(UpdateLine("REINSTALLMODE=amus ", /*noSetupFromWeb=*/false));
    EXPECT_EQ(SetupRuns(), expected);
    EXPECT_TRUE(Reported(-1));
    EXPECT_TRUE(Reported(c.status));
    // A failed setup leaves itself in the cache folder.
    EXPECT_EQ(PathExists(cache_ + L"setup.exe"), c.exitCode == 9);
  }
}

TEST_F(UpdateRunTest, OnlyDownloadLeavesTheFilesAndRunsNoSetup) {
  ServeSetup("0");
  ServeUpdate(/*majorUpgrade=*/false, SetupFiles());
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent -OnlyDownload"), kTimeoutMs), 8u);
  EXPECT_TRUE(SetupRuns().empty());
  EXPECT_TRUE(PathExists(cache_ + L"setup.exe"));
  EXPECT_TRUE(PathExists(cache_ + L"new\\program.txt"));
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"program.txt"), "1.0.0");
}

TEST_F(UpdateRunTest, WithoutASetupTheFilesAreCopiedIntoTheProductsFolder) {
  ASSERT_TRUE(files_->Write(L"new\\program.txt", "2.0.0"));
  ASSERT_TRUE(files_->Write(L"lib\\extra.dll", "extra"));
  ServeUpdate(/*majorUpgrade=*/false, File(L"new\\program.txt") + File(L"lib\\extra.dll", L"lib"));
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), 8u);
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"program.txt"), "2.0.0");
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"lib\\extra.dll"), "extra");
  EXPECT_TRUE(SetupRuns().empty());
  EXPECT_TRUE(Contains(Log(), "copy folder " + Narrow(cache_) + " successful"));
}

TEST_F(UpdateRunTest, TheSecondOfThreeFilesFailingStopsTheRunBeforeTheSetup) {
  ServeSetup("0");
  ServeUpdate(/*majorUpgrade=*/false, File(L"setup.exe") + File(L"missing.txt") + File(L"setup-payload.ini"));
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), 9u);
  EXPECT_TRUE(PathExists(cache_ + L"setup.exe"));
  EXPECT_FALSE(PathExists(cache_ + L"setup-payload.ini"));
  EXPECT_EQ(Requests(L"setup-payload.ini"), 0);
  EXPECT_TRUE(SetupRuns().empty());
  EXPECT_TRUE(Reported(9));
}

TEST_F(UpdateRunTest, ADownloadThatFailsOverHttpsComesOverHttp) {
  ServeSetup("0");
  // The self-signed port fails TLS and answers plain HTTP.
  const auto file = [&](const std::wstring& name, const std::wstring& relative) {
    return "<File Url=\"" + files_->Url("https", ports_.selfSigned, name) + "\" RelativeTargetFolder=\"" +
           Narrow(relative) + "\" FileName=\"" + Narrow(name.substr(name.find_last_of(L"\\/") + 1)) + "\"/>";
  };
  ServeUpdate(/*majorUpgrade=*/false,
              file(L"setup.exe", L"") + file(L"setup-payload.ini", L"") + file(L"new\\program.txt", L"new"));
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), 8u);
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"program.txt"), "2.0.0");
  EXPECT_TRUE(Contains(Log(), "Try to connect without SSL: http://localhost:" + std::to_string(ports_.selfSigned)));
}

TEST_F(UpdateRunTest, AFileNamedOutsideTheCacheFolderIsRefusedAndNothingRuns) {
  ServeSetup("0");
  ServeUpdate(/*majorUpgrade=*/false, File(L"setup.exe", L"..\\..") + SetupFiles());
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), 9u);
  std::wstring vendor;
  ASSERT_TRUE(GetVendorTempFolder(vendor));
  EXPECT_FALSE(PathExists(vendor + L"setup.exe"));
  EXPECT_EQ(Requests(L"setup.exe"), 0);
  EXPECT_TRUE(SetupRuns().empty());
  EXPECT_TRUE(Reported(9));
  EXPECT_TRUE(Contains(Log(), "Download target refused, it does not lie inside " + Narrow(cache_)));
}

// In installation mode the updater is the product's installer: the session
// shows itself, runs the setup at once and waits at its end.
TEST_F(UpdateRunTest, AnInstallationRunsTheSetupWithTheAffiliateAndEndsWith32) {
  for (const std::wstring affiliate : {L"", L"partner-7"}) {
    SCOPED_TRACE(Narrow(affiliate));
    StartAfresh();
    ASSERT_TRUE(files_->Copy(L"setup.exe", BinFolder() + L"setup.exe"));
    ASSERT_TRUE(files_->Write(L"setup-payload.ini", "exit=0\r\n"));
    Serve("<Instruction><UpdateId>50</UpdateId><Download>" + File(L"setup.exe") + File(L"setup-payload.ini") +
          "</Download></Instruction>");
    ChildProcess worker(WorkerExePath(),
                        Switches(L"-IsStubExe" + (affiliate.empty() ? L"" : L" -AffiliateId " + affiliate)));
    ASSERT_TRUE(worker.started());
    const std::optional<HWND> window =
        WaitForSessionMessage(worker.pid(), GetText(kTextInstallationSucceeded, 1033), kTimeoutMs);
    ASSERT_TRUE(window.has_value());
    ASSERT_TRUE(ClickButton(*window, IDC_CLOSE_BUTTON));
    EXPECT_EQ(worker.Wait(kTimeoutMs), 32u);
    std::string expected = "\"" + Narrow(productFolder_) + "Cache\\setup.exe\" /v\"NoSetupFromWeb=\"1\"\"";
    if (!affiliate.empty()) expected += " /v\"AFFILIATE_ID=\"" + Narrow(affiliate) + "\"\"";
    EXPECT_EQ(SetupRuns(), (std::vector<std::string>{expected}));
    EXPECT_TRUE(Reported(0));
  }
}

TEST_F(UpdateRunTest, ASetupWhoseDigestDiffersIsDeletedAndNeverRuns) {
  ServeSetup("0");
  const std::string wrong(64, '0');
  const std::string setup = "<File Url=\"" + files_->Url("https", ports_.main, L"setup.exe") +
                            "\" RelativeTargetFolder=\"\" FileName=\"setup.exe\" Sha256=\"" + wrong + "\"/>";
  ServeUpdate(/*majorUpgrade=*/false, setup + File(L"setup-payload.ini"));
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), 9u);
  EXPECT_FALSE(PathExists(cache_ + L"setup.exe"));
  EXPECT_TRUE(SetupRuns().empty());
  EXPECT_TRUE(Reported(9));
  EXPECT_TRUE(Contains(Log(), "setup.exe does not match: expected SHA-256 " + wrong));
}

// The user asks to end the session while the update runs, and the run comes to
// its end behind the question, whose message loop keeps the session going. Yes
// then closes the finished update: 8, and the post actions start what the run
// stopped, as after any update.
TEST_F(UpdateRunTest, YesAfterTheRunEndedBehindTheCloseQuestionEndsWith8AndRunsThePostActions) {
  const ScratchRegKey post(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(files_->Write(L"new\\program.txt", "2.0.0"));
  // The file comes late, so that the question is up long before the run ends.
  const std::string file = "<File Url=\"" + files_->Url("https", ports_.main, L"new\\program.txt", L"delay=8") +
                           "\" RelativeTargetFolder=\"\" FileName=\"program.txt\"/>";
  Serve(
      "<Instruction><UpdateId>50</UpdateId>"
      "<MaxUpdateableProductVersionExistingOnServer>2.0.0</MaxUpdateableProductVersionExistingOnServer>"
      "<Download>" +
      file + "</Download><Post><Action Name=\"SetRegValue\" Key=\"" + Narrow(post.path()) +
      "\" Value=\"After\" Type=\"DWORD\" Data=\"1\"/></Post></Instruction>");
  ChildProcess worker(WorkerExePath(), Switches(L""));
  ASSERT_TRUE(worker.started());
  const std::optional<HWND> window =
      WaitForSessionMessage(worker.pid(), GetText(kTextUpdateAvailable, 1033), kTimeoutMs);
  ASSERT_TRUE(window.has_value());
  // Install, then at once Abort: the question comes while the file is still on its way.
  ASSERT_TRUE(ClickButton(*window, IDC_UPDATE_NOW_BUTTON));
  ASSERT_TRUE(ClickButton(*window, IDC_CLOSE_BUTTON));
  const std::optional<HWND> question = WaitForQuestion(worker.pid(), *window, kTimeoutMs);
  ASSERT_TRUE(question.has_value());
  ASSERT_TRUE(WaitForSessionMessage(worker.pid(), GetText(kTextUpdateSucceeded, 1033), kTimeoutMs).has_value())
      << "the run did not end behind the question";
  ASSERT_TRUE(ClickButton(*question, IDYES));

  EXPECT_EQ(worker.Wait(kTimeoutMs), 8u);
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"program.txt"), "2.0.0");
  EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, post.path(), L"After"), 1u);
  const std::string log = Log();
  EXPECT_TRUE(Contains(log,
                       "The session changed while the question was open; Yes now closes it as its Close button "
                       "does\r\n"))
      << LastLines(log);
  EXPECT_FALSE(Contains(log, "User end Update!")) << LastLines(log);
  // The run's success was reported, and no cancellation after it.
  EXPECT_TRUE(Reported(0));
  EXPECT_FALSE(Reported(2));
}
