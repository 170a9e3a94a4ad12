// The built updater carries what Windows needs to start it on a clean machine:
// its manifest, version and icon, and no compiler runtime DLLs.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <set>
#include <string>

#include "support/child_process.h"
#include "system/version_info.h"
#include "version.h"
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
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

  const std::set<std::string> system = {
      "kernel32.dll", "user32.dll",   "gdi32.dll",    "advapi32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll",
      "oleaut32.dll", "comctl32.dll", "msvcrt.dll",   "wininet.dll",  "urlmon.dll",  "msi.dll",     "version.dll",
      "iphlpapi.dll", "ws2_32.dll",   "comdlg32.dll", "crypt32.dll",  "secur32.dll", "bcrypt.dll",  "winhttp.dll"};
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
  EXPECT_EQ(text, kUpdaterVersion);
  ASSERT_TRUE(GetFileVersionString(WorkerExePath(), L"ProductVersion", text));
  EXPECT_EQ(text, kUpdaterVersion);
}

// The code, the version resource and the manifest carry the one version of the build.
TEST(Executable, ItsVersionNumbersAreTheBuildsVersion) {
  EXPECT_EQ(std::wstring(kUpdaterVersion),
            std::wstring(kUpdaterVersionA, kUpdaterVersionA + sizeof(kUpdaterVersionA) - 1));
  const std::wstring numbers = std::to_wstring(VLRN_VERSION_MAJOR) + L"." + std::to_wstring(VLRN_VERSION_MINOR) + L"." +
                               std::to_wstring(VLRN_VERSION_PATCH);
  EXPECT_EQ(numbers, kUpdaterVersion);

  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(WorkerExePath().c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(::GetFileVersionInfoW(WorkerExePath().c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(VLRN_VERSION_MINOR, VLRN_VERSION_MAJOR)));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, VLRN_VERSION_PATCH)));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

  win::UniqueLibrary module(::LoadLibraryExW(WorkerExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(module.valid());
  const std::string manifest = ResourceText(module.get(), RT_MANIFEST, MAKEINTRESOURCEW(1));
  const std::string identity =
      std::string("name=\"Velbor.Renova.VLRenovaWorker\" version=\"") + kUpdaterVersionA + ".0\"";
  EXPECT_NE(manifest.find(identity), std::string::npos) << manifest;
}

TEST(Executable, CarriesTheDefaultBannerAsA256ColourBitmap) {
  win::UniqueLibrary module(::LoadLibraryExW(WorkerExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(module.valid());
  const HRSRC found = ::FindResourceW(module.get(), MAKEINTRESOURCEW(130), RT_BITMAP);
  ASSERT_NE(found, nullptr);
  const auto* info = static_cast<const BITMAPINFOHEADER*>(::LockResource(::LoadResource(module.get(), found)));
  ASSERT_NE(info, nullptr);
  ASSERT_GE(::SizeofResource(module.get(), found), sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
  EXPECT_EQ(info->biWidth, 129);
  EXPECT_EQ(info->biHeight, 58);
  EXPECT_EQ(info->biBitCount, 8);
  EXPECT_EQ(info->biCompression, static_cast<DWORD>(BI_RGB));
  // A picture, not a flat field: many palette entries are in use.
  const auto* palette = reinterpret_cast<const RGBQUAD*>(info + 1);
  const auto* pixels = reinterpret_cast<const BYTE*>(palette + 256);
  std::set<BYTE> used(pixels, pixels + ((129 + 3) & ~3) * 58);
  EXPECT_GT(used.size(), 50u);
  EXPECT_EQ(palette[0].rgbRed, 255);  // the band's white where the banner meets it
}
