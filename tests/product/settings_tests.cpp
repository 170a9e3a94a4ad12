// The updater's registry settings, on the real registry of the test prefix.
#include "product/settings.h"

#include <gtest/gtest.h>

#include "support/reg_tree_guard.h"
#include "support/scratch.h"
#include "system/registry.h"

namespace {

// A product with its own settings keys, removed from both roots afterwards.
class SettingsTest : public ::testing::Test {
 protected:
  static ProgramInfos NewProduct() {
    ProgramInfos product;
    product.ProgramName = testing_support::UniqueName(L"SettingsProduct");
    product.ProgramVersion = L"7.1";
    return product;
  }
  void SetProductValue(const wchar_t* name, DWORD type, const std::wstring& text) {
    const win::UniqueRegKey key = CreateRegKey(HKEY_CURRENT_USER, GetProductSettingsKey(info));
    ::RegSetValueExW(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  ProgramInfos info = NewProduct();
  const testing_support::RegTreeGuard userKey{HKEY_CURRENT_USER, GetProductSettingsKey(info)};
  const testing_support::RegTreeGuard machineKey{HKEY_LOCAL_MACHINE, GetProductSettingsKey(info)};
};

// Restores (or removes) a value of the shared base key when the test ends.
class BaseValueGuard {
 public:
  explicit BaseValueGuard(const wchar_t* name)
      : name_(name), saved_(ReadRegString(HKEY_CURRENT_USER, kSettingsBaseKey, name)) {}
  ~BaseValueGuard() {
    const win::UniqueRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsBaseKey);
    if (saved_)
      WriteRegString(key.get(), name_, *saved_);
    else
      DeleteRegValue(key.get(), name_);
  }

 private:
  const wchar_t* name_;
  std::optional<std::wstring> saved_;
};

}  // namespace

TEST_F(SettingsTest, KeysAreBuiltFromNameAndVersion) {
  EXPECT_EQ(GetProductSettingsKey(info), L"Software\\Velbor\\Velbor Renova\\" + info.ProgramName);
  EXPECT_EQ(GetVersionSettingsKey(info), L"Software\\Velbor\\Velbor Renova\\" + info.ProgramName + L"\\7.1");
}

TEST_F(SettingsTest, ProductDebugUrlWinsOverTheBaseKeyAndOnlyStringsCount) {
  BaseValueGuard url(L"DebugUrl_v2");
  BaseValueGuard banner(L"DebugBannerDownloadUrl_v2");
  WriteRegString(HKEY_CURRENT_USER, kSettingsBaseKey, L"DebugUrl_v2", L"http://base/");
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsBaseKey, L"DebugBannerDownloadUrl_v2");

  EXPECT_EQ(GetDebugUrl(info), L"http://base/");  // no product key yet
  SetProductValue(L"DebugUrl_v2", REG_EXPAND_SZ, L"http://expand/");
  EXPECT_EQ(GetDebugUrl(info), L"http://base/");
  SetProductValue(L"DebugUrl_v2", REG_SZ, L"http://product/");
  EXPECT_EQ(GetDebugUrl(info), L"http://product/");

  // Banners follow the debug URL unless they have their own.
  EXPECT_EQ(GetDebugBannerDownloadUrl(info), L"http://product/");
  WriteRegString(HKEY_CURRENT_USER, kSettingsBaseKey, L"DebugBannerDownloadUrl_v2", L"http://banners/");
  EXPECT_EQ(GetDebugBannerDownloadUrl(info), L"http://banners/");
}

TEST_F(SettingsTest, ActivePidIsADwordAndAnythingElseIsNone) {
  EXPECT_EQ(ReadActivePID(info), 0u);
  WriteActivePID(info, 4242);
  EXPECT_EQ(ReadActivePID(info), 4242u);
  SetProductValue(L"ActivePID", REG_SZ, L"4242");
  EXPECT_EQ(ReadActivePID(info), 0u);
}

TEST_F(SettingsTest, UpdateResultGoesToProductAndVersionKeyAndIsClearedFromBoth) {
  WriteUpdateResult(info, 1, L"A newer version is available.");
  for (const std::wstring& path : {GetProductSettingsKey(info), GetVersionSettingsKey(info)}) {
    EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, path, L"UpdateResult"), 1u);
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, path, L"UpdateResultString"), L"A newer version is available.");
  }
  ClearUpdateResult(info);
  for (const std::wstring& path : {GetProductSettingsKey(info), GetVersionSettingsKey(info)}) {
    EXPECT_FALSE(ReadRegDword(HKEY_CURRENT_USER, path, L"UpdateResult").has_value());
    EXPECT_FALSE(ReadRegString(HKEY_CURRENT_USER, path, L"UpdateResultString").has_value());
  }
}

TEST_F(SettingsTest, LastUpdateCheckIsMachineWideAndNeverWrittenByAnInstaller) {
  info.IsStubExe = 1;
  WriteLastUpdateCheck(info, 1700000000);
  EXPECT_FALSE(ReadRegString(HKEY_LOCAL_MACHINE, GetVersionSettingsKey(info), L"LastUpdateCheck").has_value());

  info.IsStubExe = 0;
  WriteLastUpdateCheck(info, 1700000000);
  EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, GetVersionSettingsKey(info), L"LastUpdateCheck"), L"1700000000");
  WriteLastUpdateCheckNow(info);
  const auto now = ReadRegString(HKEY_LOCAL_MACHINE, GetVersionSettingsKey(info), L"LastUpdateCheck");
  ASSERT_TRUE(now.has_value());
  EXPECT_GT(std::stoll(*now), 1700000000);
}

TEST_F(SettingsTest, IgnoredVersionBelongsToTheVersionKey) {
  EXPECT_EQ(ReadIgnoredVersionUpdate(info), L"-1");
  WriteIgnoredVersionUpdate(info, L"7.2.0");
  EXPECT_EQ(ReadIgnoredVersionUpdate(info), L"7.2.0");
  ClearIgnoredVersionUpdate(info);
  EXPECT_EQ(ReadIgnoredVersionUpdate(info), L"");

  WriteIgnoredVersionUpdate(info, L"7.2.0");
  info.ProgramVersion = L"7.2";  // a new version starts with nothing ignored
  EXPECT_EQ(ReadIgnoredVersionUpdate(info), L"-1");
}

TEST_F(SettingsTest, IgnoredMajorUpgradeReadsLikeAtoi) {
  EXPECT_EQ(ReadIgnoredMajorVersionUpgrade(info), -1);
  WriteIgnoredMajorVersionUpgrade(info, 5);
  EXPECT_EQ(ReadIgnoredMajorVersionUpgrade(info), 5);
  SetProductValue(L"IgnoreProductMajorVersionUpgrade", REG_SZ, L"no digits");
  EXPECT_EQ(ReadIgnoredMajorVersionUpgrade(info), 0);
  SetProductValue(L"IgnoreProductMajorVersionUpgrade", REG_DWORD, L"");
  EXPECT_EQ(ReadIgnoredMajorVersionUpgrade(info), -1);
}
