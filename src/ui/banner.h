#pragma once
// The banner picture in the header band: one file per product and major
// version in the product's cache folder, downloaded once by a thread beside
// the dialog; the built-in picture stands in until it is there.

#include <windows.h>

#include <cstdint>
#include <string>

#include "product/program_infos.h"

// "Banner_<safe name>_<major>.bmp": the name with its blanks as "_", the
// version's part before its first ".".
std::wstring BannerFileName(const ProgramInfos& infos);
// "<base>/Banner/<file name>"; the base ends in "/", so the default holds "//".
std::wstring BannerUrl(const std::wstring& base, const ProgramInfos& infos);
// The file in the product's cache folder, which is created when missing.
std::wstring BannerFilePath(const ProgramInfos& infos);

// The base the banners come from: the debug override, else the default.
std::wstring BannerBaseUrl(const ProgramInfos& infos);

// Downloads the product's banner when it is not there yet; 0 when it was
// downloaded, else -1. Started by start-up beside the dialog.
DWORD WINAPI BannerDownloadThread(LPVOID);

// The product's own picture for the header band, loaded at its own size; none
// when it can't be loaded, or when it is larger than a banner may be: more
// than kMaxBannerFileBytes on disk, or higher than maxHeight pixels (it would
// cover the window's controls). Each refusal is logged.
constexpr ULONGLONG kMaxBannerFileBytes = 4ull << 20;
HBITMAP LoadBannerFile(const std::wstring& path, int maxHeight);

// True when the file exists and may be read.
bool CanBeRead(const std::wstring& path);

// The banner flag: 1 while the banner thread downloads a banner, when the
// header band shows the built-in picture. Each session starts it at 0. Both
// take the process-wide BannerFlagMutex(); the flag reads 1 when it can't be had.
void SetUseDefaultBanner(int32_t value);
int32_t UseDefaultBanner();
HANDLE BannerFlagMutex();

// Whether the header band shows the built-in picture rather than the file at
// path: the file can't be read, or the banner thread is still downloading it.
bool ShowsBuiltInBanner(const std::wstring& path);
