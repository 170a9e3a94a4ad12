// One file from the reference update service on loopback into a folder of
// the test's own, through the system's URL download.
#include "protocol/file_download.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/log_capture.h"
#include "support/scratch.h"
#include "support/served_files.h"
#include "support/update_server.h"

namespace {

using namespace testing_support;

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class FileDownloadTest : public UpdateServerTest {
 protected:
  void SetUp() override {
    UpdateServerTest::SetUp();
    files_.emplace(scope_);
    ASSERT_TRUE(files_->Write(L"payload.bin", content_));
  }

  std::wstring UrlOf(const char* scheme, uint16_t port, const std::wstring& faults = L"") const {
    return Wide(files_->Url(scheme, port, L"payload.bin", faults));
  }

  // Enough bytes that the system reports progress more than once.
  const std::string content_ = std::string(3 * 1024 * 1024, 'v') + "end";
  std::optional<ServedFiles> files_;
  ScratchFolder target_;
};

}  // namespace

TEST_F(FileDownloadTest, AFileArrivesWholeInAFolderCreatedWithItsParents) {
  const std::wstring folder = target_.path() + L"a\\b\\c\\";
  LogCapture log;
  ASSERT_TRUE(DownloadFile(UrlOf("https", ports_.main), folder, L"payload.bin", nullptr, true));
  EXPECT_EQ(ReadFileBytes(folder + L"payload.bin"), content_);
  EXPECT_EQ(
      log.CountAt(L"INF", L"Downloading from: '" + UrlOf("https", ports_.main) + L"' - to: " + folder + L"payload.bin"),
      1u);
  EXPECT_EQ(log.Count(L"without SSL"), 0u);
  // Fresh from the server every time: the system's cache is not asked.
  ASSERT_TRUE(files_->Write(L"payload.bin", "changed"));
  ASSERT_TRUE(DownloadFile(UrlOf("https", ports_.main), folder, L"payload.bin", nullptr, true));
  EXPECT_EQ(ReadFileBytes(folder + L"payload.bin"), "changed");
}

TEST_F(FileDownloadTest, AFailedHttpsDownloadIsTriedOnceMoreOverPlainHttp) {
  // The self-signed port fails TLS; it speaks plain HTTP as well.
  LogCapture log;
  ASSERT_TRUE(DownloadFile(UrlOf("https", ports_.selfSigned), target_.path(), L"payload.bin", nullptr, true));
  EXPECT_EQ(ReadFileBytes(target_.path() + L"payload.bin"), content_);
  EXPECT_EQ(log.CountAt(L"INF", L"Try to connect without SSL: " + UrlOf("http", ports_.selfSigned)), 1u);
  EXPECT_EQ(log.CountAt(L"ERR", L"Download from"), 0u);
}

TEST_F(FileDownloadTest, AFailedDownloadNamesTheLastAddressAndItsSignedCode) {
  {
    // Over https: tried again over http, which fails as well (404 both times).
    LogCapture log;
    const std::wstring missing = Wide(files_->Url("https", ports_.main, L"missing.bin"));
    EXPECT_FALSE(DownloadFile(missing, target_.path(), L"missing.bin", nullptr, true));
    const std::wstring http = Wide(files_->Url("http", ports_.main, L"missing.bin"));
    EXPECT_EQ(log.CountAt(L"INF", L"Try to connect without SSL: " + http), 1u);
    EXPECT_EQ(log.CountAt(L"ERR", L"Download from '" + http + L"' failed with Code: -"), 1u);
    // The system hands the error page over as the file; it is not kept.
    EXPECT_EQ(log.CountAt(L"ERR", L"with status 404"), 2u);
    EXPECT_FALSE(PathExists(target_.path() + L"missing.bin"));
  }
  {
    // Over http: not tried again.
    LogCapture log;
    const std::wstring missing = Wide(files_->Url("http", ports_.main, L"missing.bin"));
    EXPECT_FALSE(DownloadFile(missing, target_.path(), L"missing.bin", nullptr, true));
    EXPECT_EQ(log.Count(L"without SSL"), 0u);
    EXPECT_EQ(log.CountAt(L"ERR", L"Download from '" + missing + L"' failed with Code: -"), 1u);
  }
  {
    // Without messages only the download itself is logged.
    LogCapture log;
    EXPECT_FALSE(DownloadFile(Wide(files_->Url("https", ports_.main, L"missing.bin")), target_.path(), L"m.bin",
                              nullptr, false));
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.CountAt(L"INF", L"Downloading from: "), 1u);
  }
}

TEST_F(FileDownloadTest, AFolderThatCantBeCreatedFailsBeforeAnyRequest) {
  // A file stands where the folder should be.
  const std::wstring blocked = target_.WriteFile(L"blocked", "a file");
  LogCapture log;
  EXPECT_FALSE(DownloadFile(UrlOf("https", ports_.main), blocked + L"\\sub\\", L"payload.bin", nullptr, true));
  // The folder creation logs its own failure with the same words.
  EXPECT_GE(log.CountAt(L"ERR", L"can not create directory " + blocked + L"\\sub\\ because: \""), 1u);
  EXPECT_EQ(log.Count(L"Downloading from"), 0u);
  EXPECT_EQ(RecordCount(ports_.main, scope_), 0);
}

