// Status reports: both documents byte for byte, their threads against the
// reference service (together, and with nobody listening), and processes that
// end while their reports are still on the way.

#include "protocol/update_status_report.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "product/program_infos_store.h"
#include "product/settings.h"
#include "protocol/narrow_for_xml.h"
#include "support/child_process.h"
#include "support/log_capture.h"
#include "support/scratch.h"
#include "support/update_server.h"
#include "system/file_system.h"
#include "system/mac_address.h"
#include "system/machine_guid.h"
#include "system/registry.h"
#include "win/unique_handle.h"

namespace {

using namespace testing_support;

constexpr DWORD kArrivalLimitMs = 30000;

std::string Print(const tinyxml2::XMLDocument& document) {
  tinyxml2::XMLPrinter printer;
  document.Accept(&printer);
  return printer.CStr();
}

// Polls until done() or the limit; done()'s last answer.
bool WaitFor(const std::function<bool()>& done, DWORD limitMs = kArrivalLimitMs) {
  const ULONGLONG deadline = ::GetTickCount64() + limitMs;
  while (!done()) {
    if (::GetTickCount64() >= deadline) return done();
    ::Sleep(20);
  }
  return true;
}

// Version, MAC and MachineGuid as both documents must begin, from the same sources.
std::string UpdaterAndMachine() {
  std::string xml = "    <Version>9.4.10</Version>\n";
  std::wstring mac;
  xml += GetMacAddress(mac) ? "    <MAC>" + NarrowForXml(mac) + "</MAC>\n" : "    <MAC/>\n";
  std::wstring guid;
  xml += GetMachineGuid(guid) ? "    <MachineGuid>" + NarrowForXml(guid) + "</MachineGuid>\n" : "    <MachineGuid/>\n";
  return xml;
}

// An empty value stands for an empty element.
std::string Element(const char* name, const std::string& value) {
  const std::string tag(name);
  return value.empty() ? "    <" + tag + "/>\n" : "    <" + tag + ">" + value + "</" + tag + ">\n";
}

std::string ExpectedUpdateStatus(const char* isStub, const char* status, const char* updateId) {
  return "<UpdateStatus>\n" + UpdaterAndMachine() + Element("IsStub", isStub) + Element("Status", status) +
         Element("UpdateId", updateId) + "</UpdateStatus>\n";
}

std::string ExpectedUpgradeOfferStatus(const std::string& name, const std::string& version, const char* major,
                                       const char* status) {
  return "<UpgradeOfferStatus>\n" + UpdaterAndMachine() + Element("ProgramName", name) +
         Element("ProgramVersionNumber", version) + Element("MajorVersion", major) + Element("Status", status) +
         "</UpgradeOfferStatus>\n";
}

// A product of this test process's own, published as the process-wide record;
// its settings key, where "DebugUrl_v2" says where reports go, is removed afterwards.
class StatusReportTest : public testing_support::UpdateServerTest {
 protected:
  void SetUp() override {
    UpdateServerTest::SetUp();
    if (HasFatalFailure()) return;
    Publish(0);
  }

  void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, settingsKey_.c_str()); }

  void Publish(int32_t isStubExe) {
    ProgramInfos working;
    working.ProgramName = L"Status Report Test " + scope_;
    SetDisplayName(working, working.ProgramName);
    working.ProgramVersion = L"1.0.0";
    working.InstalledLocation = folder_.path();
    working.Language = 1033;
    working.IsStubExe = isStubExe;
    ASSERT_TRUE(CompleteProgramInfos(working));
    ASSERT_EQ(GetProgramInfos().IsStubExe, isStubExe);
    settingsKey_ = GetProductSettingsKey(GetProgramInfos());
  }

  void UseBase(const std::wstring& base) {
    ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, settingsKey_, L"DebugUrl_v2", base));
  }

  // The record of the scope that a call of method made, or nothing.
  std::optional<int> RecordOf(const std::wstring& scope, const char* method) const {
    const int count = RecordCount(ports_.main, scope);
    for (int i = 0; i < count; ++i) {
      if (RecordField(ports_.main, scope, i, "method") == method) return i;
    }
    return std::nullopt;
  }

  ScratchFolder folder_;
  std::wstring settingsKey_;
};

