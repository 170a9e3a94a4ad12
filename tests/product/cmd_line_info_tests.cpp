#include "product/cmd_line_info.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

CmdLineInfo Parse(const std::wstring& arguments) {
  CmdLineInfo info;
  info.ParseCommandLine(L"VLRenovaWorker.exe " + arguments);
  return info;
}

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  return std::wstring(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
}

}  // namespace

TEST(CmdLineInfo, ProgramNameAlsoFillsAnEmptyDisplayName) {
  const CmdLineInfo alone = Parse(L"-ProgramName Foo");
  EXPECT_EQ(alone.ProgramInfo.ProgramName, L"Foo");
  EXPECT_EQ(alone.ProgramInfo.DisplayName, L"Foo");

  EXPECT_EQ(Parse(L"-ProgramName Foo -DisplayName Bar").ProgramInfo.DisplayName, L"Bar");
  EXPECT_EQ(Parse(L"-DisplayName Bar -ProgramName Foo").ProgramInfo.DisplayName, L"Bar");
  EXPECT_EQ(Parse(L"-DisplayName Bar -ProgramName Foo").ProgramInfo.ProgramName, L"Foo");
}

TEST(CmdLineInfo, EveryValueSwitchStoresItsValue) {
  const CmdLineInfo info = Parse(
      LR"(/ProgramVersion 3.1.4 -InstallDate 20260101 -WindowRec "10 20" -WindowCaption "My Updater" )"
      LR"(-AffiliateId aff-7 -UpdateIntervalInHours 24 -CheckIntervalInHours " -12x" -Language 1041)");
  EXPECT_EQ(info.ProgramInfo.ProgramVersion, L"3.1.4");
  EXPECT_EQ(info.ProgramInfo.InstallDate, L"20260101");
  EXPECT_EQ(info.WindowRec, L"10 20");
  EXPECT_EQ(info.WindowCaption, L"My Updater");
  // A value that begins with "-" loses it like every argument does.
  EXPECT_EQ(info.ProgramInfo.AffiliateId, L"aff-7");
  EXPECT_EQ(info.UpdateIntervalInHours, 24);
  EXPECT_EQ(info.CheckIntervalInHours, -12);
  EXPECT_EQ(info.ProgramInfo.Language, 1041);
  EXPECT_EQ(info.PendingSwitch, CmdLineInfo::Pending::None);
}

TEST(CmdLineInfo, IntegersAreReadLikeAtoi) {
  EXPECT_EQ(Parse(L"/Language 1031").ProgramInfo.Language, 1031);
  EXPECT_EQ(Parse(L"-Language 1031").ProgramInfo.Language, 1031);
  EXPECT_EQ(Parse(L"-Language de").ProgramInfo.Language, 0);
  EXPECT_EQ(Parse(L"-Language 1031de").ProgramInfo.Language, 1031);
  EXPECT_EQ(Parse(L"-Language \"  +7\"").ProgramInfo.Language, 7);
  EXPECT_EQ(Parse(L"-Language 99999999999999999999").ProgramInfo.Language, INT_MAX);
  // "-" is removed from every argument, so a negative value needs a second sign.
  EXPECT_EQ(Parse(L"-Language --5").ProgramInfo.Language, -5);
}

TEST(CmdLineInfo, NamesAreExactAndCaseSensitive) {
  const CmdLineInfo info = Parse(L"-programname Foo -QUICKCHECK --QuickCheck -ForceUpdate");
  EXPECT_TRUE(info.ProgramInfo.ProgramName.empty());
  EXPECT_TRUE(info.ProgramInfo.DisplayName.empty());
  EXPECT_EQ(info.QuickCheck, 0);
}

TEST(CmdLineInfo, APendingSwitchTakesTheNextArgumentWhateverItIs) {
  const CmdLineInfo info = Parse(L"-DisplayName -IsStubExe");
  EXPECT_EQ(info.ProgramInfo.DisplayName, L"IsStubExe");
  EXPECT_EQ(info.ProgramInfo.IsStubExe, 0);

  const CmdLineInfo last = Parse(L"-UpdateSilent -WindowRec");
  EXPECT_TRUE(last.WindowRec.empty());
  EXPECT_EQ(last.PendingSwitch, CmdLineInfo::Pending::WindowRec);
  EXPECT_EQ(last.UpdateSilent, 1);

  EXPECT_EQ(Parse(LR"(-WindowCaption "")").WindowCaption, L"");
}

