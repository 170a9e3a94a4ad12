#include "system/process_control.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "support/child_process.h"
#include "support/log_capture.h"
#include "support/message_box.h"
#include "support/scratch.h"
#include "win/strings.h"
#include "win/unique_handle.h"

namespace {

using testing_support::AnswerMessageBox;
using testing_support::BinFolder;
using testing_support::ChildProcess;
using testing_support::FindMessageBox;
using testing_support::LogCapture;
using testing_support::ScratchFolder;
using testing_support::UniqueName;

constexpr DWORD kChildTimeoutMs = 10000;
constexpr wchar_t kSleepLong[] = L"--sleep-ms 120000";  // far longer than any test

class Stopwatch {
 public:
  long long ElapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// A copy of the probe under an image name no other test uses, so that no test
// ever matches another one's processes.
std::wstring CopyProbe(const ScratchFolder& scratch, const std::wstring& prefix) {
  const std::wstring path = scratch.path() + UniqueName(prefix) + L".exe";
  EXPECT_TRUE(::CopyFileW((BinFolder() + L"process_probe.exe").c_str(), path.c_str(), TRUE)) << ::GetLastError();
  return path;
}

std::wstring ImageName(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

// The command line a probe recorded, once it has written it.
std::wstring RecordedCommandLine(const std::wstring& probePath, DWORD timeoutMs = kChildTimeoutMs) {
  const std::filesystem::path record(probePath + L".cmdline");
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (!std::filesystem::exists(record) && ::GetTickCount64() < deadline) ::Sleep(20);
  ::Sleep(50);  // the probe writes it in one call; let that finish
  std::ifstream file(record, std::ios::binary);
  return win::FromUtf8(std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
}

int CountProcessesNamed(const std::wstring& imageName) {
  int count = 0;
  win::UniqueSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    count += ::_wcsicmp(entry.szExeFile, imageName.c_str()) == 0 ? 1 : 0;
  }
  return count;
}

bool WaitForProcessCount(const std::wstring& imageName, int count) {
  const ULONGLONG deadline = ::GetTickCount64() + kChildTimeoutMs;
  while (CountProcessesNamed(imageName) != count) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(20);
  }
  return true;
}

// Ends the test's own leftovers by image name (the code under test is not used for this).
int EndProcessesNamed(const std::wstring& imageName) {
  int ended = 0;
  win::UniqueSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::_wcsicmp(entry.szExeFile, imageName.c_str()) != 0) continue;
    win::UniqueProcess process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (process && ::TerminateProcess(process.get(), 0xDEAD)) {
      ::WaitForSingleObject(process.get(), kChildTimeoutMs);
      ++ended;
    }
  }
  return ended;
}

// --- StopProcess -------------------------------------------------------------------

TEST(StopProcess, EndsEveryProcessOfTheNameWithAPauseAfterEach) {
  ScratchFolder scratch;
  const std::wstring probe = CopyProbe(scratch, L"Twin");
  ChildProcess first(probe, kSleepLong);
  ChildProcess second(probe, kSleepLong);
  ASSERT_TRUE(first.started() && second.started());
  ASSERT_TRUE(WaitForProcessCount(ImageName(probe), 2));

  LogCapture log;
  const Stopwatch watch;
  EXPECT_TRUE(StopProcess(ImageName(probe), 0, 0));
  // 5 s after each terminated process; a little slack for the clock's granularity.
  EXPECT_GE(watch.ElapsedMs(), 9990);

  // Exit code 0 is StopProcess's; the test's own clean-up would leave 0xDEAD.
  EXPECT_EQ(first.Wait(kChildTimeoutMs), 0u);
  EXPECT_EQ(second.Wait(kChildTimeoutMs), 0u);
  EXPECT_EQ(log.CountAt(L"INF", L"Try to stop process: " + ImageName(probe)), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L"terminate process: " + ImageName(probe)), 2u);
  EXPECT_EQ(log.CountAt(L"INF", L"Process not found"), 1u);
  EXPECT_EQ(log.Count(L": 1 Try"), 0u);  // no repeated listing
  EXPECT_EQ(log.CountAt(L"ERR", L""), 0u);
}

