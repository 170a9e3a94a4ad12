#include "product/product_folders.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <ctime>
#include <string>

#include "support/child_process.h"
#include "support/scratch.h"
#include "system/file_system.h"
#include "system/module_path.h"
#include "win/strings.h"

namespace {

ProgramInfos Product(const std::wstring& name, const std::wstring& version) {
  ProgramInfos infos;
  infos.ProgramName = name;
  infos.ProgramVersion = version;
  return infos;
}

std::wstring VendorFolder() {
  std::wstring folder;
  EXPECT_TRUE(GetVendorTempFolder(folder));
  return folder;
}

// A product of its own per test, removed with its folder afterwards.
class ProductFolder : public ::testing::Test {
 protected:
  void TearDown() override {
    std::wstring folder;
    if (GetProductCacheFolder(folder, infos_, true)) DeleteDirectoryTree(folder, true);
  }
  ProgramInfos infos_ = Product(testing_support::UniqueName(L"Test+Product"), L"3.4.5");
};

TEST(GetProductFolderName, SafeNameAndMajorVersion) {
  EXPECT_EQ(GetProductFolderName(Product(L"Tool+ 2 (Pro)", L"3.4.5")), L"Tool 2 Pro 3");
  EXPECT_EQ(GetProductFolderName(Product(L"Tool", L"12.0")), L"Tool 12");
  // No "." means no major part; the blank before it would vanish on disk anyway.
  EXPECT_EQ(GetProductFolderName(Product(L"Tool", L"10")), L"Tool");
  // The version is outside input too: it must not leave the product folder.
  EXPECT_EQ(GetProductFolderName(Product(L"Tool", L"3\\Windows\\System32.1")), L"Tool 3WindowsSystem32");
}

TEST(GetProductFolderName, WithoutVersionTheCurrentTimeStandsIn) {
  const long long before = std::time(nullptr);
  const std::wstring name = GetProductFolderName(Product(L"Tool", L""));
  const long long after = std::time(nullptr);

  ASSERT_EQ(name.substr(0, 5), L"Tool ");
  const long long seconds = std::stoll(name.substr(5));
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, after);
}

TEST_F(ProductFolder, IsCreatedBelowTheVendorFolder) {
  const std::wstring expected = VendorFolder() + L"VL Renova\\" + GetProductFolderName(infos_);

  std::wstring folder;
  ASSERT_TRUE(GetProductCacheFolder(folder, infos_, false));
  EXPECT_EQ(folder, expected);
  EXPECT_TRUE(::GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);

  ASSERT_TRUE(GetProductCacheFolder(folder, infos_, true));
  EXPECT_EQ(folder, expected + L"\\");
}

TEST_F(ProductFolder, AdViewerVersionComesFromTheProgramThere) {
  std::wstring version = L"stale";
  EXPECT_FALSE(GetAdViewerVersion(infos_, version));

  std::wstring folder;
  ASSERT_TRUE(GetProductCacheFolder(folder, infos_, true));
  const std::wstring viewer = folder + L"REVoRuzure.exe";
  ASSERT_TRUE(::CopyFileW((testing_support::BinFolder() + L"two_translations.exe").c_str(), viewer.c_str(), FALSE));

  ASSERT_TRUE(GetAdViewerVersion(infos_, version));
  EXPECT_EQ(version, L"2.5.1 / 2.5.1-de");
}

TEST(RunningProgram, FolderAndName) {
  std::wstring folder;
  std::wstring name;
  ASSERT_TRUE(GetModulDirectory(folder));
  ASSERT_TRUE(GetModuleName(name));
  EXPECT_EQ(folder, testing_support::BinFolder());
  EXPECT_EQ(name, L"actions_tests.exe");
}

}  // namespace
