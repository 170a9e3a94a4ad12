#include "actions/version_info.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/child_process.h"
#include "support/scratch.h"

namespace {

using testing_support::BinFolder;

// Built by tests/fixtures with an English (0409) and a German (0407) translation.
std::wstring TwoTranslations() { return BinFolder() + L"two_translations.exe"; }

TEST(GetFileVersionString, JoinsTheTranslationsThatHaveTheString) {
  std::wstring text;
  ASSERT_TRUE(GetFileVersionString(TwoTranslations(), L"ProductVersion", text));
  EXPECT_EQ(text, L"2.5.1 / 2.5.1-de");

  // In both, with blanks around each: only the ends of the joined text are trimmed.
  ASSERT_TRUE(GetFileVersionString(TwoTranslations(), L"LegalCopyright", text));
  EXPECT_EQ(text, L"(c) Acme /   (c) Acme DE");

  // Only in the first translation, with blanks around it.
  ASSERT_TRUE(GetFileVersionString(TwoTranslations(), L"FileDescription", text));
  EXPECT_EQ(text, L"Fixture with padding");

  // Only in the second: no separator before it, characters above U+00FF intact.
  ASSERT_TRUE(GetFileVersionString(TwoTranslations(), L"CompanyName", text));
  EXPECT_EQ(text, L"\x03A9mega W\x00F6rks \x2603");

  ASSERT_TRUE(GetFileVersionString(TwoTranslations(), L"LongestNameThatStillFits", text));
  EXPECT_EQ(text, L"24 characters");
}

TEST(GetFileVersionString, FileNameAboveLatin1) {
  testing_support::ScratchFolder scratch;
  const std::wstring copy = scratch.path() + L"Versi\x00F3n \x03A9 \x65E5\x672C.exe";
  ASSERT_TRUE(::CopyFileW(TwoTranslations().c_str(), copy.c_str(), FALSE));

  std::wstring text;
  ASSERT_TRUE(GetFileVersionString(copy, L"ProductVersion", text));
  EXPECT_EQ(text, L"2.5.1 / 2.5.1-de");
}

TEST(GetFileVersionString, FailsCleanlyAndEmptiesTheText) {
  testing_support::ScratchFolder scratch;
  const std::wstring cases[][2] = {
      {TwoTranslations(), L"Comments"},                              // no translation has it
      {BinFolder() + L"no_translation_table.exe", L"ProductVersion"},  // strings but no table
      {scratch.WriteFile(L"plain.txt", "no resources"), L"ProductVersion"},
      {scratch.path() + L"missing.exe", L"ProductVersion"},
      // One character over the limit: cut, it would find "LongestNameThatStillFits".
      {TwoTranslations(), L"LongestNameThatStillFits2"},
  };
  for (const auto& [path, name] : cases) {
    std::wstring text = L"stale";
    EXPECT_FALSE(GetFileVersionString(path, name, text)) << path << L" " << name;
    EXPECT_EQ(text, L"") << path << L" " << name;
  }
}

}  // namespace
