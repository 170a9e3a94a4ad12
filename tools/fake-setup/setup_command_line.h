#pragma once
// What the stand-in setup makes of its command line and of its payload file,
// kept apart from the program so that the tests can feed it strings.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fake_setup {

// The arguments of a whole command line as CommandLineToArgvW splits it: the
// program name runs to the next quote (or blank) untouched; after it, 2n
// backslashes before a quote give n and the quote toggles quoting, 2n+1 give n
// and a literal quote, other backslashes are literal, and within quotes every
// third quote of a run of quotes is a literal one.
std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine);

// The installer's words in a /v text: split at blanks outside quotes, each
// kept as written (quotes included), the way msiexec reads its own line.
std::vector<std::wstring> SplitInstallerText(std::wstring_view text);

struct InstallerProperty {
  std::wstring name;
  std::wstring value;  // without its quotes; "" within quotes is one quote
};

// NAME=value, NAME="value with blanks"; nothing for a switch such as /qb.
std::optional<InstallerProperty> ParseProperty(std::wstring_view word);

struct SetupRequest {
  bool silent = false;          // /s
  bool noSetupFromWeb = false;  // /NoSetupFromWeb
  // Every /v argument's text, in order; several are joined by one blank.
  std::wstring installerText;
  std::vector<std::wstring> installerWords;  // installerText split
  std::vector<InstallerProperty> properties;
  std::wstring uiSwitch;             // the first /q... word, if any
  std::vector<std::wstring> others;  // arguments this setup does not know
};

// The arguments after the program name (SplitCommandLine's, without the first).
// Switches are matched without regard to case, as setups do.
SetupRequest ParseSetupArguments(const std::vector<std::wstring>& arguments);

// The value of the last property of that name (names are case-sensitive).
std::optional<std::wstring> FindProperty(const SetupRequest& request, std::wstring_view name);

// "<msiexec>" /i "<package>" followed by the installer's words as written:
// msiexec reads quotes the same way and knows no backslash escapes, so
// INSTALLDIR="C:\Program Files\Tool\" reaches it whole.
std::wstring MsiexecCommandLine(const std::wstring& msiexec, const std::wstring& package,
                                const std::vector<std::wstring>& installerWords);

// The payload file beside the setup.
struct Payload {
  std::vector<unsigned long> exitCodes;  // of the first, second, ... run; the last repeats
  std::wstring copy;                     // folder whose contents go into the installation folder
  std::wstring target;                   // installation folder when INSTALLDIR is not given
  std::wstring msi;                      // package to install with msiexec
  std::vector<std::wstring> tamper;      // files it tries to open for writing, as a swap would
};

// key=value lines in UTF-8 (a BOM allowed), blank and # lines skipped, keys
// without regard to case, unknown keys ignored, a later key replacing an
// earlier one. False with a message for a line without "=" or a bad exit list.
bool ParsePayload(std::string_view utf8, Payload& payload, std::wstring& error);

// The exit code of the given run (1 for the first); nothing without codes.
std::optional<unsigned long> ExitCodeForRun(const std::vector<unsigned long>& codes, unsigned long run);

// A payload path relative to the setup's folder (or absolute), "/" read as "\".
std::wstring ResolvePayloadPath(const std::wstring& folder, std::wstring path);

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

}  // namespace fake_setup
