#include "system/version_info.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/child_process.h"
#include "support/log_capture.h"
#include "support/scratch.h"
#include "system/file_system.h"
#include "win/unique_handle.h"

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
      {TwoTranslations(), L"Comments"},                                // no translation has it
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

// Callers ask for the version or date of files that may be absent or carry no
// version resource (the product's FileList, its program file); those misses are
// answers, so only a file that exists and can't be read makes an error line.
TEST(FileFacts, ExpectedMissesLogNoErrorButAFileThatCantBeReadDoes) {
  testing_support::ScratchFolder scratch;
  const std::wstring text = scratch.WriteFile(L"plain.txt", "no resources");
  const std::wstring noResource = BinFolder() + L"hold_events.exe";  // a program built without one
  const std::wstring missing = scratch.path() + L"missing.exe";
  const std::wstring missingFolder = scratch.path() + L"gone\\missing.exe";
  {
    testing_support::LogCapture log;
    std::wstring value;
    for (const std::wstring& path :
         {text, noResource, missing, missingFolder, BinFolder() + L"no_translation_table.exe"}) {
      EXPECT_FALSE(GetFileVersionString(path, L"ProductVersion", value)) << path;
    }
    for (const std::wstring& path : {missing, missingFolder}) EXPECT_FALSE(GetFileDate(path, value)) << path;
    EXPECT_TRUE(GetFileDate(text, value));
    EXPECT_EQ(log.CountAt(L"ERR", L""), 0u);
    EXPECT_EQ(log.CountAt(L"WAR", L""), 0u);
  }
  {
    // Held open without sharing by another handle: the file is there but can't be read.
    win::UniqueFile holder(::CreateFileW(text.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.valid());
    testing_support::LogCapture log;
    std::wstring value;
    EXPECT_FALSE(GetFileVersionString(text, L"ProductVersion", value));
    EXPECT_FALSE(GetFileDate(text, value));
    EXPECT_EQ(log.CountAt(L"ERR", L"can not read the version resource of " + text + L" because: \""), 1u);
    EXPECT_EQ(log.CountAt(L"ERR", L"can not read the date of " + text + L" because: \""), 1u);
    EXPECT_EQ(log.CountAt(L"ERR", L""), 2u);
  }
}

}  // namespace
