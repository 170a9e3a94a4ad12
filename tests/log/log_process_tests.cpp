// The log across processes: an abrupt end, two processes on one file, the
// process-wide log's start, its life from static initialisers to exit, and
// the missing-resource box. The child is the log_writer fixture.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "log_test_files.h"
#include "support/child_process.h"
#include "support/message_box.h"
#include "support/scratch.h"
#include "win/unique_handle.h"

using log_testing::AfterStamp;
using log_testing::ReadBytes;
using log_testing::ReadLines;
using testing_support::BinFolder;
using testing_support::ChildProcess;
using testing_support::ScratchFolder;
using testing_support::UniqueName;

namespace {

constexpr DWORD kChildTimeoutMs = 30000;
constexpr DWORD kAbruptExitCode = 7;
constexpr DWORD kFileNotOpenedExitCode = 2;

std::wstring WriterPath() { return BinFolder() + L"log_writer.exe"; }
std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// What a line says after its thread prefix.
std::string MessageOf(const std::string& line) {
  const size_t end = line.find("] ");
  return end == std::string::npos ? std::string() : line.substr(end + 2);
}

// Waits (without judging how long it takes) until the file holds a line.
bool WaitForLines(const std::wstring& path, size_t count) {
  for (int attempt = 0; attempt < 1500; ++attempt) {
    if (ReadLines(path).size() >= count) return true;
    ::Sleep(20);
  }
  return false;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data{};
  win::UniqueFind find(::FindFirstFileW((folder + pattern).c_str(), &data));
  if (!find) return names;
  do {
    names.emplace_back(data.cFileName);
  } while (::FindNextFileW(find.get(), &data));
  return names;
}

std::wstring Environment(const wchar_t* name) {
  wchar_t value[32768] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
  return length < 32768 ? std::wstring(value, length) : std::wstring();
}

// A file-name stamp of a UTC moment: local time read as standard time and shown
// as UTC is UTC itself, moved by the daylight-saving shift while that is in force.
std::wstring FileStamp(SYSTEMTIME time) {
  TIME_ZONE_INFORMATION zone{};
  const long shiftMinutes = ::GetTimeZoneInformation(&zone) == TIME_ZONE_ID_DAYLIGHT ? -zone.DaylightBias : 0;
  FILETIME file{};
  ::SystemTimeToFileTime(&time, &file);
  ULARGE_INTEGER ticks{};
  ticks.LowPart = file.dwLowDateTime;
  ticks.HighPart = file.dwHighDateTime;
  ticks.QuadPart += static_cast<ULONGLONG>(static_cast<LONGLONG>(shiftMinutes) * 60 * 10000000);
  file.dwLowDateTime = ticks.LowPart;
  file.dwHighDateTime = ticks.HighPart;
  ::FileTimeToSystemTime(&file, &time);
  wchar_t text[16] = {};
  swprintf(text, 16, L"%04u%02u%02u%02u%02u%02u", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
           time.wSecond);
  return text;
}

std::wstring LogFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, temp);
  return std::wstring(temp) + L"VI Vadavura\\VL Renova\\";
}

}  // namespace

TEST(LogProcess, AbruptEndLeavesTheFileCompleteUpToTheLastLine) {
  ScratchFolder folder;
  const std::wstring path = folder.path() + L"abrupt.log";
  ChildProcess child(WriterPath(), L"lines " + Quoted(path) + L" 300 terminate");
  ASSERT_TRUE(child.started());
  ASSERT_EQ(child.Wait(kChildTimeoutMs), kAbruptExitCode);

  const std::string bytes = ReadBytes(path);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  const std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 300u);
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(MessageOf(lines[i]), "line " + std::to_string(i + 1) + " of 300");
  }
}

