// Completion of the product record from the switches and the product's files.
#include <gtest/gtest.h>

#include "product/product_files.h"
#include "product/product_naming.h"
#include "product/program_infos_store.h"
#include "product/settings.h"
#include "support/log_capture.h"
#include "support/reg_tree_guard.h"
#include "support/scratch.h"
#include "system/registry.h"

using testing_support::ScratchFolder;
using testing_support::UniqueName;

namespace {

ProgramInfos FromSwitches(const std::wstring& name, const std::wstring& location) {
  ProgramInfos info;
  info.ProgramName = name;
  info.DisplayName = name;
  info.ProgramVersion = L"3.0.1";
  info.InstalledLocation = location;
  info.Language = 1031;
  return info;
}

}  // namespace

TEST(EditionName, TheFirstEditionWordGetsEditionAfterIt) {
  EXPECT_EQ(CompleteEditionName(L"X Tool 25 Professional"), L"X Tool 25 Professional Edition");
  EXPECT_EQ(CompleteEditionName(L"X Server 2019"), L"X Server Edition2019");
  EXPECT_EQ(CompleteEditionName(L"X Servers"), L"X Servers Edition");        // one character follows
  EXPECT_EQ(CompleteEditionName(L"Admin Server"), L"Admin Server Edition");  // Server is looked for first
  EXPECT_EQ(CompleteEditionName(L"X Media"), L"X Media Edition");
  EXPECT_EQ(CompleteEditionName(L"X Mediacenter"), L"X Mediacenter");
  EXPECT_EQ(CompleteEditionName(L"x professional"), L"x professional");
  EXPECT_EQ(CompleteEditionName(L""), L"");
}

TEST(CommentsSettings, TokensSetAffiliateAndLanguage) {
  ProgramInfos info;
  ApplyCommentsSettings(info, L"A:partner7$L:1041");
  EXPECT_EQ(info.AffiliateId, L"partner7");
  EXPECT_EQ(info.Language, 1041);

  ProgramInfos plain;
  ApplyCommentsSettings(plain, L"1031");
  EXPECT_EQ(plain.Language, 1031);

  ProgramInfos odd;
  ApplyCommentsSettings(odd, L"$$A:x$$");
  EXPECT_EQ(odd.AffiliateId, L"x");
  EXPECT_EQ(odd.Language, 0);
  ApplyCommentsSettings(odd, L"A$L:7");  // a token without ":" makes the whole text the language
  EXPECT_EQ(odd.Language, 7);
}

TEST(VersionInfoTxt, FourLinesFillTheRecordAndThreeCountAsFailure) {
  ScratchFolder folder;
  ProgramInfos info;
  info.InstalledLocation = folder.path();
  EXPECT_FALSE(ReadVersionInfoTxt(info));  // no file

  folder.WriteFile(L"VersionInfo.txt", "Foo & Bar\r\n2.5.0\r\n1041\r\n{GUID-1}\r\n");
  EXPECT_TRUE(ReadVersionInfoTxt(info));
  EXPECT_EQ(info.ProgramName, L"Foo & Bar");
  EXPECT_EQ(info.DisplayNameForLabels, L"Foo && Bar");
  EXPECT_EQ(info.ProgramVersion, L"2.5.0");
  EXPECT_EQ(info.Language, 1041);
  EXPECT_EQ(info.UninstallKeyName, L"{GUID-1}");

  ProgramInfos three;
  three.InstalledLocation = folder.path();
  folder.WriteFile(L"VersionInfo.txt", "Baz\n1.0\n1033");
  EXPECT_FALSE(ReadVersionInfoTxt(three));
  EXPECT_EQ(three.DisplayName, L"Baz");
  EXPECT_EQ(three.Language, 1033);
}

TEST(VersionInfoTxt, BinaryAndHugeContentGiveBoundedResults) {
  ScratchFolder folder;
  ProgramInfos info;
  info.InstalledLocation = folder.path();
  static const char binary[] = "Na\0me\n1\0.0\n\xff\xfe\nkey\n";
  folder.WriteFile(L"VersionInfo.txt", std::string(binary, sizeof(binary) - 1));
  EXPECT_TRUE(ReadVersionInfoTxt(info));
  EXPECT_EQ(info.ProgramName, L"Na");
  EXPECT_EQ(info.ProgramVersion, L"1");
  EXPECT_EQ(info.Language, 0);

  folder.WriteFile(L"VersionInfo.txt", std::string(1 << 20, 'x'));
  EXPECT_FALSE(ReadVersionInfoTxt(info));
  EXPECT_LE(info.ProgramName.size(), 64u * 1024);
}

TEST(CompleteProgramInfos, CompleteSwitchesNeedNoSourceAndDateComesFromTheProductFile) {
  ScratchFolder folder;
  folder.WriteFile(L"vlrenova.exe", "MZ");
  ProgramInfos working = FromSwitches(UniqueName(L"Valid"), folder.path());
  working.DisplayName = L"Valid & Sound Professional";
  ASSERT_TRUE(CompleteProgramInfos(working));

  const ProgramInfos published = GetProgramInfos();
  EXPECT_EQ(published.DisplayNameForLabels, L"Valid && Sound Professional");
  EXPECT_EQ(published.ProductEditionName, L"Valid & Sound Professional Edition");
  EXPECT_EQ(published.InstallDate.size(), 8u);
  EXPECT_EQ(published.InstallDate.substr(0, 2), L"20");
  EXPECT_EQ(published.InstalledLocation, folder.path());
}