TEST_F(StatusReportTest, UpdateStatusIsBuiltByteForByteWithAnEmptyIdForNone) {
  LogCapture log;
  tinyxml2::XMLDocument started;
  CreateUpdateStatusXml(UpdateStatusReport{-1, 0}, started);
  EXPECT_EQ(Print(started), ExpectedUpdateStatus("0", "-1", ""));

  const std::vector<std::wstring> lines = log.Lines();
  const std::vector<std::wstring> expected = {L"CreateUpdateStatusXml start",
                                              L"start to build UpdateStatus.xml",
                                              L"Version: 9.4.10",
                                              L"IsStub = false",
                                              L"Status: -1",
                                              L"UpdateId == 0",
                                              L"CreateUpdateStatusXml end"};
  for (const std::wstring& text : expected) EXPECT_EQ(log.CountAt(L"INF", text), 1u) << text;
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.front().ends_with(L"CreateUpdateStatusXml start")) << lines.front();
  EXPECT_TRUE(lines.back().ends_with(L"CreateUpdateStatusXml end")) << lines.back();

  LogCapture second;
  tinyxml2::XMLDocument failed;
  CreateUpdateStatusXml(UpdateStatusReport{9, 4711}, failed);
  EXPECT_EQ(Print(failed), ExpectedUpdateStatus("0", "9", "4711"));
  EXPECT_EQ(second.CountAt(L"INF", L"Status: 9"), 1u);
  EXPECT_EQ(second.CountAt(L"INF", L"UpdateId: 4711"), 1u);
  EXPECT_EQ(second.Count(L"UpdateId == 0"), 0u);
}

TEST_F(StatusReportTest, InstallationModeIsSentAsIsStubOne) {
  Publish(1);
  LogCapture log;
  tinyxml2::XMLDocument document;
  CreateUpdateStatusXml(UpdateStatusReport{0, 12}, document);
  EXPECT_EQ(Print(document), ExpectedUpdateStatus("1", "0", "12"));
  EXPECT_EQ(log.CountAt(L"INF", L"IsStub = true"), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L"Status: 0"), 1u);
}

TEST_F(StatusReportTest, UpgradeOfferStatusIsBuiltByteForByteWithTheSameFirstLine) {
  LogCapture log;
  tinyxml2::XMLDocument later;
  CreateUpgradeOfferStatusXml(UpgradeOfferStatusReport{3, L"B\u00e4ckerei Pro", L"2.0.1", 0}, later);
  EXPECT_EQ(Print(later), ExpectedUpgradeOfferStatus("B\xe4"
                                                     "ckerei Pro",
                                                     "2.0.1", "", "3"));

  const std::vector<std::wstring> lines = log.Lines();
  const std::vector<std::wstring> expected = {L"CreateUpdateStatusXml start",
                                              L"start to build UpgradeOfferStatus.xml",
                                              L"Version: 9.4.10",
                                              L"ProgramName: B\u00e4ckerei Pro",
                                              L"ProgramVersionNumber: 2.0.1",
                                              L"MajorVersion == 0",
                                              L"Status: 3",
                                              L"CreateUpdateStatusXml end"};
  for (const std::wstring& text : expected) EXPECT_EQ(log.CountAt(L"INF", text), 1u) << text;
  EXPECT_EQ(log.Count(L"IsStub"), 0u);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.front().ends_with(L"CreateUpdateStatusXml start")) << lines.front();

  // A name beyond Latin-1 goes whole through the safe-ASCII rule.
  const std::wstring greek = L"\u03a9mega Suite";
  LogCapture second;
  tinyxml2::XMLDocument never;
  CreateUpgradeOfferStatusXml(UpgradeOfferStatusReport{1, greek, L"7.5", 8}, never);
  EXPECT_EQ(Print(never), ExpectedUpgradeOfferStatus(NarrowForXml(greek), "7.5", "8", "1"));
  EXPECT_EQ(second.CountAt(L"INF", L"MajorVersion: 8"), 1u);
  EXPECT_EQ(second.CountAt(L"INF", L"Status: 1"), 1u);
}

