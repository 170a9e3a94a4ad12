// Start-up of the real updater as a child process: refusals, exit codes and
// the start-up error box.
#include <gtest/gtest.h>

#include "product/settings.h"
#include "support/child_process.h"
#include "support/message_box.h"
#include "support/product_log.h"
#include "support/reg_tree_guard.h"
#include "support/scratch.h"
#include "support/served_product.h"
#include "support/session_window.h"
#include "support/uninstall_entry.h"
#include "support/uninstall_key_lock.h"
#include "system/registry.h"
#include "version.h"
#include "win/unique_handle.h"

using testing_support::AnswerMessageBox;
using testing_support::ChildProcess;
using testing_support::FindMessageBox;
using testing_support::NoUpdateServiceUrl;
using testing_support::ReadProductLog;
using testing_support::RunSession;
using testing_support::RunWorker;
using testing_support::ServedProduct;
using testing_support::UninstallEntry;
using testing_support::UniqueName;
using testing_support::WorkerExePath;

namespace {

// Generous: the first use of WMI in a new prefix takes half a minute.
constexpr DWORD kTimeoutMs = 90000;

std::wstring CompleteSwitches(const std::wstring& product) {
  return L"-ProgramName \"" + product +
         L"\" -ProgramVersion 1.2.3 -Language 1033 "
         L"-InstalledLocation \"C:\\Program Files\\" +
         product + L"\"";
}

}  // namespace

TEST(Startup, CompleteSwitchesRunTheSessionAndEndWithItsCode) {
  const std::wstring silent = UniqueName(L"Complete");
  const std::wstring visible = UniqueName(L"Visible");
  const ServedProduct served[] = {{silent, NoUpdateServiceUrl()}, {visible, NoUpdateServiceUrl()}};
  EXPECT_EQ(RunSession(CompleteSwitches(silent) + L" -UpdateCheckSilent"), 0u);
  // Up to date: the window waits until its user closes it.
  EXPECT_EQ(RunSession(CompleteSwitches(visible)), 0u);
}

TEST(Startup, IncompleteDataIsRefusedWithOneAndNoBoxWhenSilent) {
  const std::wstring product = UniqueName(L"Incomplete");
  // Each run is silent: a box would block the child until the time-out.
  EXPECT_EQ(RunWorker(L"-UpdateCheckSilent"), 1u);
  EXPECT_EQ(RunWorker(L"-ProgramName " + product + L" -ProgramVersion 1 -InstalledLocation C:\\x -UpdateSilent"), 1u);
  EXPECT_EQ(RunWorker(CompleteSwitches(product) + L" -Language de -UpdateSilent"), 1u);
  EXPECT_EQ(RunWorker(L"-ProgramName " + product + L" -Language 1033 -InstalledLocation C:\\x -UpdateSilent"), 1u);
  EXPECT_EQ(RunWorker(L"-UpdateSilent -ProgramName"), 1u);
}

namespace {

// Starts the updater with args, expects the start-up error box naming the
// updater as name, answers it and expects the refusal.
void ExpectErrorBoxAndRefusal(const std::wstring& args, const std::wstring& name) {
  ChildProcess worker(WorkerExePath(), args);
  ASSERT_TRUE(worker.started());
  const auto box = FindMessageBox(worker.pid(), kTimeoutMs);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->caption, name);
  EXPECT_EQ(box->text, name + L" has encountered an error. Please contact the support.");
  EXPECT_TRUE(AnswerMessageBox(*box, IDOK));
  EXPECT_EQ(worker.Wait(kTimeoutMs), 1u);
}

}  // namespace

TEST(Startup, NoSwitchesShowTheErrorBoxThenExitWithOne) { ExpectErrorBoxAndRefusal(L"", L"Velbor Renova"); }

TEST(Startup, WindowCaptionReplacesTheUpdaterNameInTheErrorBox) {
  ExpectErrorBoxAndRefusal(L"-WindowCaption \"Foo Update\" -HideUpdateCheckResult", L"Foo Update");
}

TEST(Startup, BadSwitchesNeverCrashOrHang) {
  const std::wstring product = UniqueName(L"Bad");
  const ServedProduct served(product, NoUpdateServiceUrl());
  const std::wstring huge(30000, L'x');
  const std::wstring runs[] = {
      CompleteSwitches(product) + L" -Unknown -quickcheck /// - / -WindowRec -UpdateCheckSilent",
      CompleteSwitches(product) + L" -WindowRec \"abc def ghi\" -UpdateCheckSilent",
      CompleteSwitches(product) + L" -WindowCaption " + huge + L" -UpdateCheckSilent",
      CompleteSwitches(product) + L" -FileList \";;; ;\" -UpdateCheckSilent -Language",
  };
  // A switch that waits for a value takes the next one: "-WindowRec -UpdateCheckSilent"
  // leaves the session visible.
  for (const auto& args : runs) EXPECT_EQ(RunSession(args, kTimeoutMs), 0u) << args.substr(0, 200);
}

