#pragma once
// The diagnostics block a configured log starts with: enough about the
// process, its modules and the machine to read a support log without asking.
// The block only composes its lines; the log prints them.

#include <windows.h>

#include <functional>
#include <span>
#include <string>

#include "logfront/log_format.h"

// What the block tells about the log itself.
struct LogDiagnosticsState {
  int threshold = 0;
  std::wstring textFile;    // the text channel's path
  std::wstring recordFile;  // the record channel's path
  bool flush = true;
};

// Prints one line of the block: a level, a format and its arguments.
using LogDiagnosticsPrinter = std::function<void(int level, const wchar_t* format, std::span<const LogArg> args)>;

// The block about module (null: the executable) at logLevel: the opening line,
// then, when logLevel passes the threshold, the lines about the executable,
// the module, the machine, the process and the log's files; else "<- NTD".
void WriteLogDiagnostics(HINSTANCE module, int diagLevel, int logLevel, const LogDiagnosticsState& log,
                         const LogDiagnosticsPrinter& print);
