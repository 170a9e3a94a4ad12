// The uninstall-key source against the prefix's real uninstall key. Each test
// adds its own entries with unique names and values, so no other entry takes
// part, and holds the uninstall-key lock so that no other test program changes
// the key while it searches.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "product/installed_product_sources.h"
#include "source_test_support.h"
#include "support/log_capture.h"
#include "support/scratch.h"
#include "support/uninstall_entry.h"
#include "system/registry.h"

namespace {

using testing_support::UninstallEntry;
using testing_support::UninstallKeyLock;
using testing_support::UniqueName;

std::wstring UniqueLocation() { return L"C:\\VLRN Tests\\" + UniqueName(L"location"); }

TEST(UninstallKeySearch, MatchesLocationsIgnoringCaseAndOneTrailingBackslash) {
  const UninstallKeyLock lock;  // first: the entries go before it is released
  const std::wstring stored = UniqueLocation();
  UninstallEntry entry(UniqueName(L"VLRN-case"));
  entry.Set(L"InstallLocation", stored + L"\\");
  std::wstring upper = stored;
  ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));

  std::wstring keyName;
  ASSERT_TRUE(GetUninstallRegKey(keyName, L"InstallLocation", upper));
  EXPECT_EQ(entry.name(), keyName);

  keyName = L"untouched";
  EXPECT_FALSE(GetUninstallRegKey(keyName, L"InstallLocation", stored + L"\\\\"));
  EXPECT_FALSE(GetUninstallRegKey(keyName, L"InstallLocation", stored.substr(0, stored.size() - 1)));
  EXPECT_EQ(L"untouched", keyName);
}

TEST(UninstallKeySearch, NewestInstallDateWinsAndAmongEqualDatesTheLastEnumerated) {
  const UninstallKeyLock lock;
  // Subkeys enumerate in name order: "-a", "-b", "-c".
  const std::wstring location = UniqueLocation();
  const std::wstring base = UniqueName(L"VLRN-dated");
  UninstallEntry first(base + L"-a");
  UninstallEntry second(base + L"-b");
  UninstallEntry undated(base + L"-c");
  first.Set(L"InstallLocation", location).Set(L"InstallDate", L"20240312");
  second.Set(L"InstallLocation", location).Set(L"InstallDate", L"20230101");
  undated.Set(L"InstallLocation", location);

  std::wstring keyName;
  ASSERT_TRUE(GetUninstallRegKey(keyName, L"InstallLocation", location));
  EXPECT_EQ(first.name(), keyName);
  second.Set(L"InstallDate", L"20240312");
  ASSERT_TRUE(GetUninstallRegKey(keyName, L"InstallLocation", location));
  EXPECT_EQ(second.name(), keyName);
}

TEST(UninstallKeySearch, SkipsValuesThatAreNoUsableText) {
  const UninstallKeyLock lock;
  const std::wstring location = UniqueLocation();
  const std::wstring fullPath = location + L"\\" + std::wstring(259 - location.size(), L'y');  // 260 characters
  const std::wstring tooLong = fullPath + L"z";
  UninstallEntry expandable(UniqueName(L"VLRN-expand"));
  UninstallEntry binary(UniqueName(L"VLRN-binary"));
  UninstallEntry empty(UniqueName(L"VLRN-empty"));
  UninstallEntry full(UniqueName(L"VLRN-full"));
  UninstallEntry overlong(UniqueName(L"VLRN-overlong"));
  expandable.SetTyped(L"InstallLocation", REG_EXPAND_SZ, location);
  binary.SetTyped(L"InstallLocation", REG_BINARY, location);
  empty.Set(L"InstallLocation", std::wstring());
  full.Set(L"InstallLocation", fullPath);
  overlong.Set(L"InstallLocation", tooLong);

  std::wstring keyName;
  ASSERT_TRUE(GetUninstallRegKey(keyName, L"InstallLocation", fullPath));
  EXPECT_EQ(full.name(), keyName);
  keyName = L"untouched";
  EXPECT_FALSE(GetUninstallRegKey(keyName, L"InstallLocation", tooLong));
  EXPECT_FALSE(GetUninstallRegKey(keyName, L"InstallLocation", location));
  // A location that is a lone backslash must not pick some entry without one.
  EXPECT_FALSE(GetUninstallRegKey(keyName, L"InstallLocation", L"\\"));
  EXPECT_FALSE(GetUninstallRegKey(keyName, nullptr, location));
  EXPECT_EQ(L"untouched", keyName);
}

