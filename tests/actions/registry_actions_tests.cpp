// The instruction's registry steps against the real machine registry.

#include "actions/registry_actions.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "support/log_capture.h"
#include "support/reg_tree_guard.h"
#include "support/scratch.h"
#include "system/registry.h"

namespace {

using testing_support::LogCapture;

tinyxml2::XMLElement* Parse(tinyxml2::XMLDocument& document, const char* xml) {
  EXPECT_EQ(document.Parse(xml), tinyxml2::XML_SUCCESS) << xml;
  return document.RootElement();
}

class RegistryActions : public ::testing::Test {
 protected:
  RegistryActions() : path_(L"Software\\VLRenovaTests\\" + testing_support::UniqueName(L"actions")) {}

  std::optional<DWORD> Dword(const wchar_t* name) const { return ReadRegDword(HKEY_LOCAL_MACHINE, path_, name); }
  std::optional<std::wstring> String(const wchar_t* name) const {
    return ReadRegString(HKEY_LOCAL_MACHINE, path_, name);
  }

  std::unique_ptr<ActionSetRegKey> Setter(const wchar_t* type, const std::wstring& data) const {
    auto action = std::make_unique<ActionSetRegKey>();
    action->Key = path_;
    action->Value = L"V";
    action->Type = type;
    action->Data = data;
    return action;
  }

  std::wstring path_;
  const testing_support::RegTreeGuard guard_{HKEY_LOCAL_MACHINE, path_};
};

TEST_F(RegistryActions, DeletingAValueOfAMissingKeyOrAMissingValueSucceeds) {
  ActionDelRegValue missingKey;
  missingKey.Key = path_ + L"\\nowhere";
  missingKey.Value = L"V";
  EXPECT_EQ(missingKey.Execute(), kActionSucceeded);
  EXPECT_FALSE(OpenRegKey(HKEY_LOCAL_MACHINE, missingKey.Key));

  ASSERT_TRUE(WriteRegDword(HKEY_LOCAL_MACHINE, path_, L"V", 5));
  ASSERT_TRUE(WriteRegDword(HKEY_LOCAL_MACHINE, path_, L"Other", 6));
  ActionDelRegValue existing;
  existing.Key = path_;
  existing.Value = L"V";
  EXPECT_EQ(existing.Execute(), kActionSucceeded);
  EXPECT_FALSE(Dword(L"V"));
  EXPECT_EQ(Dword(L"Other"), 6u);
  EXPECT_EQ(existing.Execute(), kActionSucceeded);
}

TEST_F(RegistryActions, DwordDataIsReadTheWayAtolReadsIt) {
  const std::pair<const wchar_t*, DWORD> cases[] = {
      {L"1234", 1234}, {L"-1", 0xFFFFFFFF}, {L"abc", 0}, {L"  42xyz", 42}, {L"", 0}, {L"+7", 7},
  };
  for (const auto& [data, stored] : cases) {
    auto action = Setter(L"DWORD", data);
    EXPECT_EQ(action->Execute(), kActionSucceeded) << data;
    EXPECT_EQ(Dword(L"V"), stored) << data;
  }
}

TEST_F(RegistryActions, StringDataIsCutAt260Characters) {
  std::wstring data;
  for (int i = 0; i < 300; ++i) data += static_cast<wchar_t>(L'a' + i % 26);
  auto action = Setter(L"SZ", data);
  EXPECT_EQ(action->Execute(), kActionSucceeded);
  EXPECT_EQ(String(L"V"), data.substr(0, 260));

  auto shortText = Setter(L"SZ", L"1.2.3");
  EXPECT_EQ(shortText->Execute(), kActionSucceeded);
  EXPECT_EQ(String(L"V"), L"1.2.3");
}

TEST_F(RegistryActions, AnUnknownTypeCreatesTheKeyAndStoresNothing) {
  for (const wchar_t* type : {L"dword", L"sz", L"BINARY", L""}) {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str());
    auto action = Setter(type, L"1");
    EXPECT_EQ(action->Execute(), kActionSucceeded) << type;
    const win::UniqueRegKey key = OpenRegKey(HKEY_LOCAL_MACHINE, path_);
    ASSERT_TRUE(key) << type;
    DWORD values = 99;
    ASSERT_EQ(::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                                 nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 0u) << type;
  }
}

TEST_F(RegistryActions, ParsingReadsTheAttributesAndMissingOnesAsEmpty) {
  tinyxml2::XMLDocument document;
  const std::string xml =
      "<Action Name=\"SetRegValue\" Key=\"Software\\First\" Value=\"V\""
      " Type=\"DWORD\" Data=\"9\" PostInstallationActionCompatible=\"1\"/>";
  LogCapture log;
  ActionSetRegKey full;
  EXPECT_EQ(full.ParseFromXml(*Parse(document, xml.c_str())), 1);
  EXPECT_EQ(full.Key, L"Software\\First");
  EXPECT_EQ(full.Value, L"V");
  EXPECT_EQ(full.Type, L"DWORD");
  EXPECT_EQ(full.Data, L"9");
  EXPECT_EQ(full.PostInstallationActionCompatible, 1);
  EXPECT_EQ(full.ActionType, kActionSetRegKey);
  EXPECT_EQ(full.PostActionCompatible, 1);
  EXPECT_EQ(log.CountAt(L"INF", L"Add ActionSetRegKey for Software\\First with Value V(DWORD) = 9"), 1u);

  for (const char* flag : {"true", "01", "", " 1", "2"}) {
    const std::string other = std::string("<a PostInstallationActionCompatible=\"") + flag + "\"/>";
    ActionSetRegKey action;
    action.ParseFromXml(*Parse(document, other.c_str()));
    EXPECT_EQ(action.PostInstallationActionCompatible, 0) << flag;
    EXPECT_TRUE(action.Key.empty());
    EXPECT_TRUE(action.Data.empty());
  }

  ActionDelRegValue deleter;
  EXPECT_EQ(deleter.ParseFromXml(*Parse(document, "<a Key=\"K\\\xFC\" Value=\"&lt;v&gt;\"/>")), 1);
  EXPECT_EQ(deleter.Key, L"K\\\u00FC");
  EXPECT_EQ(deleter.Value, L"<v>");
  EXPECT_EQ(log.CountAt(L"INF", L"Add ActionDelRegKey for K\\\u00FC"), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L"Add ActionDelRegValue for <v>"), 1u);
}

TEST_F(RegistryActions, SettingLogsWhatItSets) {
  LogCapture log;
  auto action = Setter(L"SZ", L"x");
  action->Execute();
  EXPECT_EQ(log.CountAt(L"INF", L"setting reg key " + path_ + L" with Value V(SZ) = x"), 1u);
}

}  // namespace
