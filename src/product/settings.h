#pragma once
// The updater's state between runs, in the registry. Nothing is cached and
// nothing fails loudly: a key that can't be opened gives the default, a write
// that can't create its key is skipped.

#include <windows.h>

#include <cstdint>
#include <string>

#include "product/program_infos.h"

inline constexpr wchar_t kSettingsBaseKey[] = L"Software\\Velbor\\Velbor Renova";

std::wstring GetProductSettingsKey(const ProgramInfos& programInfos);
std::wstring GetVersionSettingsKey(const ProgramInfos& programInfos);

bool IsDebugEnabled();
// The string from the product key, else from the base key, else empty.
std::wstring ReadSettingString(const ProgramInfos& programInfos, const wchar_t* valueName);
std::wstring GetDebugUrl(const ProgramInfos& programInfos);
std::wstring GetDebugBannerDownloadUrl(const ProgramInfos& programInfos);

void WriteActivePID(const ProgramInfos& programInfos, DWORD pid);
DWORD ReadActivePID(const ProgramInfos& programInfos);

void WriteUpdateResult(const ProgramInfos& programInfos, DWORD result, const std::wstring& text);
void ClearUpdateResult(const ProgramInfos& programInfos);

// Seconds since 1970 (UTC); nothing is written in installation mode.
void WriteLastUpdateCheck(const ProgramInfos& programInfos, int64_t time);
void WriteLastUpdateCheckNow(const ProgramInfos& programInfos);

std::wstring ReadIgnoredVersionUpdate(const ProgramInfos& programInfos);
void WriteIgnoredVersionUpdate(const ProgramInfos& programInfos, const std::wstring& version);
void ClearIgnoredVersionUpdate(const ProgramInfos& programInfos);
int ReadIgnoredMajorVersionUpgrade(const ProgramInfos& programInfos);
void WriteIgnoredMajorVersionUpgrade(const ProgramInfos& programInfos, int version);