TEST(UninstallKeySearch, EndsWhenTheSearchedKeyIsDeletedUnderIt) {
  // Every index of a deleted key fails alike (1018 under Wine); the search
  // must end instead of stepping through indexes for ever.
  testing_support::ScratchRegKey scratch;
  win::UniqueRegKey parent = OpenRegKey(scratch.root(), scratch.path());
  ASSERT_TRUE(WriteRegString(scratch.root(), scratch.path() + L"\\entry", L"InstallLocation", L"C:\\Gone"));
  ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(scratch.root(), scratch.path().c_str()));

  std::wstring keyName;
  EXPECT_FALSE(FindSubkeyByValue(parent.get(), L"InstallLocation", L"C:\\Gone", keyName));
}

TEST(ReadFromRegistry, FillsTheRecordFromTheEntryOfAGermanProgramFolder) {
  const UninstallKeyLock lock;
  const std::wstring folder = UniqueName(L"Velbor Test");
  UninstallEntry entry(UniqueName(L"VLRN-german"));
  entry.Set(L"DisplayName", L"  Velbor Test & Co \t")
      .Set(L"DisplayVersion", L"3.1.4")
      .Set(L"InstallDate", L"20240517")
      .Set(L"InstallLocation", L"C:\\Program Files\\" + folder)
      .Set(L"Language", DWORD{1031});

  ProgramInfos info;
  info.InstalledLocation = L"C:\\Programme\\" + folder + L"\\";
  info.AffiliateId = L"partner7";
  ASSERT_TRUE(ReadFromRegistry(info));

  EXPECT_EQ(entry.name(), info.UninstallKeyName);
  EXPECT_EQ(L"Velbor Test & Co", info.ProgramName);
  EXPECT_EQ(L"Velbor Test & Co", info.DisplayName);
  EXPECT_EQ(L"Velbor Test && Co", info.DisplayNameForLabels);
  EXPECT_EQ(L"3.1.4", info.ProgramVersion);
  EXPECT_EQ(L"20240517", info.InstallDate);
  EXPECT_EQ(L"C:\\Program Files\\" + folder + L"\\", info.InstalledLocation);
  EXPECT_EQ(1031, info.Language);
  EXPECT_EQ(L"partner7", info.AffiliateId);
}

TEST(ReadFromRegistry, FallsBackToProgramNameAndLeavesBadValuesAlone) {
  const UninstallKeyLock lock;
  const std::wstring programName = UniqueName(L"Velbor Named");
  UninstallEntry entry(UniqueName(L"VLRN-named"));
  entry.Set(L"ProgramName", programName)
      .Set(L"DisplayName", DWORD{7})                    // wrong type
      .Set(L"DisplayVersion", std::wstring(260, L'9'))  // more than a 260-character buffer holds
      .Set(L"InstallDate", std::wstring(259, L'2'))     // just fits
      .Set(L"InstallLocation", std::wstring())          // empty stays empty
      .SetTyped(L"Language", REG_SZ, L"1031");          // wrong type

  ProgramInfos info;
  info.ProgramName = programName;
  info.DisplayName = L"Preset";
  info.ProgramVersion = L"1.0";
  info.InstalledLocation = UniqueLocation() + L"\\";  // matches nothing
  info.Language = 1033;
  testing_support::LogCapture log;
  ASSERT_TRUE(ReadFromRegistry(info));

  EXPECT_EQ(entry.name(), info.UninstallKeyName);
  EXPECT_EQ(programName, info.ProgramName);
  EXPECT_EQ(L"Preset", info.DisplayName);
  EXPECT_EQ(L"1.0", info.ProgramVersion);
  EXPECT_EQ(std::wstring(259, L'2'), info.InstallDate);
  EXPECT_EQ(L"", info.InstalledLocation);
  EXPECT_EQ(1033, info.Language);
  EXPECT_EQ(1u, log.Count(L"\"DisplayVersion\""));
  EXPECT_EQ(1u, log.Count(L"\"Language\""));
}

TEST(ReadFromRegistry, NothingFoundLeavesTheRecordAlone) {
  const UninstallKeyLock lock;
  ProgramInfos info;
  info.InstalledLocation = UniqueLocation() + L"\\";
  info.ProgramName = UniqueName(L"Velbor Nowhere");
  const ProgramInfos before = info;
  ProgramInfos empty;
  testing_support::LogCapture log;

  EXPECT_FALSE(ReadFromRegistry(info));
  EXPECT_FALSE(ReadFromRegistry(empty));
  EXPECT_EQ(before.InstalledLocation, info.InstalledLocation);
  EXPECT_EQ(before.ProgramName, info.ProgramName);
  EXPECT_EQ(L"", info.UninstallKeyName + empty.UninstallKeyName);
  EXPECT_EQ(2u, log.Count(L"GetUninstallRegKey failed"));
}

}  // namespace
