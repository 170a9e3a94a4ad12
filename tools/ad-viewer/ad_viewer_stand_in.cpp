// Stands in for the ad viewer REVoRuzure.exe, which the updater downloads into
// a product's cache folder and starts for an advertising campaign. It shows
// nothing: it appends its command line to a record and exits with the code the
// test asks for, so that the tests see how the updater started it.
// README.md beside this file describes the record and the exit code.
#include <windows.h>

#include <cwchar>
#include <string>

#include "stand_in_support.h"

namespace {

using stand_in::AppendRecord;
using stand_in::Environment;
using stand_in::ModuleFolder;

// What a record that cannot be written ends the run with, so that a test
// never mistakes a lost record for a run (ERROR_WRITE_FAULT).
constexpr DWORD kRecordFailed = 29;

std::wstring RecordPath() {
  std::wstring path = Environment(L"VLRN_AD_VIEWER_RECORD");
  if (!path.empty()) return path;
  return ModuleFolder() + L"ad-viewer-record.txt";
}

// VLRN_AD_VIEWER_EXIT as a decimal number up to 4294967295; 0 when unset or unreadable.
DWORD ChosenExitCode() {
  const std::wstring text = Environment(L"VLRN_AD_VIEWER_EXIT");
  if (text.empty()) return 0;
  wchar_t* end = nullptr;
  const unsigned long long value = std::wcstoull(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != L'\0' || value > 0xFFFFFFFFull) return 0;
  return static_cast<DWORD>(value);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (!AppendRecord(RecordPath(), ::GetCommandLineW())) return static_cast<int>(kRecordFailed);
  return static_cast<int>(ChosenExitCode());
}
