// Update runs of the real updater whose downloads meet a server that stops
// sending, a connection reset half-way, a server without ranges and a file
// that changes between the break and the resume.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "update_run_test.h"

using namespace testing_support;

namespace {

// The updater built to give up on a download after 3 s without a byte.
std::wstring QuickStallExePath() { return BinFolder() + L"VLRenovaWorkerQuickStall.exe"; }

class DownloadResilienceTest : public UpdateRunTest {
 protected:
  // The setup and its payload, and a larger file whose transfer the faults meet.
  void ServeWithLargeFile(const std::wstring& faults) {
    ServeSetup("0");
    ASSERT_TRUE(files_->Write(L"large.bin", large_));
    const std::string largeFile = "<File Url=\"" + files_->Url("https", ports_.main, L"large.bin", faults) +
                                  "\" RelativeTargetFolder=\"\" FileName=\"large.bin\"/>";
    ServeUpdate(false, largeFile + SetupFiles());
  }
  size_t LogCount(const std::string& text) const {
    const std::string log = Log();
    size_t count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
  }

  const std::string large_ = std::string(2 * 1024 * 1024, 'L') + "end";
};

}  // namespace

TEST_F(DownloadResilienceTest, AStalledDownloadEndsTheRunAsAFailedDownloadAndTheNextRunSucceeds) {
  ServeWithLargeFile(L"stallat=4096");
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs, QuickStallExePath()), 9u);
  // Over https, then once more over http: each given up after the limit.
  EXPECT_EQ(LogCount("arrived for 3 seconds; the download is given up"), 2u) << LastLines(Log());
  EXPECT_TRUE(SetupRuns().empty());
  EXPECT_TRUE(Reported(9));
  // The stalled run has let go of the product: the next run is not refused.
  StartAfresh();
  ServeWithLargeFile(L"");
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs, QuickStallExePath()), 8u);
  EXPECT_EQ(ReadFileBytes(cache_ + L"large.bin"), large_);
}

TEST_F(DownloadResilienceTest, AConnectionResetHalfWayResumesOnceAndTheRunSucceeds) {
  ServeWithLargeFile(L"cutat=" + std::to_wstring(large_.size() / 2));
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), 8u);
  EXPECT_EQ(ReadFileBytes(cache_ + L"large.bin"), large_);
  // How much of the first half is kept depends on how the reset meets the
  // reads; the rest is asked for once, from there.
  EXPECT_EQ(LogCount(" bytes; resuming from there (1 of 3)"), 1u) << LastLines(Log());
  EXPECT_EQ(LogCount("broke off after"), 1u);
  EXPECT_EQ(Requests(L"large.bin"), 2);
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"program.txt"), "2.0.0");
}

TEST_F(DownloadResilienceTest, WithoutRangesOrWithAChangedFileTheDownloadStartsAgain) {
  ServeWithLargeFile(L"cutat=100000;noranges");
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), 8u);
  EXPECT_EQ(ReadFileBytes(cache_ + L"large.bin"), large_);
  EXPECT_EQ(LogCount("the server can't resume it, starting again (1 of 3)"), 1u) << LastLines(Log());

  // The file changes on the server between the break and the resume: the
  // service then serves every byte XOR 0x5A, and the resume gets all of it anew.
  StartAfresh();
  ServeWithLargeFile(L"changeat=100000");
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), 8u);
  EXPECT_EQ(ReadFileBytes(cache_ + L"large.bin"), ChangedByService(large_));
  EXPECT_EQ(LogCount("whole again: it changed, or takes no ranges"), 1u) << LastLines(Log());
}