TEST_F(FileDownloadTest, AnAnswerCutShortIsAFailedDownload) {
  LogCapture log;
  const bool downloaded =
      DownloadFile(UrlOf("http", ports_.main, L"truncate"), target_.path(), L"payload.bin", nullptr, true);
  EXPECT_FALSE(downloaded);
  // What arrived is not left behind to be taken for the file.
  EXPECT_FALSE(PathExists(target_.path() + L"payload.bin"));
  EXPECT_EQ(log.CountAt(L"ERR", L"The server sent "), 1u);
  EXPECT_EQ(log.CountAt(L"ERR", L"Download from"), 1u);
}

TEST_F(FileDownloadTest, AConnectionClosedWithoutAnAnswerIsAFailedDownloadAndLeavesNoFile) {
  // The system itself reports such a download as an empty file.
  LogCapture log;
  EXPECT_FALSE(DownloadFile(UrlOf("http", ports_.main, L"drop"), target_.path(), L"payload.bin", nullptr, true));
  EXPECT_FALSE(PathExists(target_.path() + L"payload.bin"));
  EXPECT_EQ(log.CountAt(L"ERR", L"The server closed the connection for " + UrlOf("http", ports_.main, L"drop") +
                                    L" without an answer"),
            1u);
}

TEST_F(FileDownloadTest, AConnectionResetMidAnswerIsAFailedDownloadAndLeavesNoPartOfTheFile) {
  // The system reports such a download either as failed or as a file cut
  // short, whichever way the reset meets it; a few rounds meet both.
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    EXPECT_FALSE(DownloadFile(UrlOf("http", ports_.main, L"reset"), target_.path(), L"payload.bin", nullptr, true));
    EXPECT_FALSE(PathExists(target_.path() + L"payload.bin"));
  }
}

// ---- broken, stalled and changed transfers ----

// The lines of the log that tell of a resume or a fresh start.
size_t ResumeLines(const LogCapture& log) { return log.CountAt(L"INF", L"broke off after"); }

TEST_F(FileDownloadTest, ATransferResetHalfWayGoesOnFromWhereItStopped) {
  const size_t half = content_.size() / 2;
  const std::wstring url = UrlOf("http", ports_.main, L"cutat=" + std::to_wstring(half));
  LogCapture log;
  ASSERT_TRUE(DownloadFile(url, target_.path(), L"payload.bin", nullptr, true));
  EXPECT_EQ(ReadFileBytes(target_.path() + L"payload.bin"), content_);
  EXPECT_EQ(ResumeLines(log), 1u);
  // How much of the first half is kept depends on how the reset meets the
  // reads; never more than the half, and the rest is asked for from there.
  EXPECT_EQ(log.CountAt(L"INF", L"The download of " + url + L" broke off after "), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L" of " + std::to_wstring(content_.size()) + L" bytes; resuming from there (1 of 3)"),
            1u);
  EXPECT_EQ(log.CountAt(L"ERR", L""), 0u);
  EXPECT_EQ(RecordCount(ports_.main, scope_), 2) << "the whole file was asked for again";
}

TEST_F(FileDownloadTest, AServerWithoutRangesSendsTheWholeFileAgain) {
  const std::wstring url = UrlOf("http", ports_.main, L"cutat=1000;noranges");
  LogCapture log;
  ASSERT_TRUE(DownloadFile(url, target_.path(), L"payload.bin", nullptr, true));
  EXPECT_EQ(ReadFileBytes(target_.path() + L"payload.bin"), content_);
  EXPECT_EQ(log.CountAt(L"INF", L"the server can't resume it, starting again (1 of 3)"), 1u);
}

TEST_F(FileDownloadTest, AFileThatChangedBetweenTheBreakAndTheResumeIsFetchedAnew) {
  const std::wstring url = UrlOf("http", ports_.main, L"changeat=1000");
  LogCapture log;
  ASSERT_TRUE(DownloadFile(url, target_.path(), L"payload.bin", nullptr, true));
  // The service serves the changed file with every byte XOR 0x5A: none of
  // the old bytes may stay.
  EXPECT_EQ(ReadFileBytes(target_.path() + L"payload.bin"), ChangedByService(content_));
  EXPECT_EQ(log.CountAt(L"INF", L"resuming from there (1 of 3)"), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L"The server sent " + url + L" whole again"), 1u);
}

TEST_F(FileDownloadTest, AServerThatStopsSendingIsGivenUpAfterTheStallLimit) {
  const DWORD shipped = DownloadStallLimit();
  EXPECT_EQ(shipped, 60000u) << "the shipped limit";
  // A seam: the limit is shortened so that the test does not wait minutes.
  SetDownloadStallLimit(2000);
  const std::wstring url = UrlOf("http", ports_.main, L"stallat=1000");
  LogCapture log;
  const ULONGLONG started = ::GetTickCount64();
  EXPECT_FALSE(DownloadFile(url, target_.path(), L"payload.bin", nullptr, true));
  const ULONGLONG took = ::GetTickCount64() - started;
  SetDownloadStallLimit(shipped);
  EXPECT_FALSE(PathExists(target_.path() + L"payload.bin"));
  EXPECT_EQ(log.CountAt(L"ERR", L"No byte of " + url + L" arrived for 2 seconds; the download is given up"), 1u);
  EXPECT_EQ(ResumeLines(log), 0u) << "a stalled transfer is not resumed";
  // Not a speed goal: a download that never gave up would hang here for good.
  EXPECT_LT(took, 30000u);
}