TEST(CmdLineInfo, EveryFlagSetsOnlyItsOwnField) {
  const CmdLineInfo none = Parse(L"");
  const CmdLineInfo all = Parse(
      L"-IsStubExe -QuickCheck -UpdateCheckSilent -UpdateSilent -WriteCheckResultToReg "
      L"-HideUpdateCheckResult -OnlyDownload -Tray -OnlyAdViewer -RestartAfterSelfUpdate -UpdateFromVersionV1");
  const int32_t CmdLineInfo::*flags[] = {&CmdLineInfo::QuickCheck,
                                         &CmdLineInfo::UpdateCheckSilent,
                                         &CmdLineInfo::UpdateSilent,
                                         &CmdLineInfo::WriteCheckResultToReg,
                                         &CmdLineInfo::HideUpdateCheckResult,
                                         &CmdLineInfo::OnlyDownload,
                                         &CmdLineInfo::Tray,
                                         &CmdLineInfo::OnlyAdViewer,
                                         &CmdLineInfo::RestartAfterSelfUpdate,
                                         &CmdLineInfo::UpdateFromVersionV1};
  for (auto flag : flags) {
    EXPECT_EQ(none.*flag, 0);
    EXPECT_EQ(all.*flag, 1);
  }
  EXPECT_EQ(all.ProgramInfo.IsStubExe, 1);
  EXPECT_EQ(Parse(L"-Tray").QuickCheck, 0);
}

TEST(CmdLineInfo, InstalledLocationEndsInExactlyOneBackslash) {
  EXPECT_EQ(Parse(LR"(-InstalledLocation C:\Apps\Foo)").ProgramInfo.InstalledLocation, LR"(C:\Apps\Foo\)");
  EXPECT_EQ(Parse(LR"(-InstalledLocation C:\Apps\Foo\\\)").ProgramInfo.InstalledLocation, LR"(C:\Apps\Foo\)");
  EXPECT_EQ(Parse(LR"(-InstalledLocation "")").ProgramInfo.InstalledLocation, LR"(\)");
  EXPECT_EQ(Parse(L"-UpdateFromVersionV1").ProgramInfo.InstalledLocation, LR"(\)");
  EXPECT_EQ(Parse(LR"(-InstalledLocation "D:\My Apps\\" -UpdateFromVersionV1)").ProgramInfo.InstalledLocation,
            LR"(D:\My Apps\)");
}

TEST(CmdLineInfo, FileListSkipsEmptyTokensTrimsAndAccumulates) {
  const CmdLineInfo info = Parse(LR"(-FileList "a.dll ;b.exe;; c.sys" -FileList "  ;d e.txt")");
  EXPECT_EQ(info.ProgramInfo.FileList, (std::vector<std::wstring>{L"a.dll", L"b.exe", L"c.sys", L"", L"d e.txt"}));
  EXPECT_TRUE(Parse(L"-FileList ;;;").ProgramInfo.FileList.empty());
}

TEST(CmdLineInfo, TheOwnPathIsSkippedEvenWhereAValueIsExpected) {
  CmdLineInfo info;
  info.ParseParam(L"InstalledLocation");
  info.ParseParam(OwnPath());
  EXPECT_EQ(info.PendingSwitch, CmdLineInfo::Pending::InstalledLocation);
  info.ParseParam(LR"(D:\X)");
  EXPECT_EQ(info.ProgramInfo.InstalledLocation, LR"(D:\X\)");
}

TEST(CmdLineInfo, HugeAndNonAsciiValuesAreKeptWhole) {
  const std::wstring huge(70000, L'\u00e9');
  const CmdLineInfo info = Parse(L"-ProgramName \"Pr\u00fcfer \u4e2d\" -DisplayName " + huge);
  EXPECT_EQ(info.ProgramInfo.ProgramName, L"Pr\u00fcfer \u4e2d");
  EXPECT_EQ(info.ProgramInfo.DisplayName, huge);
}
