// Whole update runs of the real updater: the reference update service names
// the files, the updater downloads them into the product's cache folder and
// starts the setup stand-in, which records its command line and does what
// its payload says.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "actions/file_system.h"
#include "actions/product_folders.h"
#include "product/program_infos.h"
#include "product/settings.h"
#include "resource.h"
#include "support/child_process.h"
#include "support/product_log.h"
#include "support/reg_tree_guard.h"
#include "support/scratch.h"
#include "support/served_files.h"
#include "support/served_product.h"
#include "support/session_window.h"
#include "support/update_server.h"
#include "ui/text_table.h"

namespace {

using namespace testing_support;

constexpr DWORD kTimeoutMs = 120000;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }
bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
// The lines of the setup's record file.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Sets an environment variable that the updater and its setup inherit.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name_(name) {
    ::SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironment() { ::SetEnvironmentVariableW(name_, nullptr); }

 private:
  const wchar_t* name_;
};

// A product installed in a folder of its own, served its update by the test.
class UpdateRunTest : public UpdateServerTest {
 protected:
  void SetUp() override {
    UpdateServerTest::SetUp();
    if (HasFatalFailure()) return;
    product_.ProgramName = UniqueName(L"Run");
    product_.ProgramVersion = L"1.0.0";
    ASSERT_TRUE(GetProductCacheFolder(productFolder_, product_, true));
    cache_ = productFolder_ + L"Cache\\";
    files_.emplace(scope_);
    served_.emplace(product_.ProgramName, ServiceBaseUrl(L"https", ports_.main, scope_, L"text=" + Base64Url("x")));
    machine_.emplace(HKEY_LOCAL_MACHINE, GetProductSettingsKey(product_));
    record_ = records_.path() + L"setup-record.txt";
    environment_.emplace(L"VLRN_SETUP_RECORD", record_);
    installed_.WriteFile(L"program.txt", "1.0.0");
  }

  void TearDown() override {
    if (!productFolder_.empty()) DeleteDirectoryTree(productFolder_, true);
  }

  // The served setup with its payload: the new program file, copied into
  // the installation folder, and the exit codes of its runs.
  void ServeSetup(const std::string& exitCodes) {
    ASSERT_TRUE(files_->Copy(L"setup.exe", BinFolder() + L"setup.exe"));
    ASSERT_TRUE(files_->Write(L"setup-payload.ini", "copy=new\r\nexit=" + exitCodes + "\r\n"));
    ASSERT_TRUE(files_->Write(L"new\\program.txt", "2.0.0"));
  }

  std::string File(const std::wstring& name, const std::wstring& relative = L"") const {
    return "<File Url=\"" + files_->Url("https", ports_.main, name) + "\" RelativeTargetFolder=\"" +
           Narrow(relative) + "\" FileName=\"" + Narrow(name.substr(name.find_last_of(L"\\/") + 1)) + "\"/>";
  }
  std::string SetupFiles() const {
    return File(L"setup.exe") + File(L"setup-payload.ini") + File(L"new\\program.txt", L"new");
  }

  void Serve(const std::string& instruction) {
    served_.emplace(product_.ProgramName,
                    ServiceBaseUrl(L"https", ports_.main, scope_, L"text=" + Base64Url(instruction)));
  }
  void ServeUpdate(bool majorUpgrade, const std::string& downloads) {
    Serve(std::string("<Instruction><UpdateId>50</UpdateId>"
                      "<MaxUpdateableProductVersionExistingOnServer>2.0.0</MaxUpdateableProductVersionExistingOnServer>"
                      "<SuppressReboot>True</SuppressReboot><IsReInstallModeAMUS>") +
          (majorUpgrade ? "True" : "False") + "</IsReInstallModeAMUS><Download>" + downloads +
          "</Download></Instruction>");
  }

  std::wstring Switches(const std::wstring& extra) const {
    const std::wstring folder = installed_.path().substr(0, installed_.path().size() - 1);
    return L"-ProgramName \"" + product_.ProgramName + L"\" -ProgramVersion 1.0.0 -Language 1033 "
           L"-InstalledLocation \"" + folder + L"\" " + extra;
  }

  // The command line the update hands to the setup, byte for byte.
  std::string UpdateLine(const char* reinstall, bool noSetupFromWeb = true) const {
    return "\"" + Narrow(cache_) + "\\Setup.exe\" /s " + (noSetupFromWeb ? "/NoSetupFromWeb " : "") +
           "/v\"/qn " + reinstall + "REBOOT=ReallySuppress  INSTALLDIR=\\\"" + Narrow(installed_.path()) +
           "\\\\\"\"";
  }

  std::vector<std::string> SetupRuns() const { return Lines(ReadFileBytes(record_)); }

  // The UpdateStatus documents the scope received.
  std::vector<std::string> StatusReports() const {
    std::vector<std::string> reports;
    for (int i = 0; i < RecordCount(ports_.main, scope_); ++i) {
      if (RecordField(ports_.main, scope_, i, "method") == "ReportUpdateStatus") {
        reports.push_back(RecordField(ports_.main, scope_, i, "xml").value_or(""));
      }
    }
    return reports;
  }
  bool Reported(int status) const {
    const std::vector<std::string> reports = StatusReports();
    return std::any_of(reports.begin(), reports.end(), [&](const std::string& report) {
      return Contains(report, "<Status>" + std::to_string(status) + "</Status>\n    <UpdateId>50</UpdateId>");
    });
  }
  int Requests(const std::wstring& servedName) const {
    int count = 0;
    for (int i = 0; i < RecordCount(ports_.main, scope_); ++i) {
      const auto path = RecordField(ports_.main, scope_, i, "path");
      if (path && path->ends_with("/" + Narrow(servedName))) ++count;
    }
    return count;
  }

  std::string Log() const { return ReadProductLog(product_.ProgramName); }

  ProgramInfos product_;
  std::wstring productFolder_;
  std::wstring cache_;
  ScratchFolder installed_;
  ScratchFolder records_;
  std::wstring record_;
  std::optional<ServedFiles> files_;
  std::optional<ServedProduct> served_;
  std::optional<RegTreeGuard> machine_;
  std::optional<ScopedEnvironment> environment_;
};

}  // namespace

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
    scope_ = NewScope();
    files_.emplace(scope_);
    DeleteDirectoryTree(productFolder_, true);
    ::DeleteFileW(record_.c_str());
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
    scope_ = NewScope();
    files_.emplace(scope_);
    DeleteDirectoryTree(productFolder_, true);
    ::DeleteFileW(record_.c_str());
    ASSERT_TRUE(files_->Copy(L"setup.exe", BinFolder() + L"setup.exe"));
    ASSERT_TRUE(files_->Write(L"setup-payload.ini", "exit=0\r\n"));
    Serve("<Instruction><UpdateId>50</UpdateId><Download>" + File(L"setup.exe") + File(L"setup-payload.ini") +
          "</Download></Instruction>");
    ChildProcess worker(WorkerExePath(), Switches(L"-IsStubExe" + (affiliate.empty() ? L"" : L" -AffiliateId " + affiliate)));
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