TEST_F(StatusReportTest, TwoReportsStartedTogetherBothReachTheServerWithoutBeingWaitedFor) {
  // The service holds each answer back; starting must not wait for it.
  UseBase(ServiceBaseUrl(L"https", ports_.main, scope_, L"delay=3"));
  LogCapture log;
  const ULONGLONG before = ::GetTickCount64();
  ASSERT_TRUE(StartUpdateStatusReport(-1, 77));
  ASSERT_TRUE(StartUpgradeOfferStatusReport(2, L"Offer Product", L"3.1.4", 4));
  EXPECT_LT(::GetTickCount64() - before, 2000u);

  ASSERT_TRUE(WaitFor([&] { return RecordCount(ports_.main, scope_) >= 2; }));
  EXPECT_EQ(RecordCount(ports_.main, scope_), 2);
  const auto status = RecordOf(scope_, "ReportUpdateStatus");
  const auto offer = RecordOf(scope_, "ReportUpgradeOfferStatus");
  ASSERT_TRUE(status && offer);
  EXPECT_EQ(RecordField(ports_.main, scope_, *status, "argument"), "UpdateStatusXML");
  EXPECT_EQ(RecordField(ports_.main, scope_, *status, "xml"), ExpectedUpdateStatus("0", "-1", "77"));
  EXPECT_EQ(RecordField(ports_.main, scope_, *offer, "argument"), "UpgradeOfferStatusXML");
  EXPECT_EQ(RecordField(ports_.main, scope_, *offer, "xml"),
            ExpectedUpgradeOfferStatus("Offer Product", "3.1.4", "4", "2"));

  // Both threads end by themselves once the answers come.
  EXPECT_TRUE(WaitFor([&] {
    return log.CountAt(L"INF", L"/ReportUpdateStatus result = 0") == 1 &&
           log.CountAt(L"INF", L"/ReportUpgradeOfferStatus result = 0") == 1;
  }));
}

TEST_F(StatusReportTest, ReportToNobodyEndsQuietlyWithItsResultLines) {
  UseBase(L"https://localhost:1/Renova/");
  LogCapture log;
  ASSERT_TRUE(StartUpdateStatusReport(5, 0));
  ASSERT_TRUE(StartUpgradeOfferStatusReport(3, L"Offer Product", L"3.1.4", 0));

  // Refused over https, then once more over http: two result lines each.
  ASSERT_TRUE(WaitFor([&] {
    return log.CountAt(L"ERR", L"/ReportUpdateStatus result = 12029") == 2 &&
           log.CountAt(L"ERR", L"/ReportUpgradeOfferStatus result = 12029") == 2;
  })) << log.Lines().size()
      << " lines";
  EXPECT_EQ(log.CountAt(L"WAR",
                        L"Try to connect without SSL: http://localhost:1/Renova/VLRNWebservice.asmx/"
                        L"ReportUpdateStatus"),
            1u);
  EXPECT_EQ(log.CountAt(L"WAR",
                        L"Try to connect without SSL: http://localhost:1/Renova/VLRNWebservice.asmx/"
                        L"ReportUpgradeOfferStatus"),
            1u);
}

// A process that ends right after starting reports, and while they are posting.
class ReportThenExitTest : public StatusReportTest {
 protected:
  struct Case {
    const wchar_t* mode;
    DWORD code;  // the fixture's own exit code for that mode
  };
  static constexpr Case kReturn{L"return", 41};
  static constexpr Case kExit{L"exit", 42};
  static constexpr Case kWait{L"wait", 43};

