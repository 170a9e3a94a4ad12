// Setting a log up from the registry, the event-log registration, the
// diagnostics block and messages from string resources.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../fixtures/log_writer.h"
#include "log/clog.h"
#include "log/log_reader.h"
#include "log_test_files.h"
#include "support/child_process.h"
#include "support/log_capture.h"
#include "support/scratch.h"
#include "system/registry.h"

using log_testing::ReadLines;

namespace {

std::string MessageOf(const std::string& line) {
  const size_t end = line.find("] ");
  return end == std::string::npos ? std::string() : line.substr(end + 2);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// The captured lines as bytes, for comparing with narrow texts.
std::vector<std::string> NarrowLines(const testing_support::LogCapture& capture) {
  std::vector<std::string> lines;
  for (const std::wstring& line : capture.Lines()) lines.push_back(Narrow(line));
  return lines;
}

void SetDword(const testing_support::ScratchRegKey& key, const wchar_t* name, DWORD value) {
  ASSERT_TRUE(WriteRegDword(key.root(), key.path(), name, value));
}

}  // namespace

TEST(LogSetup, RegistryConfiguresAPlainTextLog) {
  testing_support::ScratchFolder folder;
  testing_support::ScratchRegKey key;
  SetDword(key, L"__LogLevel__", 6);
  SetDword(key, L"__LogToFile__", 1);
  SetDword(key, L"__LogNoEncrypt_@@__", kLogNoEncryptMagic);
  SetDword(key, L"__NoFlush__", 1);
  ASSERT_TRUE(WriteRegString(key.root(), key.path(), L"__LogFile__", folder.path() + L"cfg_%P.log"));

  CLog log;
  ASSERT_EQ(log.ConfigureFromRegistry(nullptr, key.root(), key.path().c_str(), 0), S_OK);
  EXPECT_EQ(log.Threshold(), 6);
  const std::wstring path = log.FilePath(kLogTextChannel);
  EXPECT_EQ(path, folder.path() + L"cfg_" + std::to_wstring(::GetCurrentProcessId()) + L".log");
  const std::vector<std::string> lines = ReadLines(path);
  ASSERT_GE(lines.size(), 10u);
  EXPECT_EQ(lines[0].substr(24, 10), "AUD: LOGD:");
  EXPECT_EQ(MessageOf(lines[0]), "-> (diag_level=0x1, log_level=0x5, current_log_level=0x6)");
  const std::string exeLine = "module_path_exe='" + Narrow(testing_support::BinFolder()) + "log_tests.exe'";
  bool sawExe = false;
  bool sawVersion = false;
  for (const std::string& line : lines) {
    sawExe = sawExe || MessageOf(line) == exeLine;
    sawVersion = sawVersion || MessageOf(line).rfind("fver=", 0) == 0;
  }
  EXPECT_TRUE(sawExe);
  EXPECT_TRUE(sawVersion);
  EXPECT_EQ(MessageOf(lines.back()), "<- OK");

  EXPECT_EQ(log.ConfigureFromRegistry(nullptr, nullptr, key.path().c_str(), 0), E_INVALIDARG);
  EXPECT_EQ(log.ConfigureFromRegistry(nullptr, key.root(), L"", 0), E_INVALIDARG);
}

TEST(LogSetup, RegistryConfiguresAScrambledRecordFile) {
  testing_support::ScratchFolder folder;
  testing_support::ScratchRegKey key;
  const std::wstring path = folder.path() + L"cfg.rec";
  SetDword(key, L"__LogLevel__", 5);
  SetDword(key, L"__LogToFile__", 1);
  SetDword(key, L"__LogNoEncrypt_@@__", 1);  // anything but the magic number scrambles
  ASSERT_TRUE(WriteRegString(key.root(), key.path(), L"__LogFile__", path));

  for (const uint8_t rotation : {uint8_t{0}, uint8_t{6}}) {
    SCOPED_TRACE(rotation);
    ::DeleteFileW(path.c_str());
    {
      CLog log;
      ASSERT_EQ(log.ConfigureFromRegistry(nullptr, key.root(), key.path().c_str(), rotation), S_OK);
      EXPECT_FALSE(log.IsFileOpen(kLogTextChannel));
      EXPECT_TRUE(log.IsFileOpen(kLogRecordChannel));
    }
    LogReaderPtr reader;
    ASSERT_EQ(OpenLogReader(path.c_str(), true, rotation != 0 ? rotation : kLogDefaultRotation, reader), S_OK);
    std::vector<LogEntry> entries;
    size_t read = 0;
    uint64_t skipped = 0;
    ASSERT_EQ(ReadLogRecords(*reader, 1, read, &entries, 0, skipped), S_OK);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].source, L"LOGD");
    EXPECT_EQ(MessageOf(Narrow(entries[0].message)), "-> (diag_level=0x1, log_level=0x5, current_log_level=0x5)");
  }
}

