// The text channel against real files: line layout, levels and threshold,
// message shaping, the other outputs and the file's life.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "log/clog.h"
#include "log_test_files.h"
#include "support/scratch.h"

using log_testing::AfterStamp;
using log_testing::ReadBytes;
using log_testing::ReadLines;
using log_testing::ThreadPrefix;

namespace {

class LogLines : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = folder_.path() + L"lines.log";
    ASSERT_EQ(log_.Init(L"TEST", false, kLogLevelAlways, true), S_OK);
    ASSERT_TRUE(log_.SetLogFile(path_.c_str(), kLogTextChannel, false, 0));
  }

  std::vector<std::string> Lines() const { return ReadLines(path_); }

  testing_support::ScratchFolder folder_;
  std::wstring path_;
  CLog log_;
};

uint64_t Ticks(const FILETIME& time) { return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

// The local time shown in a stamp, as UTC ticks, to compare with moments taken around the write.
uint64_t StampTicks(const std::string& line) {
  SYSTEMTIME local{};
  local.wDay = static_cast<WORD>(std::stoi(line.substr(0, 2)));
  local.wMonth = static_cast<WORD>(std::stoi(line.substr(3, 2)));
  local.wYear = static_cast<WORD>(std::stoi(line.substr(6, 4)));
  local.wHour = static_cast<WORD>(std::stoi(line.substr(11, 2)));
  local.wMinute = static_cast<WORD>(std::stoi(line.substr(14, 2)));
  local.wSecond = static_cast<WORD>(std::stoi(line.substr(17, 2)));
  local.wMilliseconds = static_cast<WORD>(std::stoi(line.substr(20, 3)));
  SYSTEMTIME universal{};
  FILETIME time{};
  if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) || !::SystemTimeToFileTime(&universal, &time))
    return 0;
  return Ticks(time);
}

}  // namespace

TEST_F(LogLines, LineIsStampBlankCodeSourceThreadAndMessage) {
  FILETIME before{};
  FILETIME after{};
  ::GetSystemTimeAsFileTime(&before);
  log_.Print(kLogLevelInfo, L"VLRN", L"STARTING %s", L"LOG");
  ::GetSystemTimeAsFileTime(&after);

  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  const std::regex shape(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d:\d{3} INF: VLRN:\[08[0-9a-f]+\] STARTING LOG)");
  EXPECT_TRUE(std::regex_match(lines[0], shape)) << lines[0];
  EXPECT_EQ(AfterStamp(lines[0]), "INF: VLRN:" + ThreadPrefix() + "STARTING LOG");
  // The stamp is the local time of the write, to the millisecond.
  const uint64_t millisecond = 10000;
  EXPECT_GE(StampTicks(lines[0]), Ticks(before) / millisecond * millisecond);
  EXPECT_LE(StampTicks(lines[0]), Ticks(after));
  EXPECT_EQ(ReadBytes(path_).substr(ReadBytes(path_).size() - 2), "\r\n");
}

TEST_F(LogLines, LevelCodesAndThresholdRule) {
  for (int level = -1; level <= 24; ++level) log_.Print(level, L"S", L"level %d", level);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 17u);  // threshold 15: every level up to 15
  const char* codes[] = {"off", "off", "CRI", "ERR", "WAR", "INF", "AUD", "DB1", "DB2",
                         "DB3", "DB4", "RS1", "RS2", "RS3", "RS4", "RS5", "ALW"};
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(AfterStamp(lines[i]).substr(0, 4), std::string(codes[i]) + ":");

  log_.SetThreshold(30);
  for (int level : {16, 20, 21, 22, 30}) log_.Print(level, L"S", L"high");
  lines = Lines();
  ASSERT_EQ(lines.size(), 22u);
  EXPECT_EQ(AfterStamp(lines[17]).substr(0, 3), "RS6");
  EXPECT_EQ(AfterStamp(lines[18]).substr(0, 3), "RSA");
  EXPECT_EQ(AfterStamp(lines[19]).substr(0, 3), "TRM");
  EXPECT_EQ(AfterStamp(lines[20]).substr(0, 3), "TRM");
  EXPECT_EQ(AfterStamp(lines[21]).substr(0, 3), "TRM");

  // A negative threshold becomes 0: only levels of 0 and below, and 15, pass.
  log_.SetThreshold(-3);
  EXPECT_EQ(log_.Threshold(), 0);
  for (int level : {-2, 0, 1, 4, 14, 15, 16}) log_.Print(level, L"S", L"at %d", level);
  lines = Lines();
  ASSERT_EQ(lines.size(), 25u);
  EXPECT_NE(lines[22].find("at -2"), std::string::npos);
  EXPECT_NE(lines[23].find("at 0"), std::string::npos);
  EXPECT_NE(lines[24].find("ALW: S:"), std::string::npos);
}