TEST(Startup, AProductFoundWithoutALanguageIsRefusedWithoutABox) {
  const testing_support::UninstallKeyLock lock;  // first: the entry goes before it is released
  testing_support::ScratchFolder folder;
  UninstallEntry entry(UniqueName(L"VlrnStartup"));
  const std::wstring product = UniqueName(L"Installed");
  const ServedProduct served(product, NoUpdateServiceUrl());
  entry.Set(L"DisplayName", product).Set(L"DisplayVersion", L"5.0.1").Set(L"InstallLocation", folder.path());
  // The location alone is not enough, so the uninstall entry completes the data.
  const std::wstring args = L"-InstalledLocation \"" + folder.path() + L"\\\"";
  EXPECT_EQ(RunWorker(args, kTimeoutMs), 1u);
  entry.Set(L"Language", DWORD{1033});
  EXPECT_EQ(RunSession(args, kTimeoutMs), 0u);
}

TEST(Startup, TheRunIsLoggedUnderTheProductsName) {
  const std::wstring product = UniqueName(L"Logged");
  const ServedProduct served(product, NoUpdateServiceUrl());
  ASSERT_EQ(RunWorker(L"-DisplayName \"Logged & Co\" " + CompleteSwitches(product) + L" -UpdateCheckSilent"), 0u);
  const std::string log = ReadProductLog(product);
  const std::string name(product.begin(), product.end());
  const std::vector<std::string> lines = {std::string("INF: VLRN:"),
                                          std::string("STARTING LOG"),
                                          "Logged & Co(" + name + ") RenovaWorker v" + kUpdaterVersionA + " started",
                                          std::string("StartParameter: "),
                                          "ProgramName: " + name,
                                          std::string("DisplayName: Logged & Co"),
                                          std::string("ProgramVersionNumber: 1.2.3"),
                                          std::string("ProgramLanguage: 1033"),
                                          std::string("IsStubExe: 0"),
                                          "InstalledLocation: C:\\Program Files\\" + name + "\\",
                                          "SetEvent \"Logged  Co\" succeeded!",
                                          std::string("ExitCode 0\r\n")};
  for (const std::string& line : lines) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }
  // A silent instance holds no visible event.
  EXPECT_EQ(log.find("is visible\" succeeded"), std::string::npos);
}

TEST(Startup, AProgramNameAFileNameCantHoldStillGetsItsLog) {
  // Every character a file name can't hold, a control character among them,
  // beside some that it can.
  const std::wstring unique = UniqueName(L"");
  const std::wstring switches =
      L"-ProgramName \"Acme: A/B\\C*D?E\\\"F<G>H|I\tJ \u00c4&K" + unique +
      L"\" -ProgramVersion 1.2.3 -Language 1033 -InstalledLocation \"C:\\Program Files\\Acme\"";
  const ServedProduct served(L"Acme: A/B\\C*D?E\"F<G>H|I\tJ \u00c4&K" + unique, NoUpdateServiceUrl());
  ASSERT_EQ(RunWorker(switches + L" -UpdateCheckSilent"), 0u);
  const std::wstring fileName = L"Acme_ A_B_C_D_E_F_G_H_I_J \u00c4&K" + unique;
  const std::string log = ReadProductLog(fileName);
  // The lines themselves keep the name as it is.
  const std::string narrow = "Acme: A/B\\C*D?E\"F<G>H|I\tJ \xc4&K" + std::string(unique.begin(), unique.end());
  size_t at = 0;
  for (const std::string& line :
       {std::string("STARTING LOG"), "ProgramName: " + narrow, std::string("ExitCode 0\r\n")}) {
    at = log.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << " in order in:\n" << log;
  }
}

TEST(Startup, ARefusalIsLoggedInTheProductsLog) {
  const testing_support::UninstallKeyLock lock;
  testing_support::ScratchFolder folder;
  const std::wstring product = UniqueName(L"NoLanguage");
  UninstallEntry entry(UniqueName(L"VlrnStartup"));
  entry.Set(L"DisplayName", product).Set(L"DisplayVersion", L"5.0.1").Set(L"InstallLocation", folder.path());
  ASSERT_EQ(RunWorker(L"-InstalledLocation \"" + folder.path() + L"\\\"", kTimeoutMs), 1u);
  const std::string log = ReadProductLog(product);
  // Completion ran before the log was restarted under the product's name.
  EXPECT_EQ(log.find("Product infos invalid"), std::string::npos);
  EXPECT_NE(log.find("ProgramLanguage: 0"), std::string::npos);
  EXPECT_NE(log.find("ERR: VLRN:"), std::string::npos);
  EXPECT_NE(log.find("ProgramInfos are emtpy!"), std::string::npos);
}

TEST(Startup, TheFormerResultIsClearedBeforeTheSession) {
  ProgramInfos product;
  product.ProgramName = UniqueName(L"Cleared");
  product.ProgramVersion = L"1.2.3";
  const testing_support::RegTreeGuard settings(HKEY_CURRENT_USER, GetProductSettingsKey(product));
  WriteUpdateResult(product, 1, L"from the last run");
  const ServedProduct served(product.ProgramName, NoUpdateServiceUrl());
  ASSERT_EQ(RunWorker(CompleteSwitches(product.ProgramName) + L" -UpdateCheckSilent"), 0u);
  for (const std::wstring& path : {GetProductSettingsKey(product), GetVersionSettingsKey(product)}) {
    EXPECT_FALSE(ReadRegDword(HKEY_CURRENT_USER, path, L"UpdateResult").has_value()) << path;
    EXPECT_FALSE(ReadRegString(HKEY_CURRENT_USER, path, L"UpdateResultString").has_value()) << path;
  }
  EXPECT_NE(ReadActivePID(product), 0u);  // the run claimed the product
}
