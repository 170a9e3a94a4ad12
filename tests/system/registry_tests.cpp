// The registry rules against the real registry of the Wine prefix.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/read_only_dacl.h"
#include "support/reg_tree_guard.h"
#include "support/scratch.h"
#include "system/registry.h"

namespace {

using testing_support::ScratchRegKey;
using testing_support::UniqueName;

// Stores raw bytes with a given type, bypassing the updater's own write rules,
// the way another program could have left a value.
void StoreRaw(HKEY key, const wchar_t* name, DWORD type, const void* data, size_t bytes) {
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes)));
}

class RegistryValues : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = OpenRegKey(scratch_.root(), scratch_.path(), kRegFullAccess);
    ASSERT_TRUE(key_.valid());
  }
  HKEY key() const { return key_.get(); }

  ScratchRegKey scratch_;
  win::UniqueRegKey key_;
};

// A scratch key under HKEY_LOCAL_MACHINE, where DeleteMachineValue works.
class MachineKey {
 public:
  MachineKey() : guard_(HKEY_LOCAL_MACHINE, L"Software\\VLRenovaTests\\" + UniqueName(L"machine")) {
    key_ = CreateRegKey(HKEY_LOCAL_MACHINE, guard_.path());
  }
  const std::wstring& path() const { return guard_.path(); }
  HKEY get() const { return key_.get(); }

 private:
  testing_support::RegTreeGuard guard_;  // removes the key after key_ has closed it
  win::UniqueRegKey key_;
};

using testing_support::ReadOnlyDacl;

TEST_F(RegistryValues, QueryStringValueRejectsEverythingButRegSz) {
  const DWORD number = 7;
  StoreRaw(key(), L"Dword", REG_DWORD, &number, sizeof(number));
  const wchar_t expand[] = L"%TEMP%\\x";
  StoreRaw(key(), L"Expand", REG_EXPAND_SZ, expand, sizeof(expand));

  for (const wchar_t* name : {L"Dword", L"Expand"}) {
    std::wstring text = L"stale";
    EXPECT_EQ(DISP_E_TYPEMISMATCH, QueryStringValue(key(), name, &text)) << name;
    EXPECT_TRUE(text.empty()) << name;
    EXPECT_FALSE(ReadRegString(key(), name).has_value()) << name;
  }

  std::wstring text = L"stale";
  EXPECT_EQ(static_cast<HRESULT>(0x80070002), QueryStringValue(key(), L"Missing", &text));
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(E_INVALIDARG, QueryStringValue(nullptr, L"Missing", &text));
  EXPECT_EQ(E_INVALIDARG, QueryStringValue(key(), L"Missing", nullptr));
}

TEST_F(RegistryValues, QueryStringValueTerminatesWhateverWasStored) {
  // Without a terminator. The system adds the null itself when the character
  // after the counted ones is one, so the source goes on with a non-null.
  const std::wstring bare = L"no terminator";
  const std::wstring source = bare + L"X";
  StoreRaw(key(), L"Bare", REG_SZ, source.data(), bare.size() * sizeof(wchar_t));
  DWORD storedBytes = 0;
  ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key(), L"Bare", nullptr, nullptr, nullptr, &storedBytes));
  ASSERT_EQ(bare.size() * sizeof(wchar_t), storedBytes) << "the value was stored with a terminator";
  // An odd byte count: the stray byte is not a character.
  StoreRaw(key(), L"Odd", REG_SZ, L"abcd", 5);
  // Data with an inner null reads like the C string it holds.
  const wchar_t inner[] = L"first\0second";
  StoreRaw(key(), L"Inner", REG_SZ, inner, sizeof(inner));
  // A value far larger than any setting: read whole, not cut.
  const std::wstring large(1 << 20, L'x');
  StoreRaw(key(), L"Large", REG_SZ, large.data(), large.size() * sizeof(wchar_t));

  std::wstring text;
  ASSERT_EQ(S_OK, QueryStringValue(key(), L"Bare", &text));
  EXPECT_EQ(bare, text);
  ASSERT_EQ(S_OK, QueryStringValue(key(), L"Odd", &text));
  EXPECT_EQ(L"ab", text);
  ASSERT_EQ(S_OK, QueryStringValue(key(), L"Inner", &text));
  EXPECT_EQ(L"first", text);
  ASSERT_EQ(S_OK, QueryStringValue(key(), L"Large", &text));
  EXPECT_EQ(large.size(), text.size());
  EXPECT_EQ(large, text);
}

TEST_F(RegistryValues, StringsReadBackUnchanged) {
  const std::vector<std::wstring> texts = {L"", L"1700000000", L"Gr\u00fc\u00dfe \u81ea\u52d5\u66f4\u65b0",
                                           std::wstring(300, L'v')};
  for (const std::wstring& written : texts) {
    ASSERT_EQ(ERROR_SUCCESS, WriteRegString(key(), L"Text", written));
    DWORD type = REG_NONE;
    ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key(), L"Text", nullptr, &type, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(written, ReadRegString(key(), L"Text"));
  }
}