TEST_F(LogLines, MessageShaping) {
  log_.Print(kLogLevelInfo, L"VLRN", L"one\n");
  log_.Print(kLogLevelInfo, L"VLRN", L"two\n\n");
  // An absent text adds nothing; a given one, even empty, comes behind " | ".
  log_.Write(kLogLevelWarning, 0x1F, L"SRC", 0, 3, L"a", nullptr, L"c");
  log_.Write(kLogLevelWarning, 0, L"SRC", 0, 2, L"a");
  log_.Write(kLogLevelWarning, 0, L"SRC", 0, 2, L"a", L"");
  log_.PrintTexts(kLogLevelWarning, L"SRC", nullptr, L"b", nullptr);
  log_.Write(kLogLevelError, 0, nullptr, 0, 0);
  log_.PrintTexts(kLogLevelInfo, L"T", L"x", L"y", L"z");
  ASSERT_EQ(log_.Init(L"TEST", false, kLogLevelAlways, false), S_OK);
  log_.Print(kLogLevelInfo, L"", L"no thread, no source");

  const std::string prefix = ThreadPrefix();
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(AfterStamp(lines[0]), "INF: VLRN:" + prefix + "one");
  EXPECT_EQ(AfterStamp(lines[1]), "INF: VLRN:" + prefix + "two\n");  // only one line feed goes
  EXPECT_EQ(AfterStamp(lines[2]), "WAR: SRC:" + prefix + "a | c(EVENT 0x1f)");
  EXPECT_EQ(AfterStamp(lines[3]), "WAR: SRC:" + prefix + "a");
  EXPECT_EQ(AfterStamp(lines[4]), "WAR: SRC:" + prefix + "a | ");
  EXPECT_EQ(AfterStamp(lines[5]), "WAR: SRC:" + prefix + " | b");
  EXPECT_EQ(AfterStamp(lines[6]), "ERR: " + prefix);
  EXPECT_EQ(AfterStamp(lines[7]), "INF: T:" + prefix + "x | y | z");
  EXPECT_EQ(AfterStamp(lines[8]), "INF: no thread, no source");
}

TEST_F(LogLines, WideCharactersAndOverlongTextsKeepTheLineWellFormed) {
  log_.Print(kLogLevelInfo, L"VLRN", L"caf\u00e9 \u20ac \U0001F600 end");
  const std::wstring huge(20000, L'x');
  log_.Print(kLogLevelInfo, L"VLRN", L"%s", huge.c_str());
  log_.Print(kLogLevelInfo, L"AN-OVERLONG-SOURCE-NAME", L"after");

  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(AfterStamp(lines[0]), "INF: VLRN:" + ThreadPrefix() + "caf\xe9 ? ? end");
  // The message (thread prefix included) is cut to 4,095 characters.
  EXPECT_EQ(AfterStamp(lines[1]).size(), std::string("INF: VLRN:").size() + 4095);
  EXPECT_EQ(AfterStamp(lines[2]), "INF: AN-OVERLONG-SOURCE-:" + ThreadPrefix() + "after");
}

TEST_F(LogLines, CallbackAndConsoleGetTheLine) {
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 1 << 16));
  win::UniqueFile reader(readEnd);
  win::UniqueFile writer(writeEnd);
  // The callback comes first, the console after it: the callback finds the pipe as it was.
  std::vector<std::wstring> seen;
  std::vector<DWORD> consoleBytesSeen;
  ASSERT_EQ(log_.SetLineCallback([&](const wchar_t* line) {
    seen.emplace_back(line);
    DWORD available = 0;
    consoleBytesSeen.push_back(::PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr) ? available
                                                                                                       : MAXDWORD);
  }),
            S_OK);
  ASSERT_TRUE(log_.SetConsole(writer.get(), false));
  log_.Print(kLogLevelInfo, L"VLRN", L"to console %d", 1);
  // The console gets the whole message; the file's line carries it cut.
  const std::wstring longText(5000, L'w');
  log_.Print(kLogLevelInfo, L"VLRN", L"%s", longText.c_str());
  ASSERT_TRUE(log_.SetConsole(writer.get(), true));
  log_.Print(kLogLevelInfo, L"VLRN", L"to console %d", 2);
  log_.SetConsole(nullptr, false);
  writer.reset();

  std::string console;
  char buffer[1024];
  DWORD got = 0;
  while (::ReadFile(reader.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) console.append(buffer, got);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  const std::string firstOnConsole = ThreadPrefix() + "to console 1\n";
  const std::string secondOnConsole = ThreadPrefix() + std::string(5000, 'w') + "\n";
  EXPECT_EQ(console, firstOnConsole + secondOnConsole + lines[2] + "\n");
  EXPECT_EQ(lines[1].size(), lines[0].size() - std::string("to console 1").size() + 4095 - ThreadPrefix().size());
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(std::string(seen[0].begin(), seen[0].end()), lines[0]);
  EXPECT_EQ(consoleBytesSeen, (std::vector<DWORD>{0, static_cast<DWORD>(firstOnConsole.size()),
                                                  static_cast<DWORD>(firstOnConsole.size() + secondOnConsole.size())}));

  // A callback that throws costs neither the file its line nor the caller.
  log_.SetLineCallback([](const wchar_t*) { throw 42; });
  log_.Print(kLogLevelInfo, L"VLRN", L"still written");
  EXPECT_EQ(Lines().size(), 4u);
}

