#pragma once
// What Windows itself knows about installed products: the uninstall key, the
// Windows Installer database and WMI's list of installed products. Each source
// finds the product by what the record already holds (its installation folder,
// else its name) and then overwrites the record's fields with what the system
// stores for it. A failing source leaves the fields it had already written.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "product/program_infos.h"

// --- The uninstall key ------------------------------------------------------------------

// Under HKEY_LOCAL_MACHINE; each product's entry is a subkey of it.
inline constexpr wchar_t kUninstallKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Fills the record from the product's subkey under the machine's uninstall key,
// found by InstalledLocation (also with "\Programme\" read as "\Program Files\"),
// else by the value "ProgramName".
bool ReadFromRegistry(ProgramInfos& info);

// Finds the subkey of the machine's uninstall key whose string value `valueName`
// equals `wanted`, ignoring case and one trailing backslash on either side. Among
// several matches the newest "InstallDate" wins, and among equal dates the one
// enumerated last. An empty `wanted` never matches.
bool GetUninstallRegKey(std::wstring& keyName, const wchar_t* valueName, std::wstring wanted);

// The same search over the subkeys of any open key.
bool FindSubkeyByValue(HKEY parent, const wchar_t* valueName, std::wstring wanted, std::wstring& keyName);

// --- Windows Installer ------------------------------------------------------------------

// Fills the record from the installed Windows Installer product whose
// InstallLocation (else ProductName) equals the record's location (else name).
bool ReadFromMsiDB(ProgramInfos& info);

// --- WMI ----------------------------------------------------------------------------------

// Where a search through WMI's Win32_Product ended.
enum class Win32ProductsResult {
  kFound,
  kNothingToSearchFor,  // neither a location nor a name to compare the first product with
  kComInitFailed,
  kSecurityFailed,
  kLocatorFailed,
  kConnectFailed,
  kProxyBlanketFailed,
  kQueryFailed,
  kNoMoreObjects,       // the enumerator brought no (further) object
  kPropertyReadFailed,  // a property of the matching product could not be read
};

// The WMI source with the step it ended at.
Win32ProductsResult SearchWin32Products(ProgramInfos& info);

// Fills the record from WMI's Win32_Product entry of the product; true when found.
bool ReadFromWin32_Products(ProgramInfos& info);

// --- Features of a Windows Installer product -------------------------------------------

struct MsiFeatureState {
  std::wstring FeatureName;
  int32_t InstallState = 0;  // INSTALLSTATE_* of the feature
};

// Gives the name of the feature at `index` and ERROR_SUCCESS, or any other code
// when there are no more features.
using MsiFeatureEnumerator = std::function<UINT(DWORD index, std::wstring& featureName)>;

// Appends the features of an installed product with their install states.
// False only when there is no product code.
bool ReadMsiFeatureList(const std::wstring& productCode, std::vector<MsiFeatureState>& features);

// The same with the feature names taken from `enumerateFeatures`; the states
// still come from the Windows Installer.
bool ReadMsiFeatureList(const std::wstring& productCode, std::vector<MsiFeatureState>& features,
                        const MsiFeatureEnumerator& enumerateFeatures);
