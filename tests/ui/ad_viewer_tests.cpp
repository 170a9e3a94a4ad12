// The ad viewer as sessions and checks use it: downloaded from the reference
// service into the product's cache folder and started there. The viewer is the
// stand-in bin/REVoRuzure.exe (tools/ad-viewer), which records its command line.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/renova_worker.h"
#include "product/product_folders.h"
#include "product/program_infos_store.h"
#include "product/settings.h"
#include "support/child_process.h"
#include "support/log_capture.h"
#include "support/scoped_environment.h"
#include "support/scratch.h"
#include "support/served_files.h"
#include "support/test_keys.h"
#include "support/update_server.h"
#include "system/file_digest.h"
#include "system/file_system.h"
#include "system/machine_guid.h"
#include "system/registry.h"
#include "ui/ad_viewer.h"
#include "ui/session_test_support.h"
#include "win/strings.h"
#include "win/unique_handle.h"

namespace testing_support {
namespace {

// A language of its own, so that the viewer's command line shows the product's.
constexpr int kViewerTestLanguage = 1031;
// What stands for a viewer of an earlier run in the cache folder.
constexpr char kOldViewer[] = "old viewer";

class AdViewerTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    if (HasFatalFailure()) return;
    Publish(0, kViewerTestLanguage);
    ASSERT_TRUE(GetProductCacheFolder(cacheFolder_, product_, true));
    viewerPath_ = cacheFolder_ + L"REVoRuzure.exe";
    ::DeleteFileW(viewerPath_.c_str());
    recordPath_ = folder_.path() + L"viewer-record.txt";
    record_ = std::make_unique<ScopedEnvironment>(L"VLRN_AD_VIEWER_RECORD", recordPath_);
    // A scope apart from the session's reports, so that downloads can be counted alone.
    filesScope_ = NewScope();
    served_ = std::make_unique<ServedFiles>(filesScope_);
    ASSERT_TRUE(served_->Copy(L"REVoRuzure.exe", StandIn()));
    url_ = win::FromUtf8(served_->Url("https", ports_.main, L"REVoRuzure.exe"));
    ASSERT_TRUE(GetMachineGuid(machineGuid_));
  }

  void TearDown() override {
    if (!cacheFolder_.empty()) DeleteDirectoryTree(cacheFolder_, true);
    SessionTest::TearDown();
  }

  static std::wstring StandIn() { return BinFolder() + L"REVoRuzure.exe"; }

  // Puts the stand-in where a download would have put it.
  void PlaceViewer() const { ASSERT_TRUE(::CopyFileW(StandIn().c_str(), viewerPath_.c_str(), FALSE)); }

  // The line the viewer records for a start by the updater, as UTF-8 with CR LF.
  std::string ExpectedRecordLine(const std::wstring& campaignId) const {
    return win::ToUtf8(L"\"" + viewerPath_ + L"\" -MachineGuid \"" + machineGuid_ + L"\" -AdCampaignId \"" +
                       campaignId + L"\" -Language 1031") +
           "\r\n";
  }

  // Requests for the served viewer file.
  int ViewerDownloads() const {
    int downloads = 0;
    const int count = RecordCount(ports_.main, filesScope_);
    for (int i = 0; i < count; ++i) {
      const auto path = RecordField(ports_.main, filesScope_, i, "path");
      if (path && path->ends_with("/REVoRuzure.exe")) ++downloads;
    }
    return downloads;
  }

  void RunAdViewerSession(const std::wstring& url, const std::wstring& campaignId) {
    UseSwitches(L"-OnlyAdViewer");
    worker_.Instruction.AdViewerUrl = url;
    worker_.Instruction.AdCampaignId = campaignId;
    view_.Forget();
    NewDialog();
    RunCheck(18);
  }

  std::wstring cacheFolder_;
  std::wstring viewerPath_;
  std::wstring recordPath_;
  std::wstring url_;
  std::wstring machineGuid_;
  std::wstring filesScope_;
  std::unique_ptr<ScopedEnvironment> record_;
  std::unique_ptr<ServedFiles> served_;
};

// --- Sessions with result 18 ----------------------------------------------------------------