TEST_F(LogLines, ForwardingSendsEverythingToTheTarget) {
  CLog target;
  const std::wstring targetPath = folder_.path() + L"target.log";
  ASSERT_EQ(target.Init(L"T", false, kLogLevelWarning, true), S_OK);
  ASSERT_TRUE(target.SetLogFile(targetPath.c_str(), kLogTextChannel, false, 0));
  ASSERT_TRUE(log_.SetForward(&target));
  EXPECT_EQ(log_.Threshold(), kLogLevelWarning);
  log_.Print(kLogLevelError, L"FWD", L"forwarded");
  log_.Print(kLogLevelInfo, L"FWD", L"filtered");
  // A chain that leads back would pass messages round for ever.
  EXPECT_FALSE(target.SetForward(&log_));
  EXPECT_FALSE(log_.SetForward(&log_));
  ASSERT_TRUE(log_.SetForward(nullptr));
  log_.Print(kLogLevelError, L"OWN", L"own file again");

  const std::vector<std::string> forwarded = ReadLines(targetPath);
  ASSERT_EQ(forwarded.size(), 1u);
  EXPECT_EQ(AfterStamp(forwarded[0]), "ERR: FWD:" + ThreadPrefix() + "forwarded");
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_NE(Lines()[0].find("own file again"), std::string::npos);
}

TEST_F(LogLines, FilesAppendClearAndExpandPlaceHolders) {
  log_.Print(kLogLevelInfo, L"A", L"first run");
  log_.Close();
  ASSERT_TRUE(log_.SetLogFile(path_.c_str(), kLogTextChannel, false, 0));
  log_.Print(kLogLevelInfo, L"A", L"second run");
  ASSERT_EQ(Lines().size(), 2u);  // appended, not replaced

  EXPECT_EQ(log_.ClearFiles(), S_OK);
  EXPECT_EQ(ReadBytes(path_), "");
  log_.Print(kLogLevelInfo, L"A", L"after clearing");
  ASSERT_EQ(Lines().size(), 1u);

  const std::wstring pattern = folder_.path() + L"run_%D_%P.log";
  ASSERT_TRUE(log_.SetLogFile(pattern.c_str(), kLogTextChannel, false, 0));
  const std::wstring expanded = log_.FilePath(kLogTextChannel);
  const std::wstring name = expanded.substr(folder_.path().size());
  EXPECT_TRUE(
      std::regex_match(name, std::wregex(L"run_\\d{14}_" + std::to_wstring(::GetCurrentProcessId()) + L"\\.log")))
      << std::string(name.begin(), name.end());
  EXPECT_NE(::GetFileAttributesW(expanded.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LogLines, BadPathsAndARetiredLogFailCleanly) {
  EXPECT_TRUE(log_.SetLogFile(nullptr, kLogTextChannel, false, 0));  // closes
  EXPECT_FALSE(log_.IsFileOpen(kLogTextChannel));
  EXPECT_TRUE(log_.SetLogFile(path_.c_str(), kLogTextChannel, false, 0));
  EXPECT_TRUE(log_.SetLogFile(L"", kLogTextChannel, false, 0));
  EXPECT_FALSE(log_.IsFileOpen(kLogTextChannel));
  EXPECT_FALSE(log_.SetLogFile(path_.c_str(), 2, false, 0));
  EXPECT_FALSE(log_.SetLogFile(path_.c_str(), -1, false, 0));
  const std::wstring tooLong = folder_.path() + std::wstring(261 - folder_.path().size(), L'a');
  EXPECT_FALSE(log_.SetLogFile(tooLong.c_str(), kLogTextChannel, false, 0));
  EXPECT_FALSE(log_.SetLogFile((folder_.path() + L"missing\\x.log").c_str(), kLogTextChannel, false, 0));
  EXPECT_EQ(log_.Init(nullptr, false, 0, true), E_INVALIDARG);
  log_.Print(kLogLevelAlways, L"A", L"no file, no crash");

  ASSERT_TRUE(log_.SetLogFile(path_.c_str(), kLogTextChannel, false, 0));
  log_.Retire();
  EXPECT_FALSE(log_.Ready());
  log_.Print(kLogLevelAlways, L"A", L"after the end");
  EXPECT_EQ(ReadBytes(path_), "");
  EXPECT_FALSE(log_.SetLogFile(path_.c_str(), kLogTextChannel, false, 0));
  EXPECT_EQ(log_.Init(L"TEST", false, 0, true), E_FAIL);
  EXPECT_EQ(log_.ClearFiles(), E_FAIL);
  EXPECT_EQ(log_.SetLineCallback(nullptr), E_FAIL);
}
