#include "product/settings.h"

#include <ctime>

#include "system/registry.h"
#include "win/strings.h"

namespace {

constexpr wchar_t kDebug[] = L"Debug";
constexpr wchar_t kDebugUrl[] = L"DebugUrl_v2";
constexpr wchar_t kDebugBannerDownloadUrl[] = L"DebugBannerDownloadUrl_v2";
constexpr wchar_t kActivePid[] = L"ActivePID";
constexpr wchar_t kUpdateResult[] = L"UpdateResult";
constexpr wchar_t kUpdateResultString[] = L"UpdateResultString";
constexpr wchar_t kLastUpdateCheck[] = L"LastUpdateCheck";
constexpr wchar_t kIgnoreVersionUpdate[] = L"IgnoreProductVersionUpdate";
constexpr wchar_t kIgnoreMajorVersionUpgrade[] = L"IgnoreProductMajorVersionUpgrade";
constexpr wchar_t kNotIgnoredVersion[] = L"-1";
constexpr int kNotIgnoredMajorVersion = -1;

}  // namespace

std::wstring GetProductSettingsKey(const ProgramInfos& programInfos) {
  return std::wstring(kSettingsBaseKey) + L"\\" + programInfos.ProgramName;
}

std::wstring GetVersionSettingsKey(const ProgramInfos& programInfos) {
  return GetProductSettingsKey(programInfos) + L"\\" + programInfos.ProgramVersion;
}

bool IsDebugEnabled() {
  const win::UniqueRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsBaseKey, kRegReadWriteAccess);
  return key && ReadRegDword(key.get(), kDebug).value_or(0) != 0;
}

std::wstring ReadSettingString(const ProgramInfos& programInfos, const wchar_t* valueName) {
  if (auto text = ReadRegString(HKEY_CURRENT_USER, GetProductSettingsKey(programInfos), valueName)) return *text;
  return ReadRegString(HKEY_CURRENT_USER, kSettingsBaseKey, valueName).value_or(L"");
}

std::wstring GetDebugUrl(const ProgramInfos& programInfos) { return ReadSettingString(programInfos, kDebugUrl); }

std::wstring GetDebugBannerDownloadUrl(const ProgramInfos& programInfos) {
  std::wstring url = ReadSettingString(programInfos, kDebugBannerDownloadUrl);
  return url.empty() ? GetDebugUrl(programInfos) : url;
}

void WriteActivePID(const ProgramInfos& programInfos, DWORD pid) {
  WriteRegDword(HKEY_CURRENT_USER, GetProductSettingsKey(programInfos), kActivePid, pid);
}

DWORD ReadActivePID(const ProgramInfos& programInfos) {
  return ReadRegDword(HKEY_CURRENT_USER, GetProductSettingsKey(programInfos), kActivePid).value_or(0);
}

void WriteUpdateResult(const ProgramInfos& programInfos, DWORD result, const std::wstring& text) {
  for (const std::wstring& path : {GetProductSettingsKey(programInfos), GetVersionSettingsKey(programInfos)}) {
    const win::UniqueRegKey key = CreateRegKey(HKEY_CURRENT_USER, path);
    if (!key) continue;
    WriteRegDword(key.get(), kUpdateResult, result);
    WriteRegString(key.get(), kUpdateResultString, text);
  }
}

void ClearUpdateResult(const ProgramInfos& programInfos) {
  for (const std::wstring& path : {GetProductSettingsKey(programInfos), GetVersionSettingsKey(programInfos)}) {
    const win::UniqueRegKey key = CreateRegKey(HKEY_CURRENT_USER, path);
    if (!key) continue;
    DeleteRegValue(key.get(), kUpdateResult);
    DeleteRegValue(key.get(), kUpdateResultString);
  }
}

void WriteLastUpdateCheck(const ProgramInfos& programInfos, int64_t time) {
  if (programInfos.IsStubExe == 1) return;  // nothing is installed yet to have been checked
  WriteRegString(HKEY_LOCAL_MACHINE, GetVersionSettingsKey(programInfos), kLastUpdateCheck,
                 win::FormatW(L"%lld", static_cast<long long>(time)));
}

void WriteLastUpdateCheckNow(const ProgramInfos& programInfos) {
  WriteLastUpdateCheck(programInfos, static_cast<int64_t>(std::time(nullptr)));
}

std::wstring ReadIgnoredVersionUpdate(const ProgramInfos& programInfos) {
  return ReadRegString(HKEY_CURRENT_USER, GetVersionSettingsKey(programInfos), kIgnoreVersionUpdate)
      .value_or(kNotIgnoredVersion);
}

void WriteIgnoredVersionUpdate(const ProgramInfos& programInfos, const std::wstring& version) {
  WriteRegString(HKEY_CURRENT_USER, GetVersionSettingsKey(programInfos), kIgnoreVersionUpdate, version);
}

void ClearIgnoredVersionUpdate(const ProgramInfos& programInfos) { WriteIgnoredVersionUpdate(programInfos, L""); }

int ReadIgnoredMajorVersionUpgrade(const ProgramInfos& programInfos) {
  const auto text = ReadRegString(HKEY_CURRENT_USER, GetProductSettingsKey(programInfos), kIgnoreMajorVersionUpgrade);
  return text ? win::AtoiW(*text) : kNotIgnoredMajorVersion;
}

void WriteIgnoredMajorVersionUpgrade(const ProgramInfos& programInfos, int version) {
  WriteRegString(HKEY_CURRENT_USER, GetProductSettingsKey(programInfos), kIgnoreMajorVersionUpgrade,
                 win::FormatW(L"%d", version));
}