  // Runs the fixture for a product of its own whose reports go to base; its
  // exit code, or nothing when it did not end within the limit.
  std::optional<DWORD> Run(const Case& c, const std::wstring& base, DWORD* elapsedMs = nullptr) {
    ProgramInfos product;
    product.ProgramName = L"Report Exit Test " + NewScope();
    lastProduct_ = product.ProgramName;
    const std::wstring key = GetProductSettingsKey(product);
    if (!WriteRegString(HKEY_CURRENT_USER, key, L"DebugUrl_v2", base)) return std::nullopt;
    const ULONGLONG before = ::GetTickCount64();
    ChildProcess child(BinFolder() + L"report_then_exit.exe",
                       L"\"" + product.ProgramName + L"\" \"" + base + L"\" " + c.mode);
    const std::optional<DWORD> code = child.started() ? child.Wait(kArrivalLimitMs) : std::nullopt;
    if (elapsedMs != nullptr) *elapsedMs = static_cast<DWORD>(::GetTickCount64() - before);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    return code;
  }

  void ExpectOwnExitCode(const Case& c, const std::optional<DWORD>& code, int round) {
    ASSERT_TRUE(code) << c.mode << " round " << round << " did not end";
    EXPECT_EQ(*code, c.code) << c.mode << " round " << round << ": 0x" << std::hex << *code;
  }

  // The text of the log file the fixture wrote for product.
  static std::string ProductLog(const std::wstring& product) {
    std::wstring folder;
    if (!GetVendorTempFolder(folder)) return {};
    folder += L"VL Renova\\";
    WIN32_FIND_DATAW found = {};
    const win::UniqueFind search(::FindFirstFileW((folder + L"*_" + product + L".log").c_str(), &found));
    if (!search) return {};
    const win::UniqueFile file(::CreateFileW((folder + found.cFileName).c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text;
    char block[4096];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), block, sizeof block, &read, nullptr) && read > 0) text.append(block, read);
    return text;
  }

  std::wstring lastProduct_;

  void ExpectBothRecorded(const std::wstring& scope) {
    EXPECT_TRUE(WaitFor([&] { return RecordCount(ports_.main, scope) == 2; }, 5000)) << RecordCount(ports_.main, scope);
    EXPECT_TRUE(RecordOf(scope, "ReportUpdateStatus"));
    EXPECT_TRUE(RecordOf(scope, "ReportUpgradeOfferStatus"));
  }
};

TEST_F(ReportThenExitTest, ProcessEndingRightAfterStartingReportsKeepsItsExitCodeAndSendsThem) {
  for (const Case& c : {kReturn, kExit}) {
    for (int round = 0; round < 3; ++round) {
      const std::wstring scope = NewScope();
      DWORD elapsed = 0;
      ExpectOwnExitCode(c, Run(c, ServiceBaseUrl(L"https", ports_.main, scope), &elapsed), round);
      // The exit waited for both reports, unless it gave up on them (only on a very busy machine).
      if (elapsed < kReportExitWaitMs) ExpectBothRecorded(scope);
    }
  }
}

TEST_F(ReportThenExitTest, ProcessEndingWhileReportsFailKeepsItsExitCode) {
  // Refused at once, the reports run through all their steps while the process ends.
  for (const Case& c : {kReturn, kExit}) {
    for (int round = 0; round < 8; ++round) ExpectOwnExitCode(c, Run(c, L"https://localhost:1/Renova/"), round);
  }
}

TEST_F(ReportThenExitTest, ProcessEndingWhilePostsWaitForTheirAnswersKeepsItsExitCode) {
  // The answers come long after the process has stopped waiting for them.
  constexpr DWORD kAnswerDelayMs = 8000;
  for (int round = 0; round < 3; ++round) {
    const std::wstring scope = NewScope();
    DWORD elapsed = 0;
    const std::wstring faults = L"delay=" + std::to_wstring(kAnswerDelayMs / 1000);
    ExpectOwnExitCode(kWait, Run(kWait, ServiceBaseUrl(L"https", ports_.main, scope, faults), &elapsed), round);
    EXPECT_GE(elapsed, kReportExitWaitMs);
    EXPECT_LT(elapsed, kAnswerDelayMs - 1000) << "the exit waited for the answers";
    ExpectBothRecorded(scope);
    const std::string log = ProductLog(lastProduct_);
    EXPECT_NE(log.find("/ReportUpdateStatus with status 2 given up"), std::string::npos) << log;
    EXPECT_NE(log.find("/ReportUpgradeOfferStatus with status 3 given up"), std::string::npos);
  }
}

}  // namespace
