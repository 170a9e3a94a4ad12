#pragma once
// Status reports to the update server: each one is posted on a thread of its
// own that nobody waits for; its outcome is only logged.
//
// A process that ends normally (returning from main, exit) while reports are
// still running first waits up to kReportExitWaitMs in all for them, so that
// the server hears how a session ended even when the process ends right after
// its last report, and a dead server costs no more than that. Each report
// still running after that is logged as given up, and ExitProcess ends its thread.

#include <windows.h>

#include <cstdint>
#include <string>

#include "protocol/status_report_documents.h"

inline constexpr DWORD kReportExitWaitMs = 5000;

// Start the report's thread and return at once. False when no thread was
// started: CreateThread failed (logged), or the process is already ending.
bool StartUpdateStatusReport(int32_t status, int32_t updateId);
bool StartUpgradeOfferStatusReport(int32_t status, const std::wstring& programName, const std::wstring& programVersion,
                                   int32_t majorVersion);

// The report threads, started only by the two calls above: each takes over
// what its start call made (the record and the report's place among the
// running ones), builds the document, posts it, releases both and ends the
// report its starter began.
DWORD WINAPI ReportUpdateStatusThread(LPVOID report);
DWORD WINAPI ReportUpgradeOfferStatusThread(LPVOID report);