TEST_F(RegistryValues, DwordsAreReadOnlyAsFourByteRegDword) {
  ASSERT_EQ(ERROR_SUCCESS, WriteRegDword(key(), L"Number", 0xFFFFFFFF));
  EXPECT_EQ(0xFFFFFFFFu, ReadRegDword(key(), L"Number"));

  StoreRaw(key(), L"Text", REG_SZ, L"5", 2);
  const WORD shortNumber = 5;
  StoreRaw(key(), L"Short", REG_DWORD, &shortNumber, sizeof(shortNumber));
  const ULONGLONG longNumber = 5;
  StoreRaw(key(), L"Long", REG_DWORD, &longNumber, sizeof(longNumber));
  for (const wchar_t* name : {L"Text", L"Short", L"Long", L"Missing"}) {
    EXPECT_FALSE(ReadRegDword(key(), name).has_value()) << name;
  }

  // Deleting twice: the second time there is nothing left, which is not a failure.
  EXPECT_EQ(ERROR_SUCCESS, DeleteRegValue(key(), L"Number"));
  EXPECT_FALSE(ReadRegDword(key(), L"Number").has_value());
  EXPECT_EQ(ERROR_SUCCESS, DeleteRegValue(key(), L"Number"));
}

TEST(RegistryKeys, WritesByPathCreateMissingKeysInThe64BitView) {
  // HKEY_LOCAL_MACHINE\Software has separate 32- and 64-bit views.
  MachineKey machine;
  ASSERT_NE(nullptr, machine.get());
  const std::wstring nested = machine.path() + L"\\Product\\1.2.3";
  EXPECT_FALSE(ReadRegString(HKEY_LOCAL_MACHINE, nested, L"LastUpdateCheck").has_value());
  EXPECT_FALSE(ReadRegDword(HKEY_LOCAL_MACHINE, nested, L"PreviewChannel").has_value());

  ASSERT_TRUE(WriteRegString(HKEY_LOCAL_MACHINE, nested, L"LastUpdateCheck", L"1700000000"));
  ASSERT_TRUE(WriteRegDword(HKEY_LOCAL_MACHINE, nested, L"PreviewChannel", 1));
  EXPECT_EQ(L"1700000000", ReadRegString(HKEY_LOCAL_MACHINE, nested, L"LastUpdateCheck"));
  EXPECT_EQ(1u, ReadRegDword(HKEY_LOCAL_MACHINE, nested, L"PreviewChannel"));

  HKEY redirected = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, nested.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &redirected));
  if (redirected != nullptr) ::RegCloseKey(redirected);
}

TEST(RegistryKeys, ImpossibleKeyNamesFailCleanly) {
  ScratchRegKey scratch;
  // A key name is limited to 255 characters.
  const std::wstring tooLong = scratch.path() + L"\\" + std::wstring(300, L'k');
  LSTATUS status = ERROR_SUCCESS;
  EXPECT_FALSE(CreateRegKey(HKEY_CURRENT_USER, tooLong, &status).valid());
  EXPECT_NE(ERROR_SUCCESS, status);
  EXPECT_FALSE(WriteRegString(HKEY_CURRENT_USER, tooLong, L"Value", L"text"));

  status = ERROR_SUCCESS;
  EXPECT_FALSE(OpenRegKey(HKEY_CURRENT_USER, scratch.path() + L"\\Missing", kRegReadAccess, &status).valid());
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, status);
}

TEST(DeleteMachineValue, MissingKeyOrValueCountsAsDone) {
  MachineKey machine;
  ASSERT_NE(nullptr, machine.get());
  EXPECT_TRUE(DeleteMachineValue(machine.path() + L"\\Missing", L"Value"));
  EXPECT_TRUE(DeleteMachineValue(machine.path(), L"Missing"));

  ASSERT_EQ(ERROR_SUCCESS, WriteRegString(machine.get(), L"Value", L"x"));
  ASSERT_EQ(ERROR_SUCCESS, WriteRegString(machine.get(), L"Other", L"y"));
  EXPECT_TRUE(DeleteMachineValue(machine.path(), L"Value"));
  EXPECT_FALSE(ReadRegString(machine.get(), L"Value").has_value());
  EXPECT_EQ(L"y", ReadRegString(machine.get(), L"Other"));
}

TEST(DeleteMachineValue, ValueThatMayNotBeDeletedFails) {
  MachineKey machine;
  ASSERT_NE(nullptr, machine.get());
  ASSERT_EQ(ERROR_SUCCESS, WriteRegDword(machine.get(), L"Protected", 1));

  ReadOnlyDacl readOnly(machine.path());
  ASSERT_TRUE(readOnly.applied());
  EXPECT_FALSE(DeleteMachineValue(machine.path(), L"Protected"));
  EXPECT_EQ(1u, ReadRegDword(HKEY_LOCAL_MACHINE, machine.path(), L"Protected"));
}

}  // namespace
