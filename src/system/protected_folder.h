#pragma once
// Folders that only Administrators and SYSTEM can change. A build that reads
// only signed answers keeps its downloads there: the user's temporary folder
// is writable by every unelevated process of the user, so a file checked there
// could be swapped, or another one added beside it, before it runs elevated.

#include <optional>
#include <string>

// Owner Administrators; full control for SYSTEM and Administrators, reading
// and running for Users; protected, so nothing is inherited from above.
inline constexpr wchar_t kProtectedFolderSddl[] = L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// "<ProgramData>\VI Vadavura\", from the machine's own setting (never from
// the user's environment), secured as below. Nothing (logged) when it can't be.
std::optional<std::wstring> ProtectedVendorFolder();

// Makes the folder (ending in "\") exist with the protected security: created
// with it, or, when it is there already, given that owner and DACL anew
// through a handle that is known to be a plain folder. A reparse point on the
// folder or anywhere above it is refused, with an error line; nothing then.
bool MakeProtectedFolder(const std::wstring& folder);

// The first level of path (from the drive down) that is a reparse point:
// a junction, a symbolic link or a mount point. Nothing when there is none.
std::optional<std::wstring> FirstReparsePointOnPath(const std::wstring& path);