TEST(CompleteProgramInfos, AProductFolderWithoutItsProgramFileLeavesTheDateEmptyWithoutAnError) {
  ScratchFolder folder;
  ProgramInfos working = FromSwitches(UniqueName(L"NoProgramFile"), folder.path());
  testing_support::LogCapture log;
  ASSERT_TRUE(CompleteProgramInfos(working));
  EXPECT_EQ(GetProgramInfos().InstallDate, L"");
  EXPECT_EQ(log.CountAt(L"ERR", L""), 0u);
  EXPECT_EQ(log.Count(L"Product infos valid"), 1u);
}

TEST(CompleteProgramInfos, PreviewSuffixIsRemovedThenAddedToEveryName) {
  ScratchFolder folder;
  const std::wstring name = UniqueName(L"Preview");
  ProgramInfos working = FromSwitches(name + kPreviewSuffix, folder.path());
  working.InstallDate = L"20240101";
  ASSERT_TRUE(CompleteProgramInfos(working));
  const ProgramInfos published = GetProgramInfos();
  EXPECT_EQ(published.ProgramName, name + kPreviewSuffix);
  EXPECT_EQ(published.DisplayName, name + kPreviewSuffix);
  EXPECT_EQ(published.ProductEditionName, name + kPreviewSuffix);
  EXPECT_EQ(published.InstallDate, L"20240101");

  // The machine-wide setting puts a product on the channel too.
  ProgramInfos byRegistry = FromSwitches(UniqueName(L"Channel"), folder.path());
  const testing_support::RegTreeGuard guard(HKEY_LOCAL_MACHINE, GetProductSettingsKey(byRegistry));
  WriteRegDword(HKEY_LOCAL_MACHINE, GetProductSettingsKey(byRegistry), L"PreviewChannel", 1);
  EXPECT_TRUE(IsPreviewChannel(byRegistry));
  ASSERT_TRUE(CompleteProgramInfos(byRegistry));
  EXPECT_EQ(GetProgramInfos().DisplayNameForLabels, byRegistry.DisplayName);
  EXPECT_NE(GetProgramInfos().ProgramName.find(kPreviewSuffix), std::wstring::npos);
}

TEST(CompleteProgramInfos, InstallationModeForgetsTheLocation) {
  ProgramInfos working = FromSwitches(UniqueName(L"Stub"), L"C:\\Somewhere\\");
  working.IsStubExe = 1;
  ASSERT_TRUE(CompleteProgramInfos(working));
  EXPECT_TRUE(GetProgramInfos().InstalledLocation.empty());
  EXPECT_EQ(GetProgramInfos().IsStubExe, 1);
}

TEST(CompleteProgramInfos, NothingToStartFromDiscardsTheRecord) {
  ProgramInfos published = FromSwitches(UniqueName(L"First"), L"C:\\First\\");
  ASSERT_TRUE(CompleteProgramInfos(published));
  ProgramInfos empty;
  EXPECT_FALSE(CompleteProgramInfos(empty));
}

TEST(CompleteProgramInfos, AVersionInfoTxtCompletesALocationOnlyStart) {
  ScratchFolder folder;
  const std::wstring name = UniqueName(L"FromFile");
  folder.WriteFile(L"VersionInfo.txt", std::string(name.begin(), name.end()) + "\r\n4.2\r\n1041\r\n{KEY}\r\n");
  ProgramInfos working;
  working.InstalledLocation = folder.path();
  ASSERT_TRUE(CompleteProgramInfos(working));
  const ProgramInfos published = GetProgramInfos();
  EXPECT_EQ(published.ProgramName, name);
  EXPECT_EQ(published.ProgramVersion, L"4.2");
  EXPECT_EQ(published.Language, 1041);
  EXPECT_EQ(published.UninstallKeyName, L"{KEY}");
}

TEST(CompleteProgramInfos, SafekeepNeedsItsEditionKey) {
  const std::wstring editionKey = L"SOFTWARE\\Velbor\\Velbor Safekeep\\{3A1F6C20-5B7E-4D9A-8C31-0E2B7D45A9F6}";
  const testing_support::RegTreeGuard guard(HKEY_LOCAL_MACHINE, editionKey);
  ProgramInfos working = FromSwitches(L"Velbor Safekeep", L"C:\\Safekeep\\");
  working.ProgramVersion = L"4.10.16";
  ProgramInfos withoutKey = working;
  EXPECT_FALSE(CompleteProgramInfos(withoutKey));

  WriteRegString(HKEY_LOCAL_MACHINE, editionKey, L"InstalledProductEdition", L"Server");
  ASSERT_TRUE(CompleteProgramInfos(working));
  const ProgramInfos published = GetProgramInfos();
  EXPECT_EQ(published.ProgramName, L"Velbor Safekeep Server");
  EXPECT_EQ(published.ProductEditionName, L"Velbor Safekeep Server Edition");

  ProgramInfos otherVersion = FromSwitches(L"Velbor Safekeep", L"C:\\Safekeep\\");
  otherVersion.ProgramVersion = L"4.10.12";
  ASSERT_TRUE(CompleteProgramInfos(otherVersion));
  EXPECT_EQ(GetProgramInfos().ProgramName, L"Velbor Safekeep");
}