TEST_F(AdViewerTest, SessionDownloadsTheViewerAndRunsItWithTheCampaignGuidAndLanguage) {
  // An old viewer is replaced by the served one.
  ASSERT_FALSE(folder_.WriteFile(L"old.exe", kOldViewer).empty());
  ASSERT_TRUE(::CopyFileW((folder_.path() + L"old.exe").c_str(), viewerPath_.c_str(), FALSE));
  // The viewer's own exit code is not the updater's business: it ran.
  const ScopedEnvironment exitCode(L"VLRN_AD_VIEWER_EXIT", L"3");
  RunAdViewerSession(url_, L"Fr\u00fchling-17");
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{256});
  EXPECT_EQ(ReadFileBytes(viewerPath_), ReadFileBytes(StandIn()));
  EXPECT_EQ(ViewerDownloads(), 1);
  EXPECT_EQ(ReadFileBytes(recordPath_), ExpectedRecordLine(L"Fr\u00fchling-17"));
  EXPECT_EQ(log_->CountAt(L"INF", L"Downloading from: '" + url_ + L"' - to: " + viewerPath_), 1u);
  EXPECT_EQ(log_->CountAt(L"INF", L"Successful"), 1u);
  EXPECT_EQ(log_->Count(L"REVoRuzure.exe not found!"), 0u);
  // The viewer's version is what the next request document sends.
  std::wstring version;
  ASSERT_TRUE(GetAdViewerVersion(product_, version));
  EXPECT_EQ(version, L"6.1.0.0");
  ExpectReports({});
}

TEST_F(AdViewerTest, SessionWithoutAddressStartsTheViewerThereWithoutDownloading) {
  PlaceViewer();
  RunAdViewerSession(L"", L"C-17");
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{256});
  EXPECT_EQ(ReadFileBytes(recordPath_), ExpectedRecordLine(L"C-17"));
  EXPECT_EQ(ViewerDownloads(), 0);
  EXPECT_EQ(log_->Count(L"Downloading from: "), 0u);

  // Nothing there: nothing starts.
  ASSERT_TRUE(::DeleteFileW(viewerPath_.c_str()));
  ASSERT_TRUE(::DeleteFileW(recordPath_.c_str()));
  RunAdViewerSession(L"", L"C-17");
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{257});
  EXPECT_EQ(log_->CountAt(L"WAR", L"REVoRuzure.exe not found!"), 1u);
  EXPECT_FALSE(PathExists(recordPath_));
  EXPECT_EQ(ViewerDownloads(), 0);
  ExpectReports({});
}

TEST_F(AdViewerTest, LockedOldViewerFailsTheSessionWithoutDownloadOrStart) {
  PlaceViewer();
  // Held open without delete sharing, as a running viewer holds its file.
  const win::UniqueFile held(::CreateFileW(viewerPath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held.valid());
  RunAdViewerSession(url_, L"C-17");
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{257});
  EXPECT_EQ(log_->CountAt(L"ERR", L"Can\u00b4t delete " + viewerPath_), 1u);
  EXPECT_EQ(log_->Count(L"Downloading from: "), 0u);
  EXPECT_EQ(ViewerDownloads(), 0);
  EXPECT_EQ(ReadFileBytes(viewerPath_), ReadFileBytes(StandIn()));
  EXPECT_FALSE(PathExists(recordPath_));
  EXPECT_EQ(log_->Count(L"Successful"), 0u);
  ExpectReports({});
}

TEST_F(AdViewerTest, FailedDownloadFailsTheSessionWithoutStart) {
  ASSERT_FALSE(folder_.WriteFile(L"old.exe", kOldViewer).empty());
  ASSERT_TRUE(::CopyFileW((folder_.path() + L"old.exe").c_str(), viewerPath_.c_str(), FALSE));
  // Over https and the retry over http the service answers 404.
  const std::wstring url = win::FromUtf8(served_->Url("https", ports_.main, L"REVoRuzure.exe", L"status=404"));
  RunAdViewerSession(url, L"C-17");
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{257});
  EXPECT_EQ(log_->CountAt(L"ERR", L"Can\u00b4t download " + url + L" -> " + viewerPath_), 1u);
  EXPECT_GE(ViewerDownloads(), 1);
  // The old viewer was deleted before the download was tried.
  EXPECT_NE(ReadFileBytes(viewerPath_), kOldViewer);
  EXPECT_FALSE(PathExists(recordPath_));
  EXPECT_EQ(log_->Count(L"Successful"), 0u);
  ExpectReports({});
}

TEST_F(AdViewerTest, ViewerThatCannotStartFailsTheSession) {
  // A file by the viewer's name that is no program.
  {
    std::ofstream out(std::filesystem::path(viewerPath_), std::ios::binary);
    out << "not a program";
  }
  RunAdViewerSession(L"", L"C-17");
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{257});
  EXPECT_EQ(log_->CountAt(L"ERR", L"StartProcess for " + viewerPath_ + L" failed because: "), 1u);
  EXPECT_EQ(log_->CountAt(L"INF", L"exitCodeApplication 0"), 1u);
  EXPECT_EQ(log_->Count(L"Successful"), 0u);
  EXPECT_FALSE(PathExists(recordPath_));
  ExpectReports({});
}

// --- The worker's check -----------------------------------------------------------------------