TEST(LogProcess, SecondProcessOnTheSameFileLosesItsLinesWhileHeldAndAppendsAfterwards) {
  ScratchFolder folder;
  const std::wstring path = folder.path() + L"20261208131252_Product.log";
  const std::wstring eventName = UniqueName(L"vlrn-log-hold");
  win::UniqueEvent release(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
  ASSERT_TRUE(release);
  ChildProcess holder(WriterPath(), L"hold " + Quoted(path) + L" " + eventName);
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(WaitForLines(path, 1));

  // The file is shared for reading only: the second writer can't open it, and ends normally.
  ChildProcess second(WriterPath(), L"lines " + Quoted(path) + L" 5 exit");
  EXPECT_EQ(second.Wait(kChildTimeoutMs), kFileNotOpenedExitCode);
  ::SetEvent(release.get());
  EXPECT_EQ(holder.Wait(kChildTimeoutMs), 0u);
  ASSERT_EQ(ReadLines(path).size(), 1u);

  ChildProcess third(WriterPath(), L"lines " + Quoted(path) + L" 5 exit");
  EXPECT_EQ(third.Wait(kChildTimeoutMs), 0u);
  const std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(MessageOf(lines[0]), "holding the file");
  EXPECT_EQ(MessageOf(lines[5]), "line 5 of 5");
}

TEST(LogProcess, StartLogWritesTheProductsFileInTheVendorFolder) {
  const std::wstring name = UniqueName(L"LogStart");
  SYSTEMTIME before{};
  ::GetSystemTime(&before);
  for (int run = 0; run < 2; ++run) {
    ChildProcess child(WriterPath(), L"start " + name);
    ASSERT_TRUE(child.started());
    ASSERT_EQ(child.Wait(kChildTimeoutMs), 0u);
  }
  SYSTEMTIME after{};
  ::GetSystemTime(&after);

  // Two runs in one second share one file, the second appending; otherwise each has its own.
  const std::vector<std::wstring> files = FilesIn(LogFolder(), L"*_" + name + L".log");
  ASSERT_FALSE(files.empty());
  ASSERT_LE(files.size(), 2u);
  std::vector<std::string> lines;
  for (const std::wstring& file : files) {
    EXPECT_TRUE(std::regex_match(file, std::wregex(L"\\d{14}_" + name + L"\\.log")));
    EXPECT_GE(file.substr(0, 14), FileStamp(before));
    EXPECT_LE(file.substr(0, 14), FileStamp(after));
    const std::vector<std::string> fileLines = ReadLines(LogFolder() + file);
    lines.insert(lines.end(), fileLines.begin(), fileLines.end());
    ::DeleteFileW((LogFolder() + file).c_str());
  }
  ASSERT_EQ(lines.size(), 4u);
  for (size_t run = 0; run < 2; ++run) {
    EXPECT_EQ(AfterStamp(lines[2 * run]).substr(0, 10), "AUD: VLRN:");
    EXPECT_EQ(MessageOf(lines[2 * run]), "STARTING LOG");
    EXPECT_EQ(AfterStamp(lines[2 * run + 1]).substr(0, 10), "INF: VLRN:");
    EXPECT_EQ(MessageOf(lines[2 * run + 1]), "after the restart");
  }
}

TEST(LogProcess, AProductLogHeldByAnotherProcessGetsAFileOfItsOwnBesideIt) {
  // Another updater of the product holds the files of this second and the
  // next two, as one started in the same second would.
  const std::wstring name = UniqueName(L"LogHeld");
  SYSTEMTIME now{};
  ::GetSystemTime(&now);
  std::vector<std::wstring> heldPaths;
  std::vector<win::UniqueFile> held;
  for (int second = 0; second < 3; ++second) {
    FILETIME file{};
    ::SystemTimeToFileTime(&now, &file);
    ULARGE_INTEGER ticks{};
    ticks.LowPart = file.dwLowDateTime;
    ticks.HighPart = file.dwHighDateTime;
    ticks.QuadPart += static_cast<ULONGLONG>(second) * 10000000;
    file.dwLowDateTime = ticks.LowPart;
    file.dwHighDateTime = ticks.HighPart;
    SYSTEMTIME later{};
    ::FileTimeToSystemTime(&file, &later);
    heldPaths.push_back(LogFolder() + FileStamp(later) + L"_" + name + L".log");
    held.emplace_back(::CreateFileW(heldPaths.back().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.back().valid());
  }

  ChildProcess child(WriterPath(), L"start " + name);
  ASSERT_TRUE(child.started());
  ASSERT_EQ(child.Wait(kChildTimeoutMs), 0u);
  held.clear();

  const std::vector<std::wstring> own = FilesIn(LogFolder(), L"*_" + name + L"_*.log");
  ASSERT_EQ(own.size(), 1u);
  EXPECT_TRUE(
      std::regex_match(own[0], std::wregex(L"\\d{14}_" + name + L"_" + std::to_wstring(child.pid()) + L"\\.log")))
      << std::string(own[0].begin(), own[0].end());
  const std::vector<std::string> lines = ReadLines(LogFolder() + own[0]);
  ::DeleteFileW((LogFolder() + own[0]).c_str());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(MessageOf(lines[0]), "STARTING LOG");
  EXPECT_EQ(MessageOf(lines[1]), "after the restart");
  for (const std::wstring& path : heldPaths) {
    EXPECT_TRUE(ReadBytes(path).empty());
    ::DeleteFileW(path.c_str());
  }
}

TEST(LogProcess, StartWithoutATemporaryFolderWritesToTheCurrentFolder) {
  // A temporary-folder path beyond 260 characters makes the vendor folder
  // lookup fail and log that failure while the log is being started.
  ScratchFolder folder;
  const std::wstring name = UniqueName(L"NoTemp");
  const std::wstring overlong = L"C:\\" + std::wstring(300, L't');
  wchar_t formerFolder[MAX_PATH + 1] = {};
  ::GetCurrentDirectoryW(MAX_PATH + 1, formerFolder);
  ASSERT_TRUE(::SetCurrentDirectoryW(folder.path().c_str()));
  const std::wstring formerTmp = Environment(L"TMP");
  const std::wstring formerTemp = Environment(L"TEMP");
  ::SetEnvironmentVariableW(L"TMP", overlong.c_str());
  ::SetEnvironmentVariableW(L"TEMP", overlong.c_str());
  ChildProcess child(WriterPath(), L"start " + name);
  ::SetEnvironmentVariableW(L"TMP", formerTmp.empty() ? nullptr : formerTmp.c_str());
  ::SetEnvironmentVariableW(L"TEMP", formerTemp.empty() ? nullptr : formerTemp.c_str());
  ::SetCurrentDirectoryW(formerFolder);
  ASSERT_TRUE(child.started());
  ASSERT_EQ(child.Wait(kChildTimeoutMs), 0u);

  const std::vector<std::wstring> productFiles = FilesIn(folder.path(), L"*_" + name + L".log");
  ASSERT_EQ(productFiles.size(), 1u);
  const std::vector<std::string> lines = ReadLines(folder.path() + productFiles[0]);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(MessageOf(lines[0]), "STARTING LOG");
  EXPECT_EQ(MessageOf(lines[1]), "after the restart");
  const std::vector<std::wstring> defaultFiles = FilesIn(folder.path(), L"*_VLRenova.log");
  ASSERT_EQ(defaultFiles.size(), 1u);
  EXPECT_EQ(MessageOf(ReadLines(folder.path() + defaultFiles[0]).back()), "before the restart");
}

TEST(LogProcess, ProcessLogServesStaticObjectsFromBuildToDestruction) {
  ScratchFolder folder;
  const std::wstring path = folder.path() + L"static.log";
  ASSERT_TRUE(::SetEnvironmentVariableW(L"VLRN_LOG_WRITER_FILE", path.c_str()));
  ChildProcess child(WriterPath(), L"static");
  ::SetEnvironmentVariableW(L"VLRN_LOG_WRITER_FILE", nullptr);
  ASSERT_TRUE(child.started());
  ASSERT_EQ(child.Wait(kChildTimeoutMs), 0u);
  const std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(MessageOf(lines[0]), "logged while static objects are built");
  EXPECT_EQ(MessageOf(lines[1]), "logged while static objects are destroyed");
}

TEST(LogProcess, MissingStringResourceShowsTheInternalErrorBox) {
  ChildProcess child(WriterPath(), L"badresource");
  ASSERT_TRUE(child.started());
  const auto box = testing_support::FindMessageBox(child.pid(), kChildTimeoutMs);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->caption, L"INTERNAL ERROR");
  EXPECT_EQ(box->text, L"MAKESTRRESOURCE called with wrong ID: 4242");
  EXPECT_TRUE(testing_support::AnswerMessageBox(*box, IDOK));
  EXPECT_EQ(child.Wait(kChildTimeoutMs), 0u);
}
