#include "protocol/update_status_report.h"

#include <cstdlib>
#include <memory>
#include <optional>

#include "log/process_log.h"
#include "logfront/log.h"
#include "product/program_infos_store.h"
#include "protocol/web_service.h"
#include "system/error_text.h"
#include "system/mac_address.h"
#include "win/unique_handle.h"

namespace {

// The reports that were started and have not ended. Plain data with constant
// initialisation and nothing to destroy, so it is valid for the whole life of
// the process, also while its static objects are being destroyed.
SRWLOCK gReportsLock = SRWLOCK_INIT;
CONDITION_VARIABLE gReportEnded = CONDITION_VARIABLE_INIT;
int gRunningReports = 0;  // guarded by gReportsLock

// What the running reports are, so that the exit can name the ones it gives up.
struct RunningReport {
  const wchar_t* methodPath;
  int32_t status;
};
constexpr int kNamedReports = 64;
RunningReport gNamedReports[kNamedReports] = {};  // guarded by gReportsLock; empty slots have no method
bool gProcessEnding = false;                      // guarded by gReportsLock: no new reports
bool gReportsAbandoned = false;                   // guarded by gReportsLock: static objects may be gone
INIT_ONCE gExitWaitInstalled = INIT_ONCE_STATIC_INIT;

// Runs at exit, before the destructors of the objects a report reads.
void WaitForReportsAtExit() {
  ::AcquireSRWLockExclusive(&gReportsLock);
  gProcessEnding = true;
  const ULONGLONG deadline = ::GetTickCount64() + kReportExitWaitMs;
  for (ULONGLONG now = ::GetTickCount64(); gRunningReports > 0 && now < deadline; now = ::GetTickCount64()) {
    ::SleepConditionVariableSRW(&gReportEnded, &gReportsLock, static_cast<DWORD>(deadline - now), 0);
  }
  gReportsAbandoned = gRunningReports > 0;
  for (const RunningReport& report : gNamedReports) {
    if (report.methodPath != nullptr) {
      LogError(L"%s with status %d given up: the process ended before it was sent", report.methodPath, report.status);
    }
  }
  ::ReleaseSRWLockExclusive(&gReportsLock);
}

BOOL CALLBACK InstallExitWait(PINIT_ONCE, PVOID, PVOID*) {
  // A function given to atexit runs before the destructors of every static
  // object built before the call, so the ones a report reads are built first.
  GetLog();
  GetProgramInfos();
  std::wstring mac;
  GetMacAddress(mac);
  if (std::atexit(WaitForReportsAtExit) != 0) {
    LogError(L"atexit for the status reports failed");
  }
  return TRUE;
}

constexpr int kUnnamedReport = -1;

// The report's slot (kUnnamedReport when all are taken: it is still waited
// for), or nothing when the process is already ending: a report started now
// could outlive the objects it reads.
std::optional<int> BeginReport(const wchar_t* methodPath, int32_t status) {
  ::InitOnceExecuteOnce(&gExitWaitInstalled, InstallExitWait, nullptr, nullptr);
  ::AcquireSRWLockExclusive(&gReportsLock);
  const bool ending = gProcessEnding;
  int slot = kUnnamedReport;
  if (!ending) {
    ++gRunningReports;
    for (int i = 0; i < kNamedReports && slot == kUnnamedReport; ++i) {
      if (gNamedReports[i].methodPath == nullptr) slot = i;
    }
    if (slot != kUnnamedReport) gNamedReports[slot] = {methodPath, status};
  }
  ::ReleaseSRWLockExclusive(&gReportsLock);
  if (ending) {
    LogWarning(L"%s not sent: the process is ending", methodPath);
    return std::nullopt;
  }
  return slot;
}

void EndReport(int slot) {
  ::AcquireSRWLockExclusive(&gReportsLock);
  --gRunningReports;
  if (slot != kUnnamedReport) gNamedReports[slot] = {};
  ::ReleaseSRWLockExclusive(&gReportsLock);
  ::WakeAllConditionVariable(&gReportEnded);
}

// Once the exit wait has given up, static objects may be destroyed at any
// moment: a report that has not posted yet leaves everything alone.
bool ReportsAbandoned() {
  ::AcquireSRWLockShared(&gReportsLock);
  const bool abandoned = gReportsAbandoned;
  ::ReleaseSRWLockShared(&gReportsLock);
  return abandoned;
}

// What a report thread takes over: the record and the report's slot.
template <typename Report>
struct ReportTask {
  std::unique_ptr<Report> report;
  int slot;
};

template <typename Report>
bool StartReport(std::unique_ptr<Report> report, int32_t status, LPTHREAD_START_ROUTINE routine,
                 const wchar_t* methodPath) {
  const std::optional<int> slot = BeginReport(methodPath, status);
  if (!slot) return false;
  auto task = std::make_unique<ReportTask<Report>>(ReportTask<Report>{std::move(report), *slot});
  // The handle is not needed: closing it does not stop the thread.
  const win::UniqueThread thread(::CreateThread(nullptr, 0, routine, task.get(), 0, nullptr));
  if (!thread) {
    const std::wstring reason = GetLastErrorText();
    LogError(L"CreateThread for %s failed because: \"%s\"", methodPath, reason.c_str());
    EndReport(*slot);
    return false;
  }
  static_cast<void>(task.release());  // the thread's now
  return true;
}

template <typename Report, typename Build>
void RunReport(LPVOID parameter, Build build, const wchar_t* methodPath, const wchar_t* argumentName) {
  const std::unique_ptr<ReportTask<Report>> task(static_cast<ReportTask<Report>*>(parameter));
  if (!ReportsAbandoned()) {
    const auto document = std::make_unique<tinyxml2::XMLDocument>();
    build(*task->report, *document);
    if (!ReportsAbandoned()) PostReportToWebService(methodPath, argumentName, *document);
  }
  const int slot = task->slot;
  task->report.reset();
  // Last, so that an exit waiting for this report finds it wholly done.
  EndReport(slot);
}

}  // namespace

bool StartUpdateStatusReport(int32_t status, int32_t updateId) {
  auto report = std::make_unique<UpdateStatusReport>();
  report->Status = status;
  report->UpdateId = updateId;
  return StartReport(std::move(report), status, ReportUpdateStatusThread, kReportUpdateStatusMethod);
}

bool StartUpgradeOfferStatusReport(int32_t status, const std::wstring& programName, const std::wstring& programVersion,
                                   int32_t majorVersion) {
  auto report = std::make_unique<UpgradeOfferStatusReport>();
  report->Status = status;
  report->ProgramName = programName;
  report->ProgramVersion = programVersion;
  report->MajorVersion = majorVersion;
  return StartReport(std::move(report), status, ReportUpgradeOfferStatusThread, kReportUpgradeOfferStatusMethod);
}

DWORD WINAPI ReportUpdateStatusThread(LPVOID report) {
  RunReport<UpdateStatusReport>(report, CreateUpdateStatusXml, kReportUpdateStatusMethod, kUpdateStatusArgument);
  return 0;
}

DWORD WINAPI ReportUpgradeOfferStatusThread(LPVOID report) {
  RunReport<UpgradeOfferStatusReport>(report, CreateUpgradeOfferStatusXml, kReportUpgradeOfferStatusMethod,
                                      kUpgradeOfferStatusArgument);
  return 0;
}