// The worker's check downloads and starts the viewer the answer names, except
// in sessions whose result the product takes or that show nothing.
TEST_F(AdViewerTest, CheckRunsTheViewerOnlyForSessionsThatShowTheirResult) {
  const std::string answer = "<Instruction><UpdateId>42</UpdateId><AdViewerUrl>" + win::ToUtf8(url_) +
                             "</AdViewerUrl><AdCampaignId>spring</AdCampaignId><Download/></Instruction>";
  ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, ProductSettingsKey(), L"DebugUrl_v2",
                             ServiceBaseUrl(L"https", ports_.main, scope_, L"text=" + Base64Url(answer))));
  CmdLineInfo options;
  options.ProgramInfo = GetProgramInfos();
  auto check = [&] {
    RenovaWorker worker;
    worker.CmdLine = &options;
    return worker.CheckForUpdate().UpdateResult;
  };

  EXPECT_EQ(check(), RESULT_UPDATE_AVAILABLE);
  EXPECT_EQ(ViewerDownloads(), 1);
  EXPECT_EQ(ReadFileBytes(recordPath_), ExpectedRecordLine(L"spring"));

  for (int32_t CmdLineInfo::*quiet : {&CmdLineInfo::WriteCheckResultToReg, &CmdLineInfo::HideUpdateCheckResult,
                                      &CmdLineInfo::OnlyDownload, &CmdLineInfo::QuickCheck}) {
    options.*quiet = 1;
    EXPECT_EQ(check(), RESULT_UPDATE_AVAILABLE);
    options.*quiet = 0;
  }
  EXPECT_EQ(ViewerDownloads(), 1);
  EXPECT_EQ(ReadFileBytes(recordPath_), ExpectedRecordLine(L"spring"));

  // Without an address the viewer already there is started.
  const std::string withoutAddress =
      "<Instruction><UpdateId>0</UpdateId><AdCampaignId>summer</AdCampaignId></Instruction>";
  ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, ProductSettingsKey(), L"DebugUrl_v2",
                             ServiceBaseUrl(L"https", ports_.main, scope_, L"text=" + Base64Url(withoutAddress))));
  EXPECT_EQ(check(), RESULT_NO_UPDATE);
  EXPECT_EQ(ViewerDownloads(), 1);
  EXPECT_EQ(ReadFileBytes(recordPath_), ExpectedRecordLine(L"spring") + ExpectedRecordLine(L"summer"));
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, ProductSettingsKey().c_str());
}

TEST_F(AdViewerTest, ASignedCheckStartsTheViewerOnlyWhenItMatchesTheDigestTheAnswerGives) {
  const std::optional<Sha256Digest> digest = Sha256OfFile(StandIn());
  const std::optional<InstructionKey> first = TestKey(1);
  const std::optional<InstructionKey> second = TestKey(2);
  ASSERT_TRUE(digest && first && second);
  CmdLineInfo options;
  options.ProgramInfo = GetProgramInfos();
  // A signed check (the service signs with the first key) whose answer, for
  // this product and not expired, offers nothing but the viewer, with the
  // given digest element.
  auto check = [&](const std::string& digestElement) {
    const std::string answer =
        "<Instruction><UpdateId>0</UpdateId><ProgramName>" + win::ToUtf8(options.ProgramInfo.ProgramName) +
        "</ProgramName><Expires>2099-01-01T00:00:00Z</Expires><AdViewerUrl>" + win::ToUtf8(url_) + "</AdViewerUrl>" +
        digestElement + "<AdCampaignId>signed</AdCampaignId></Instruction>";
    EXPECT_TRUE(WriteRegString(HKEY_CURRENT_USER, ProductSettingsKey(), L"DebugUrl_v2",
                               ServiceBaseUrl(L"https", ports_.main, scope_, L"text=" + Base64Url(answer))));
    RenovaWorker worker;
    worker.CmdLine = &options;
    worker.InstructionKeys = {*first, *second};
    EXPECT_EQ(worker.CheckForUpdate().UpdateResult, RESULT_NO_UPDATE);
  };

  {
    LogCapture log;
    check("");
    EXPECT_EQ(log.CountAt(L"ERR", L"The ad viewer is not started: the signed instruction gives no SHA-256 for it"), 1u);
    EXPECT_EQ(ViewerDownloads(), 0);
  }
  {
    LogCapture log;
    check("<AdViewerSha256>ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad</AdViewerSha256>");
    EXPECT_EQ(log.CountAt(L"ERR", L"Ad viewer " + viewerPath_ + L" does not match: expected SHA-256 ba7816bf"), 1u);
    EXPECT_EQ(ViewerDownloads(), 1);
    EXPECT_FALSE(PathExists(viewerPath_)) << "a viewer that differs stays behind";
  }
  EXPECT_EQ(ReadFileBytes(recordPath_), "") << "a viewer ran that the answer did not vouch for";

  check("<AdViewerSha256>" + win::ToUtf8(ToHex(*digest)) + "</AdViewerSha256>");
  EXPECT_EQ(ViewerDownloads(), 2);
  EXPECT_EQ(ReadFileBytes(recordPath_), ExpectedRecordLine(L"signed"));
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, ProductSettingsKey().c_str());
}

}  // namespace
}  // namespace testing_support
