// The log front's one function, defined here, where the process log is.
#include "logfront/log.h"

#include "log/clog.h"
#include "log/process_log.h"

void LogFrontPrint(int level, const wchar_t* format, std::span<const LogArg> args) {
  CLog& log = GetLog();
  if (!log.Passes(level)) return;
  if (CountFormatConversions(format) > kLogFrontMaxArguments) return;
  log.PrintFormatted(0, level, kLogFrontSource, format, args);
}