TEST(LogSetup, MissingRegistryKeyLeavesAQuietLog) {
  testing_support::ScratchRegKey key;
  CLog log;
  testing_support::LogCapture capture(log);
  ASSERT_EQ(log.ConfigureFromRegistry(nullptr, key.root(), (key.path() + L"\\missing").c_str(), 0), S_OK);
  EXPECT_EQ(log.Threshold(), 0);
  EXPECT_FALSE(log.IsFileOpen(kLogTextChannel));
  EXPECT_FALSE(log.IsFileOpen(kLogRecordChannel));
  EXPECT_TRUE(NarrowLines(capture).empty());  // the diagnostics' level does not pass threshold 0

  // A diagnostics level that does not pass gives the header and "<- NTD" alone.
  log.SetThreshold(kLogLevelAudit);
  log.WriteDiagnostics(nullptr, 2, 8);
  ASSERT_EQ(NarrowLines(capture).size(), 2u);
  EXPECT_EQ(MessageOf(NarrowLines(capture)[0]), "-> (diag_level=0x2, log_level=0x8, current_log_level=0x5)");
  EXPECT_EQ(MessageOf(NarrowLines(capture)[1]), "<- NTD");
}

TEST(LogSetup, EventSourceRegistrationWritesTheMachineKey) {
  const std::wstring source = testing_support::UniqueName(L"VLRNTest").substr(0, 40);
  const std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + source;
  const std::wstring messageFile = L"C:\\Program Files\\Velbor\\messages.dll";
  BYTE sid[SECURITY_MAX_SID_SIZE] = {};
  DWORD sidSize = sizeof(sid);
  ASSERT_TRUE(::CreateWellKnownSid(WinWorldSid, nullptr, sid, &sidSize));

  CLog log;
  testing_support::LogCapture capture(log);
  ASSERT_EQ(log.Init(source.c_str(), false, kLogLevelAlways, true), S_OK);
  EXPECT_TRUE(log.InitEventSource(true, messageFile.c_str(), source.c_str(), sidSize, sid));
  EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key, L"EventMessageFile"), messageFile);
  EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, key, L"TypesSupported"), 7u);
  log.Write(kLogLevelError, 0x20, L"EVT", 0, 2, L"reported", L"too");
  ASSERT_EQ(NarrowLines(capture).size(), 1u);
  EXPECT_EQ(MessageOf(NarrowLines(capture)[0]), "reported | too(EVENT 0x20)");
  ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_64KEY, 0);

  // A SID block shorter than the SID it starts is not copied; a path too long to register is refused.
  EXPECT_TRUE(log.InitEventSource(true, nullptr, source.c_str(), 6, sid));
  EXPECT_FALSE(log.InitEventSource(true, std::wstring(261, L'm').c_str(), source.c_str(), 0, nullptr));
}

namespace {

HANDLE WINAPI RefuseRegistration(LPCWSTR, LPCWSTR) {
  ::SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
}

}  // namespace

TEST(LogSetup, RefusedRegistrationIsLoggedAndSwitchesTheEventLogOff) {
  // Seam: Wine registers every event source, so the refusal is simulated.
  CLog log;
  log.RegisterEventLogSource = &RefuseRegistration;
  testing_support::LogCapture capture(log);
  const HRESULT result = log.Init(L"VLRNTestRefused", true, kLogLevelAlways, true);
  log.Print(kLogLevelInfo, L"VLRN", L"still logging");

  EXPECT_EQ(result, E_FAIL);
  ASSERT_EQ(NarrowLines(capture).size(), 2u);
  EXPECT_EQ(NarrowLines(capture)[0].substr(24, 10), "AUD: CLOG:");
  EXPECT_EQ(MessageOf(NarrowLines(capture)[0]), "RegisterEventSource() failed (5)");
  EXPECT_EQ(MessageOf(NarrowLines(capture)[1]), "still logging");
  EXPECT_EQ(log.Init(L"VLRNTestRefused", false, kLogLevelAlways, true), S_OK);
}

TEST(LogSetup, StringResourcesAreFormattedWithCheckedInserts) {
  win::UniqueLibrary module(::LoadLibraryExW((testing_support::BinFolder() + L"log_writer.exe").c_str(), nullptr,
                                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(module);
  CLog log;
  ASSERT_EQ(log.Init(L"TEST", false, kLogLevelInfo, false), S_OK);
  log.SetResourceModule(module.get());
  testing_support::LogCapture capture(log);
  log.PrintResource(kLogLevelInfo, L"RES", IDS_LOG_WRITER_COPIED, L"a.txt", L"C:\\b", 1234);
  log.PrintResource(kLogLevelInfo, L"RES", IDS_LOG_WRITER_PLAIN);
  log.PrintResource(kLogLevelInfo, L"RES", IDS_LOG_WRITER_NUMBER, -7);
  // Arguments that don't fit the inserts leave the text as it stands.
  log.PrintResource(kLogLevelInfo, L"RES", IDS_LOG_WRITER_COPIED, 5, L"x", L"y");
  log.PrintResource(kLogLevelInfo, L"RES", IDS_LOG_WRITER_COPIED, L"only one");
  log.PrintResource(kLogLevelDebug1, L"RES", 4242);  // filtered before the lookup: no box

  ASSERT_EQ(NarrowLines(capture).size(), 5u);
  EXPECT_EQ(NarrowLines(capture)[0].substr(24), "INF: RES:Copied a.txt to C:\\b (1234 bytes)");
  EXPECT_EQ(NarrowLines(capture)[1].substr(24), "INF: RES:Plain text, 100% sure");
  EXPECT_EQ(NarrowLines(capture)[2].substr(24), "INF: RES:Code -7");
  EXPECT_EQ(NarrowLines(capture)[3].substr(24), "INF: RES:Copied %1 to %2!s! (%3!d! bytes)");
  EXPECT_EQ(NarrowLines(capture)[4].substr(24), "INF: RES:Copied %1 to %2!s! (%3!d! bytes)");
}
