// The Debug switch makes every updater on the machine show its start and end
// boxes, so these tests never run beside others.
#include <gtest/gtest.h>

#include "product/product_folders.h"
#include "product/settings.h"
#include "support/child_process.h"
#include "support/message_box.h"
#include "support/scoped_environment.h"
#include "support/scratch.h"
#include "support/served_files.h"
#include "support/served_product.h"
#include "support/update_server.h"
#include "system/file_system.h"
#include "system/registry.h"

using namespace testing_support;

namespace {

constexpr DWORD kTimeoutMs = 30000;

class DebugSwitch {
 public:
  DebugSwitch() { WriteRegDword(HKEY_CURRENT_USER, kSettingsBaseKey, L"Debug", 1); }
  ~DebugSwitch() { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsBaseKey, L"Debug"); }
};

void ExpectDebugBox(const ChildProcess& worker, const wchar_t* text) {
  const auto box = FindMessageBox(worker.pid(), kTimeoutMs);
  ASSERT_TRUE(box.has_value()) << "no box: " << testing::PrintToString(std::wstring(text));
  EXPECT_EQ(box->caption, L"Debug");
  EXPECT_EQ(box->text, text);
  EXPECT_TRUE(AnswerMessageBox(*box, IDOK));
  // The box must be gone before the next one is looked for.
  const ULONGLONG deadline = ::GetTickCount64() + kTimeoutMs;
  while (::IsWindow(box->window) && ::GetTickCount64() < deadline) ::Sleep(20);
}

}  // namespace

TEST(DebugBoxes, ASessionShowsStartAndEndBoxes) {
  DebugSwitch debug;
  const std::wstring product = UniqueName(L"Debugged");
  // Nothing answers: the quiet check fails at once and the session ends with 1.
  const ServedProduct served(product, DeadServiceUrl());
  ChildProcess worker(
      WorkerExePath(),
      L"-ProgramName " + product + L" -ProgramVersion 1.0 -Language 1033 -InstalledLocation C:\\x -UpdateCheckSilent");
  ASSERT_TRUE(worker.started());
  ExpectDebugBox(worker, L"VLRenovaWorker start");
  ExpectDebugBox(worker, L"VLRenovaWorker end");
  EXPECT_EQ(worker.Wait(kTimeoutMs), 1u);
}

TEST(DebugBoxes, ARefusedStartShowsBothBoxesToo) {
  DebugSwitch debug;
  ChildProcess worker(WorkerExePath(), L"-UpdateSilent");
  ASSERT_TRUE(worker.started());
  ExpectDebugBox(worker, L"VLRenovaWorker start");
  ExpectDebugBox(worker, L"VLRenovaWorker end");
  EXPECT_EQ(worker.Wait(kTimeoutMs), 1u);
}

// The check starts the ad viewer its answer names, and says so first.
TEST(DebugBoxes, TheAdViewersStartShowsItsBoxBeforeTheViewerRuns) {
  const std::optional<UpdateServerPorts> ports = FindUpdateServer();
  ASSERT_TRUE(ports.has_value()) << "the reference update service is not running";
  DebugSwitch debug;
  ProgramInfos product;
  product.ProgramName = UniqueName(L"Advertised");
  product.ProgramVersion = L"1.0";
  const std::wstring scope = NewScope();
  const ServedFiles files(scope);
  ASSERT_TRUE(files.Copy(L"REVoRuzure.exe", BinFolder() + L"REVoRuzure.exe"));
  const std::string answer = "<Instruction><UpdateId>0</UpdateId><AdViewerUrl>" +
                             files.Url("https", ports->main, L"REVoRuzure.exe") +
                             "</AdViewerUrl><AdCampaignId>spring</AdCampaignId></Instruction>";
  const ServedProduct served(product.ProgramName,
                             ServiceBaseUrl(L"https", ports->main, scope, L"text=" + Base64Url(answer)));
  const ScratchFolder folder;
  const ScopedEnvironment record(L"VLRN_AD_VIEWER_RECORD", folder.path() + L"viewer.txt");

  ChildProcess worker(WorkerExePath(), L"-ProgramName " + product.ProgramName +
                                           L" -ProgramVersion 1.0 -Language 1033 -InstalledLocation C:\\x"
                                           L" -UpdateCheckSilent");
  ASSERT_TRUE(worker.started());
  ExpectDebugBox(worker, L"VLRenovaWorker start");
  ExpectDebugBox(worker, L"REVoRuzure starting ...");
  ExpectDebugBox(worker, L"VLRenovaWorker end");
  EXPECT_EQ(worker.Wait(kTimeoutMs), 0u);
  EXPECT_NE(ReadFileBytes(folder.path() + L"viewer.txt").find("-AdCampaignId \"spring\""), std::string::npos);

  std::wstring cache;
  if (GetProductCacheFolder(cache, product, true)) DeleteDirectoryTree(cache, true);
}
