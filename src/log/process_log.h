#pragma once
// The process-wide log. It exists from its first use (static initialisers
// included) to the end of the process; at exit it is closed, and later calls
// do nothing.

#include <string>

class CLog;

// Name of the log file until start-up knows the product.
inline constexpr wchar_t kDefaultLogName[] = L"VLRenova";

// The process log, started under "VLRenova" on first use.
CLog& GetLog();

// (Re)starts the process log with the file "<stamp>_<name>.log" in the folder
// "VL Renova" of the vendor's temporary folder (the current folder when the
// temporary folder can't be found), appending when the file exists. A null or
// empty name counts as "VLRenova"; characters a file name can't hold become "_"
// in the file's name. When another process holds that file (a second updater
// of the product started in the same second), the lines go to
// "<stamp>_<name>_<process id>.log" instead. Must not run while other threads log.
void StartLog(const wchar_t* name);
