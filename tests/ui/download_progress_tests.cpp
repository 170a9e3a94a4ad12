// What a download shows in the session's view while it runs on another
// thread: the action's messages, and the callback's progress and label.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "actions/download_action.h"
#include "actions/file_system.h"
#include "actions/product_folders.h"
#include "session_test_support.h"
#include "support/served_files.h"
#include "ui/download_callback.h"
#include "ui/text_table.h"
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

TEST_F(SessionTest, ADownloadShowsItsStepsAndItsProgressInTheView) {
  NewDialog();
  ServedFiles files(scope_);
  ASSERT_TRUE(files.Write(L"big.bin", std::string(3 * 1024 * 1024, 'b')));
  ActionDownload action;
  const std::string url = files.Url("https", ports_.main, L"big.bin");
  action.mFiles.push_back({std::wstring(url.begin(), url.end()), L"", L"big.bin"});
  DownloadCallback callback;
  action.mCallback = &callback;

  // On a thread of its own, as an installation run does.
  int32_t result = -1;
  std::thread run([&] { result = action.Execute(); });
  run.join();
  EXPECT_EQ(result, kActionSucceeded);

  const TestView::RunDisplay shown = view_.RunShown();
  const int language = product_.Language;
  ASSERT_GE(shown.messages.size(), 3u);
  EXPECT_EQ(shown.messages[0], GetText(kTextDeletingCache, language));
  EXPECT_EQ(shown.messages[1], win::FormatW(GetText(kTextDownloadingFile, language), L"big.bin"));
  EXPECT_EQ(shown.messages.back(), win::FormatW(GetText(kTextDownloadSucceeded, language), L"big.bin"));
  EXPECT_EQ(shown.labelShown, (std::vector<bool>{true, false}));
  ASSERT_GE(shown.progress.size(), 2u);
  for (size_t i = 1; i < shown.progress.size(); ++i) EXPECT_GE(shown.progress[i], shown.progress[i - 1]);
  EXPECT_EQ(shown.progress.back(), 100);
  ASSERT_FALSE(shown.labels.empty());
  // The system reports the data in steps; the last one may come before the end.
  EXPECT_TRUE(shown.labels.back().ends_with(L" / 3.00 MB")) << testing::PrintToString(shown.labels.back());

  std::wstring folder;
  if (GetProductCacheFolder(folder, product_, true)) DeleteDirectoryTree(folder, true);
}

}  // namespace
