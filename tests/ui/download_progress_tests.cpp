// What a download shows in the session's view while it runs on another
// thread: the action's messages, and the callback's progress and label.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "actions/download_action.h"
#include "actions/download_callback.h"
#include "actions/product_actions.h"
#include "product/product_folders.h"
#include "session_test_support.h"
#include "support/served_files.h"
#include "system/file_system.h"
#include "texts/text_table.h"
#include "win/strings.h"

namespace {

using namespace testing_support;

TEST(DownloadCallback, PercentIsTruncatedAndZeroWithoutATotal) {
  EXPECT_EQ(DownloadCallback::Percent(0, 100), 0);
  EXPECT_EQ(DownloadCallback::Percent(5, 0), 0);
  EXPECT_EQ(DownloadCallback::Percent(1, 3), 33);
  EXPECT_EQ(DownloadCallback::Percent(2, 3), 66);
  EXPECT_EQ(DownloadCallback::Percent(4000000000u, 4000000000u), 100);
  EXPECT_EQ(DownloadCallback::Percent(3999999999u, 4000000000u), 99);
}

TEST(DownloadCallback, OnlyProgressIsImplementedAndCountingDoesNothing) {
  DownloadCallback callback;
  EXPECT_EQ(callback.AddRef(), 1u);
  EXPECT_EQ(callback.Release(), 1u);
  EXPECT_EQ(callback.OnStartBinding(0, nullptr), E_NOTIMPL);
  EXPECT_EQ(callback.OnStopBinding(S_OK, nullptr), E_NOTIMPL);
  EXPECT_EQ(callback.OnProgress(1, 2, BINDSTATUS_CONNECTING, nullptr), S_OK);
  IBindStatusCallback* asked = nullptr;
  EXPECT_EQ(callback.QueryInterface(IID_IBindStatusCallback, reinterpret_cast<void**>(&asked)), S_OK);
  EXPECT_EQ(asked, static_cast<IBindStatusCallback*>(&callback));
}

// Under Wine a fast download reports only the start and the end of its data
// (statuses 4 and 6), never status 5: the callback is called here as the
// system calls it during a slower download.
TEST_F(SessionTest, ProgressOfDataBeingDownloadedReachesTheView) {
  DownloadCallback callback(&NewDialog());
  std::thread download([&] {
    EXPECT_EQ(callback.OnProgress(0, 3145728, BINDSTATUS_BEGINDOWNLOADDATA, L"x"), S_OK);
    EXPECT_EQ(callback.OnProgress(1572864, 3145728, BINDSTATUS_DOWNLOADINGDATA, L"x"), S_OK);
    EXPECT_EQ(callback.OnProgress(3145728, 3145728, BINDSTATUS_DOWNLOADINGDATA, L"x"), S_OK);
    EXPECT_EQ(callback.OnProgress(3145728, 3145728, BINDSTATUS_ENDDOWNLOADDATA, L"x"), S_OK);
  });
  download.join();
  const TestView::RunDisplay shown = view_.RunShown();
  EXPECT_EQ(shown.progress, (std::vector<int32_t>{50, 100}));
  EXPECT_EQ(shown.labels, (std::vector<std::wstring>{L"1.50 MB / 3.00 MB", L"3.00 MB / 3.00 MB"}));
}

TEST_F(SessionTest, ADownloadShowsItsStepsInTheViewAndEndsWithTheBarFull) {
  Dialog& dialog = NewDialog();
  ServedFiles files(scope_);
  ASSERT_TRUE(files.Write(L"big.bin", std::string(3 * 1024 * 1024, 'b')));
  ActionDownload action;
  const std::string url = files.Url("https", ports_.main, L"big.bin");
  action.Files.push_back({std::wstring(url.begin(), url.end()), L"", L"big.bin"});
  // What the run shows reaches the view through the session, as in a run.
  DownloadCallback callback(&dialog);
  action.Callback = &callback;
  action.Progress = &dialog;

  // On a thread of its own, as an installation run does.
  int32_t result = -1;
  std::thread run([&] { result = action.Execute(); });
  run.join();
  EXPECT_EQ(result, kActionSucceeded);

  const TestView::RunDisplay shown = view_.RunShown();
  const int language = product_.Language;
  EXPECT_EQ(shown.messages,
            (std::vector<std::wstring>{GetText(kTextDeletingCache, language),
                                       win::FormatW(GetText(kTextDownloadingFile, language), L"big.bin"),
                                       win::FormatW(GetText(kTextDownloadSucceeded, language), L"big.bin")}));
  EXPECT_EQ(shown.labelShown, (std::vector<bool>{true, false}));
  ASSERT_FALSE(shown.progress.empty());
  EXPECT_EQ(shown.progress.back(), 100);

  std::wstring folder;
  if (GetProductCacheFolder(folder, product_, true)) DeleteDirectoryTree(folder, true);
}

}  // namespace

namespace {

// A setup run greys the window's Close command from its start; only the
// update that merely copies files gives it back itself.
TEST_F(SessionTest, SetupRunsGreyTheCloseCommand) {
  Dialog& dialog = NewDialog();
  std::wstring folder;
  ASSERT_TRUE(GetProductCacheFolder(folder, product_, true));
  // No setup in the cache folder: the update copies the files (none) and is done.
  ASSERT_TRUE(CreateDirectoryPath(folder + L"Cache\\", true));
  ActionProductUpdate update;
  update.Progress = &dialog;
  EXPECT_EQ(update.Execute(), kActionSucceeded);
  EXPECT_EQ(view_.RunShown().closeCommand, (std::vector<bool>{false, true}));

  // The installation can't start a setup that is not there: it fails and
  // leaves the command greyed for the failure display to give back.
  ActionProductInstallation installation;
  installation.Progress = &dialog;
  EXPECT_EQ(installation.Execute(), kActionSetupFailed);
  EXPECT_EQ(view_.RunShown().closeCommand, (std::vector<bool>{false, true, false}));
  EXPECT_EQ(view_.RunShown().messages.back(), GetText(kTextStartingInstallation, product_.Language));
  DeleteDirectoryTree(folder, true);
}

}  // namespace
