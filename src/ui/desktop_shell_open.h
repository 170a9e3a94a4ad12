#pragma once
// Opening a web page the way the user would: through the desktop shell's own
// process, which runs with the user's ordinary rights, rather than from the
// updater, whose browser would otherwise run with administrator rights.

#include <string>

// Asks the desktop's shell to open the address. False when the shell offers
// no way to (no desktop window, no shell dispatch); the caller then opens the
// address itself. The shell gives no result for the launch it makes.
bool OpenThroughDesktopShell(const std::wstring& address, int showCommand);