TEST(StopProcess, AProcessIdStopsOnlyThatProcess) {
  ScratchFolder scratch;
  const std::wstring probe = CopyProbe(scratch, L"Namesake");
  ChildProcess survivor(probe, kSleepLong);
  ChildProcess target(probe, kSleepLong);
  ASSERT_TRUE(survivor.started() && target.started());
  ASSERT_TRUE(WaitForProcessCount(ImageName(probe), 2));

  LogCapture log;
  EXPECT_TRUE(StopProcess(ImageName(probe), target.pid(), 0));
  EXPECT_EQ(target.Wait(kChildTimeoutMs), 0u);
  EXPECT_TRUE(survivor.Running());
  EXPECT_EQ(log.CountAt(L"INF", L"terminate process: "), 1u);
}

TEST(StopProcess, TheImageNameMatchesInAnyCase) {
  ScratchFolder scratch;
  const std::wstring probe = CopyProbe(scratch, L"Tool");
  ChildProcess child(probe, kSleepLong);
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(WaitForProcessCount(ImageName(probe), 1));
  // Tool-....exe on disk, asked for as tool-....EXE.
  std::wstring otherCase = ImageName(probe);
  otherCase.replace(0, 4, L"tool");
  otherCase.replace(otherCase.size() - 4, 4, L".EXE");

  LogCapture log;
  EXPECT_TRUE(StopProcess(otherCase, 0, 0));
  EXPECT_EQ(child.Wait(kChildTimeoutMs), 0u);
  EXPECT_EQ(log.CountAt(L"INF", L"terminate process: " + otherCase), 1u);
}

TEST(StopProcess, NoRunningProcessIsNotFoundOnceAndReturnsAtOnce) {
  LogCapture log;
  const Stopwatch watch;
  EXPECT_TRUE(StopProcess(UniqueName(L"NeverStarted") + L".exe", 0, 0));
  EXPECT_LT(watch.ElapsedMs(), 4000);  // no pause: nothing was terminated
  EXPECT_EQ(log.CountAt(L"INF", L"Process not found"), 1u);
  EXPECT_EQ(log.Count(L"terminate process"), 0u);
}

// --- StartProcess ------------------------------------------------------------------

TEST(StartProcess, WithoutAFileTheArgumentsAreTheCommandLineUnchanged) {
  ScratchFolder scratch;
  const std::wstring probe = CopyProbe(scratch, L"Whole");
  // Unquoted program and doubled blanks: nothing may be added, quoted or collapsed.
  const std::wstring commandLine = probe + L"  --exit  7";

  LogCapture log;
  DWORD exitCode = 99;
  EXPECT_EQ(StartProcess(L"", commandLine, true, exitCode, false), 0u);
  EXPECT_EQ(exitCode, 7u);
  EXPECT_EQ(RecordedCommandLine(probe), commandLine);
  EXPECT_EQ(log.CountAt(L"INF", L"Try start application  per CreateProcess with commandline: " + commandLine), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L"CreateProcess successful"), 1u);
}

TEST(StartProcess, WithAFileTheCommandLineIsTheQuotedFileASpaceAndTheArguments) {
  ScratchFolder scratch;
  const std::wstring bare = CopyProbe(scratch, L"Bare");
  const std::wstring withArguments = CopyProbe(scratch, L"Args");
  DWORD exitCode = 99;

  LogCapture log;
  EXPECT_EQ(StartProcess(bare, L"", true, exitCode, false), 0u);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(RecordedCommandLine(bare), L"\"" + bare + L"\" ");
  EXPECT_EQ(log.CountAt(L"INF",
                        L"Try start application " + bare + L" per CreateProcess with commandline: \"" + bare + L"\" "),
            1u);

  EXPECT_EQ(StartProcess(withArguments, L"--exit 5", true, exitCode, false), 0u);
  EXPECT_EQ(exitCode, 5u);
  EXPECT_EQ(RecordedCommandLine(withArguments), L"\"" + withArguments + L"\" --exit 5");
}

TEST(StartProcess, WaitEndsWithTheProgramAndGivesItsFullExitCode) {
  ScratchFolder scratch;
  const std::wstring probe = CopyProbe(scratch, L"Waited");
  DWORD exitCode = 0;
  const Stopwatch watch;
  EXPECT_EQ(StartProcess(probe, L"--sleep-ms 1500 --exit 300", true, exitCode, false), 0u);
  EXPECT_GE(watch.ElapsedMs(), 1490);
  EXPECT_EQ(exitCode, 300u);  // more than the 8 bits Wine's own exit status keeps
  EXPECT_EQ(EndProcessesNamed(ImageName(probe)), 0);
}

