// Many threads logging into one file at once: every line whole, none
// interleaved, none lost, each thread's lines in its own order.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "log/clog.h"
#include "log/log_reader.h"
#include "log_test_files.h"
#include "support/scratch.h"

TEST(LogThreads, ConcurrentLinesArriveWholeAndComplete) {
  constexpr int kThreads = 8;
  constexpr int kLinesPerThread = 400;
  testing_support::ScratchFolder folder;
  const std::wstring path = folder.path() + L"threads.log";
  const std::wstring recordPath = folder.path() + L"threads.rec";
  CLog log;
  ASSERT_EQ(log.Init(L"TEST", false, kLogLevelAlways, true), S_OK);
  log.SetFlush(false);  // the lock guards the writes either way; a flush per line only slows the test
  ASSERT_TRUE(log.SetLogFile(path.c_str(), kLogTextChannel, false, 0));
  ASSERT_TRUE(log.SetLogFile(recordPath.c_str(), kLogRecordChannel, true, 5));

  // Long messages of different lengths make torn writes likely if writes were not serialised.
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      const std::wstring padding(static_cast<size_t>(50 + 37 * t), static_cast<wchar_t>(L'a' + t));
      for (int i = 0; i < kLinesPerThread; ++i)
        log.Print(kLogLevelInfo, L"MT", L"t%d n%d %s end", t, i, padding.c_str());
    });
  }
  for (std::thread& thread : threads) thread.join();

  const std::vector<std::string> lines = log_testing::ReadLines(path);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesPerThread));
  const std::regex shape(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d:\d{3} INF: MT:\[08[0-9a-f]+\] t(\d) n(\d+) ([a-h]+) end)");
  std::map<int, int> nextOfThread;
  for (const std::string& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
    const int t = std::stoi(match[1]);
    const std::string padding = match[3];
    EXPECT_EQ(padding, std::string(static_cast<size_t>(50 + 37 * t), static_cast<char>('a' + t)));
    EXPECT_EQ(std::stoi(match[2]), nextOfThread[t]++);
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(nextOfThread[t], kLinesPerThread);

  // The record file took the same messages in the same order, none torn.
  log.Close();
  LogReaderPtr reader;
  ASSERT_EQ(OpenLogReader(recordPath.c_str(), true, 5, reader), S_OK);
  std::vector<LogEntry> entries;
  size_t read = 0;
  uint64_t skipped = 0;
  ASSERT_EQ(ReadLogRecords(*reader, 0, read, &entries, kLogReadResynchronize | kLogReadMarkCorruption, skipped), S_OK);
  EXPECT_EQ(skipped, 0u);
  ASSERT_EQ(entries.size(), lines.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::wstring line = FormatLogLine(entries[i]);
    ASSERT_EQ(std::string(line.begin(), line.end()), lines[i]);
  }
}
