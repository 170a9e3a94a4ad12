#pragma once
// A link made by the host system below the Wine prefix. Wine 8 can't make a
// junction (FSCTL_SET_REPARSE_POINT answers "not supported"), but it shows a
// symbolic link of the host as a reparse point, and follows it, as Windows
// does a junction: the nearest real thing to a junction an attacker plants.

#include <string>

namespace testing_support {

// Makes linkPath a link to the folder targetPath (both Windows paths; the
// link's parent must exist and the link itself must not). False when the host
// can't be reached from here (not Wine) or the link was not made.
bool MakeHostFolderLink(const std::wstring& linkPath, const std::wstring& targetPath);

}  // namespace testing_support