TEST(StartProcess, WithoutWaitItReturnsWhileTheProgramRuns) {
  ScratchFolder scratch;
  const std::wstring probe = CopyProbe(scratch, L"Unwaited");
  DWORD exitCode = 99;
  const Stopwatch watch;
  EXPECT_EQ(StartProcess(probe, kSleepLong, false, exitCode, false), 0u);
  EXPECT_LT(watch.ElapsedMs(), 10000);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_FALSE(RecordedCommandLine(probe).empty());
  EXPECT_EQ(EndProcessesNamed(ImageName(probe)), 1);  // it was still running
}

TEST(StartProcess, AMissingProgramGivesTheSystemsErrorCode) {
  ScratchFolder scratch;
  const std::wstring missing = scratch.path() + L"missing.exe";
  DWORD exitCode = 99;

  LogCapture log;
  EXPECT_EQ(StartProcess(missing, L"--exit 1", true, exitCode, false), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(log.CountAt(L"ERR", L"StartProcess for " + missing + L" failed because: \""), 1u);
  EXPECT_EQ(log.CountAt(L"ERR", L"(2)\""), 1u);
  EXPECT_EQ(log.Count(L"CreateProcess successful"), 0u);

  // The same through a bare command line; the message names the empty file.
  EXPECT_EQ(StartProcess(L"", L"\"" + missing + L"\" --exit 1", true, exitCode, false),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(log.CountAt(L"ERR", L"StartProcess for  failed because: \""), 1u);
}

// Wine answers "runas" like "open", without a prompt; what is left to test is the
// shell path itself.
TEST(StartProcess, ElevatedGoesThroughTheShellWithTheArgumentsAsParameters) {
  ScratchFolder scratch;
  const std::wstring waited = CopyProbe(scratch, L"Shell");
  const std::wstring unwaited = CopyProbe(scratch, L"ShellNoWait");
  DWORD exitCode = 99;

  LogCapture log;
  const Stopwatch watch;
  EXPECT_EQ(StartProcess(waited, L"--sleep-ms 1000 --exit 300", true, exitCode, true), 0u);
  EXPECT_GE(watch.ElapsedMs(), 990);
  EXPECT_EQ(exitCode, 300u);
  const std::wstring recorded = RecordedCommandLine(waited);
  EXPECT_NE(recorded.find(ImageName(waited)), std::wstring::npos) << recorded;
  EXPECT_NE(recorded.find(L" --sleep-ms 1000 --exit 300"), std::wstring::npos) << recorded;
  EXPECT_EQ(log.CountAt(L"INF", L"Try start application " + waited +
                                    L" per UseShellExecute with commandline: --sleep-ms 1000 --exit 300"),
            1u);
  EXPECT_EQ(log.CountAt(L"INF", L"ShellExecuteEx successful"), 1u);
  EXPECT_EQ(log.Count(L"per CreateProcess"), 0u);

  EXPECT_EQ(StartProcess(unwaited, kSleepLong, false, exitCode, true), 0u);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_FALSE(RecordedCommandLine(unwaited).empty());
  EXPECT_EQ(EndProcessesNamed(ImageName(unwaited)), 1);
}

// The shell must not show an error box of its own for a program it can't find (a
// quiet session has nobody to answer it; this test answers any that appears and
// counts it) and, under Wine, leaves no last error: the code still has to say what failed.
TEST(StartProcess, ElevatedAMissingProgramGivesTheSystemsErrorCodeWithoutABox) {
  ScratchFolder scratch;
  const std::wstring missing = scratch.path() + L"missing.exe";
  std::atomic<bool> done{false};
  std::atomic<int> boxes{0};
  std::thread answerer([&done, &boxes] {
    while (!done) {
      if (const auto box = FindMessageBox(::GetCurrentProcessId(), 100)) {
        ++boxes;
        AnswerMessageBox(*box, IDOK);
      }
    }
  });
  DWORD exitCode = 99;

  LogCapture log;
  const DWORD result = StartProcess(missing, L"--exit 1", true, exitCode, true);
  done = true;
  answerer.join();
  EXPECT_EQ(result, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(log.CountAt(L"ERR", L"StartProcess for " + missing + L" failed because: \""), 1u);
  EXPECT_EQ(log.CountAt(L"ERR", L"(2)\""), 1u);
  EXPECT_EQ(log.Count(L"ShellExecuteEx successful"), 0u);
  EXPECT_EQ(boxes, 0);
}

}  // namespace
