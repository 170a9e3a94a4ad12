// Whole silent update sessions, run one after the other in this process on
// the real worker against the reference update service: each checks, downloads
// a file, copies it into the product's folder and reports. What a session
// takes (handles, window and GDI objects, memory, threads) it must give back,
// or a product that keeps its updater running would see it grow.

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/renova_worker.h"
#include "product/cmd_line_info.h"
#include "product/product_folders.h"
#include "product/program_infos_store.h"
#include "product/settings.h"
#include "support/process_resources.h"
#include "support/scratch.h"
#include "support/served_files.h"
#include "support/update_server.h"
#include "system/file_system.h"
#include "system/registry.h"
#include "ui/dialog.h"
#include "ui/dialog_window.h"
#include "ui/session_test_support.h"

namespace testing_support {
namespace {

constexpr int kWarmUp = 3;
constexpr int kRounds = 40;
// The first sessions fill what the system keeps (WinINet's and urlmon's
// caches, COM's apartments, fonts); after them one leaked handle or object
// per session would pass any of these margins. Wine's WinINet goes on filling
// about 3 MiB of its own over its first few hundred requests however they are
// made (the posts' leak test measures it beside bare WinINet posts), and a
// session makes about ten; Wine may also start a worker thread of its own in a
// later session and keep it, with its handles.
constexpr GrowthMargins kMargins{/*handles=*/12, /*guiObjects=*/6, /*privateBytes=*/6 * 1024 * 1024, /*threads=*/2};

class SessionLeakTest : public UpdateServerTest {
 protected:
  void SetUp() override {
    UpdateServerTest::SetUp();
    if (HasFatalFailure()) return;
    gShowPermitted = 0;
    ProgramInfos working;
    working.ProgramName = L"Leak Test " + scope_;
    working.DisplayName = working.ProgramName;
    working.ProgramVersion = L"1.0.0";
    working.InstalledLocation = installed_.path();
    working.Language = 1033;
    ASSERT_TRUE(CompleteProgramInfos(working));
    options_.ProgramInfo = GetProgramInfos();
    options_.UpdateSilent = 1;
    ASSERT_TRUE(GetProductCacheFolder(productFolder_, options_.ProgramInfo, true));
    files_ = std::make_unique<ServedFiles>(scope_);
    ASSERT_TRUE(files_->Write(L"notes.txt", std::string(64 * 1024, 'n')));
    const std::string instruction =
        "<Instruction><UpdateId>61</UpdateId><NewProductVersion>2.0.0</NewProductVersion>"
        "<MaxUpdateableProductVersionExistingOnServer>2.0.0</MaxUpdateableProductVersionExistingOnServer>"
        "<Download><File Url=\"" +
        files_->Url("https", ports_.main, L"notes.txt") +
        "\" RelativeTargetFolder=\"\" FileName=\"notes.txt\"/></Download></Instruction>";
    ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, GetProductSettingsKey(options_.ProgramInfo), L"DebugUrl_v2",
                               ServiceBaseUrl(L"https", ports_.main, scope_, L"text=" + Base64Url(instruction))));
  }

  void TearDown() override {
    if (!options_.ProgramInfo.ProgramName.empty()) {
      ::RegDeleteTreeW(HKEY_CURRENT_USER, GetProductSettingsKey(options_.ProgramInfo).c_str());
      ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, GetProductSettingsKey(options_.ProgramInfo).c_str());
    }
    if (!productFolder_.empty()) DeleteDirectoryTree(productFolder_, true);
  }

  // One session on the test view, driven as the window would: the worker's
  // wake-ups delivered, else the timer's ticks, until it ends.
  int32_t SessionOnTheTestView() {
    TestView view;
    RenovaWorker worker;
    worker.CmdLine = &options_;
    Dialog dialog(&worker, &options_, &view);
    dialog.OnInitDialog();
    int delivered = 0;
    for (int ticks = 0; view.endCodes.empty() && ticks < 600; ++ticks) {
      if (view.WaitForWakes(delivered + 1, 100)) {
        ++delivered;
        dialog.OnWorkerWake();
      } else {
        dialog.OnTimer();
      }
    }
    return view.endCodes.empty() ? -1 : view.endCodes.back();
  }

  // One session in the real, hidden window, as start-up runs it.
  int32_t SessionInTheWindow() {
    RenovaWorker worker;
    worker.CmdLine = &options_;
    DialogWindow window;
    Dialog dialog(&worker, &options_, &window);
    return static_cast<int32_t>(window.RunModal(dialog));
  }

  bool Updated(int32_t endCode) {
    EXPECT_EQ(endCode, kEndUpdateSucceeded);
    const bool copied = ReadFileBytes(installed_.path() + L"notes.txt").size() == 64 * 1024;
    EXPECT_TRUE(copied);
    ::DeleteFileW((installed_.path() + L"notes.txt").c_str());
    return endCode == kEndUpdateSucceeded && copied;
  }

  ScratchFolder installed_;
  CmdLineInfo options_;
  std::wstring productFolder_;
  std::unique_ptr<ServedFiles> files_;
};

TEST_F(SessionLeakTest, SessionsOnTheTestViewGiveBackWhatTheyTake) {
  ExpectNoGrowth("sessions on the test view", kWarmUp, kRounds, kMargins,
                 [&] { return Updated(SessionOnTheTestView()); });
}

TEST_F(SessionLeakTest, SessionsInTheHiddenWindowGiveBackWhatTheyTake) {
  ExpectNoGrowth("sessions in the window", kWarmUp, kRounds, kMargins, [&] { return Updated(SessionInTheWindow()); });
}

}  // namespace
}  // namespace testing_support
