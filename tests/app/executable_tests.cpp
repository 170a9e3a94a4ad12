// The built updater carries what Windows needs to start it on a clean machine:
// its manifest, version and icon, and no compiler runtime DLLs.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <set>
#include <string>

#include "actions/version_info.h"
#include "support/child_process.h"
#include "win/unique_handle.h"

using testing_support::WorkerExePath;

namespace {

std::string ResourceText(HMODULE module, LPCWSTR type, LPCWSTR name) {
  HRSRC resource = ::FindResourceW(module, name, type);
  if (resource == nullptr) return {};
  HGLOBAL data = ::LoadResource(module, resource);
  const char* bytes = static_cast<const char*>(::LockResource(data));
  return bytes ? std::string(bytes, ::SizeofResource(module, resource)) : std::string();
}

// The DLL names in the image's import directory, lower-cased.
std::set<std::string> ImportedDlls(HMODULE image) {
  const auto* base = reinterpret_cast<const BYTE*>(image);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::set<std::string> names;
  for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       directory.VirtualAddress != 0 && entry->Name != 0; ++entry) {
    std::string name = reinterpret_cast<const char*>(base + entry->Name);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    names.insert(name);
  }
  return names;
}

}  // namespace

TEST(Executable, IsA64BitGuiProgramThatNeedsOnlySystemDlls) {
  // Mapped as an image without running it, so its import directory is in place.
  win::UniqueLibrary image(::LoadLibraryExW(WorkerExePath().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
  ASSERT_TRUE(image.valid());
  const auto* base = reinterpret_cast<const BYTE*>(image.get());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

  const std::set<std::string> system = {
      "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll",
      "oleaut32.dll", "comctl32.dll", "msvcrt.dll", "wininet.dll", "urlmon.dll", "msi.dll", "version.dll",
      "iphlpapi.dll", "ws2_32.dll", "comdlg32.dll", "crypt32.dll", "secur32.dll", "bcrypt.dll"};
  const std::set<std::string> imported = ImportedDlls(image.get());
  EXPECT_FALSE(imported.empty());
  for (const std::string& dll : imported) EXPECT_TRUE(system.count(dll)) << dll << " is not a system DLL";
}

TEST(Executable, CarriesItsManifestVersionAndIcon) {
  win::UniqueLibrary module(::LoadLibraryExW(WorkerExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(module.valid());
  const std::string manifest = ResourceText(module.get(), RT_MANIFEST, MAKEINTRESOURCEW(1));
  for (const char* part : {"requireAdministrator", "Microsoft.Windows.Common-Controls", "PerMonitorV2",
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
  EXPECT_NE(::FindResourceW(module.get(), MAKEINTRESOURCEW(128), RT_GROUP_ICON), nullptr);

  std::wstring text;
  ASSERT_TRUE(GetFileVersionString(WorkerExePath(), L"ProductName", text));
  EXPECT_EQ(text, L"Velbor Renova");
  ASSERT_TRUE(GetFileVersionString(WorkerExePath(), L"FileVersion", text));
  EXPECT_EQ(text, L"9.4.10");
  ASSERT_TRUE(GetFileVersionString(WorkerExePath(), L"ProductVersion", text));
  EXPECT_EQ(text, L"9.4.10");
}
