// The Windows Installer source and the feature list against a real package,
// installed into the prefix with msiexec once for the suite.

#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "product/installed_product_sources.h"
#include "source_test_support.h"
#include "support/log_capture.h"

namespace {

using namespace source_tests;
using testing_support::LogCapture;

class InstalledMsiProduct : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { package_ = std::make_unique<InstalledTestPackage>(); }
  static void TearDownTestSuite() { package_.reset(); }
  void SetUp() override { ASSERT_EQ(DWORD{0}, package_->installResult()) << "msiexec did not install the package"; }

  static std::unique_ptr<InstalledTestPackage> package_;
};

std::unique_ptr<InstalledTestPackage> InstalledMsiProduct::package_;

TEST_F(InstalledMsiProduct, ReadFromMsiDBFindsTheProductByLocationOrName) {
  ProgramInfos withBackslash;
  withBackslash.InstalledLocation = std::wstring(kPackageLocation) + L"\\";
  withBackslash.ProgramName = L"whatever the switches said";
  ProgramInfos withoutBackslash;
  withoutBackslash.InstalledLocation = kPackageLocation;
  ProgramInfos byName;
  byName.ProgramName = kPackageName;
  LogCapture log;

  for (ProgramInfos* info : {&withBackslash, &withoutBackslash, &byName}) {
    ASSERT_TRUE(ReadFromMsiDB(*info));
    EXPECT_EQ(kPackageCode, info->UninstallKeyName);
    EXPECT_EQ(kPackageLocation, info->InstalledLocation);  // as the installer holds it
    EXPECT_EQ(kPackageName, info->ProgramName);
    EXPECT_EQ(L"VLRenova Sources Test && Tools", info->DisplayNameForLabels);
    EXPECT_EQ(L"2.5.7", info->ProgramVersion);
    EXPECT_EQ(8u, info->InstallDate.size());
    EXPECT_EQ(1033, info->Language);
  }
  EXPECT_EQ(3u, log.Count(L"Find product guid"));
  EXPECT_EQ(3u, log.Count(L"ReadFromMsiDB succeeded"));
}

TEST_F(InstalledMsiProduct, ReadFromMsiDBComparesExactly) {
  ProgramInfos otherCase;
  otherCase.InstalledLocation = L"c:\\program files\\vlrenova sources test\\";
  otherCase.ProgramName = L"Kept";
  ProgramInfos partOfName;
  partOfName.ProgramName = L"VLRenova Sources Test";
  ProgramInfos nothing;
  LogCapture log;

  EXPECT_FALSE(ReadFromMsiDB(otherCase));
  EXPECT_FALSE(ReadFromMsiDB(partOfName));
  EXPECT_FALSE(ReadFromMsiDB(nothing));
  EXPECT_EQ(L"Kept", otherCase.ProgramName);
  EXPECT_EQ(L"", otherCase.UninstallKeyName + partOfName.UninstallKeyName + nothing.UninstallKeyName);
  EXPECT_EQ(2u, log.Count(L"ReadFromMsiDB failed"));  // the empty record gives up quietly at the first product
}

TEST_F(InstalledMsiProduct, ReadFromRegistryReadsTheEntryTheInstallerWrote) {
  ProgramInfos info;
  info.InstalledLocation = std::wstring(kPackageLocation) + L"\\";
  ASSERT_TRUE(ReadFromRegistry(info));
  EXPECT_EQ(kPackageCode, info.UninstallKeyName);
  EXPECT_EQ(kPackageName, info.ProgramName);
  EXPECT_EQ(L"2.5.7", info.ProgramVersion);
  EXPECT_EQ(1033, info.Language);
}

// Wine 8's MsiEnumFeaturesW lists no features, so the list logic is handed the
// package's feature names here; the states still come from the real installer.
TEST_F(InstalledMsiProduct, FeatureListCarriesTheInstallerStateOfEveryFeature) {
  const std::vector<std::wstring> names = {L"Core", L"Reports", L"Sync", L"Archive", L"Legacy", L"NoSuchFeature"};
  const std::vector<int32_t> states = {INSTALLSTATE_LOCAL,  INSTALLSTATE_LOCAL,  INSTALLSTATE_LOCAL,
                                       INSTALLSTATE_ABSENT, INSTALLSTATE_ABSENT, INSTALLSTATE_UNKNOWN};
  const auto fixedList = [&names](DWORD index, std::wstring& featureName) -> UINT {
    if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
    featureName = names[index];
    return ERROR_SUCCESS;
  };

  std::vector<MsiFeatureState> features = {{L"Earlier", 1}};
  LogCapture log;
  ASSERT_TRUE(ReadMsiFeatureList(kPackageCode, features, fixedList));
  ASSERT_EQ(names.size() + 1, features.size());
  EXPECT_EQ(L"Earlier", features[0].FeatureName);  // appended to, not replaced
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(names[i], features[i + 1].FeatureName);
    EXPECT_EQ(states[i], features[i + 1].InstallState) << names[i];
  }
  EXPECT_EQ(1u, log.Count(L"FeatureName: Archive\t-> InstallState: 2"));

  std::vector<MsiFeatureState> none;
  EXPECT_FALSE(ReadMsiFeatureList(L"", none, fixedList));
  EXPECT_TRUE(none.empty());
}

TEST_F(InstalledMsiProduct, FeatureListFromTheRealInstaller) {
  std::vector<MsiFeatureState> features;
  ASSERT_TRUE(ReadMsiFeatureList(kPackageCode, features));
  if (features.empty()) GTEST_SKIP() << "this installer enumerates no features (as Wine 8's)";

  const std::map<std::wstring, int32_t> installed = {{L"Core", INSTALLSTATE_LOCAL},
                                                     {L"Reports", INSTALLSTATE_LOCAL},
                                                     {L"Sync", INSTALLSTATE_LOCAL},
                                                     {L"Archive", INSTALLSTATE_ABSENT},
                                                     {L"Legacy", INSTALLSTATE_ABSENT}};
  std::map<std::wstring, int32_t> listed;
  for (const MsiFeatureState& feature : features) listed[feature.FeatureName] = feature.InstallState;
  EXPECT_EQ(installed.size(), features.size());
  EXPECT_EQ(installed, listed);
}

// Outside the suite's package: with no product installed at all, a record with
// nothing to compare still ends in the "no match" failure and its log line.
TEST(ReadFromMsiDB, NoInstalledProductAtAllIsLoggedAsNoMatch) {
  const testing_support::UninstallKeyLock lock;  // no test package appears meanwhile
  wchar_t code[MAX_GUID_CHARS + 1] = {};
  if (::MsiEnumProductsW(0, code) == ERROR_SUCCESS) GTEST_SKIP() << "the prefix holds Windows Installer products";

  ProgramInfos unnamed;
  unnamed.DisplayName = L"Shown";
  LogCapture log;
  EXPECT_FALSE(ReadFromMsiDB(unnamed));
  EXPECT_EQ(1u, log.Count(L"ReadFromMsiDB failed"));
}

}  // namespace
