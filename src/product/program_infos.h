#pragma once
// The record of what the updater knows about the product it serves.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ProgramInfos {
  std::wstring ProgramName;           // the product's name as the server knows it
  std::wstring DisplayName;           // the name shown to the user
  std::wstring ProductEditionName;    // DisplayName with edition word and preview suffix
  std::wstring DisplayNameForLabels;  // DisplayName with every "&" doubled
  std::wstring ProgramVersion;
  std::wstring InstallDate;        // normally yyyymmdd
  std::wstring InstalledLocation;  // ends with a backslash where a source guarantees it
  std::wstring UninstallKeyName;   // subkey under ...\CurrentVersion\Uninstall
  std::vector<std::wstring> FileList;
  int32_t Language = 0;   // Windows language identifier; 0 = unknown
  int32_t IsStubExe = 0;  // 1: installation mode
  std::wstring AffiliateId;
};

// The text with every "&" written twice, so that window labels show it as it is.
std::wstring DoubleAmpersands(std::wstring_view text);

// Sets DisplayName and derives DisplayNameForLabels from it.
void SetDisplayName(ProgramInfos& info, std::wstring displayName);
