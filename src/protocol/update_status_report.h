#pragma once
// Status reports to the update server: each one is posted on a thread of its
// own that nobody waits for; its outcome is only logged.
//
// A process that ends normally (returning from main, exit) while reports are
// still running first waits up to kReportExitWaitMs for them, before its static
// objects are destroyed: a report reads the log, the product record and the
// cached MAC address, which must not vanish under it. A report that is still
// running after that is lost, and ExitProcess ends its thread.

#include <windows.h>

#include <cstdint>
#include <string>

#include "protocol/status_report_documents.h"

inline constexpr DWORD kReportExitWaitMs = 2000;

// Start the report's thread and return at once. False when no thread was
// started: CreateThread failed (logged), or the process is already ending.
bool StartUpdateStatusReport(int32_t status, int32_t updateId);
bool StartUpgradeOfferStatusReport(int32_t status, const std::wstring& programName,
                                   const std::wstring& programVersion, int32_t majorVersion);

// The report threads. Each takes over the record its starter made with new
// (an UpdateStatusReport, an UpgradeOfferStatusReport), builds the document,
// posts it, releases both and ends the report its starter began.
DWORD WINAPI ReportUpdateStatusThread(LPVOID report);
DWORD WINAPI ReportUpgradeOfferStatusThread(LPVOID report);
