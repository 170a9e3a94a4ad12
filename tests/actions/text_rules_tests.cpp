#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "actions/format_size.h"
#include "system/error_text.h"
#include "system/safe_name.h"
#include "system/version_parts.h"

namespace {

TEST(ToSafeAscii, KeepsAsciiLettersDigitsBlankAndDotAndCodesCharactersAbove255) {
  EXPECT_EQ(ToSafeAscii(L"Tool+ 2 (Pro)"), L"Tool 2 Pro");
  EXPECT_EQ(ToSafeAscii(L"a.b_c\\d/e:f*\"<>|\tGr\x00FC\x00DF\x00FF"), L"a.bcdefGr");
  // code / 255, then 'A' + code % 26: U+0100 -> 1, 'W'; U+65E5 -> 102, 'H'; U+FFFF -> 257, 'P'.
  EXPECT_EQ(ToSafeAscii(L"\x0100 X\x65E5Y\xFFFF"), L"~1W X~102HY~257P");
}

TEST(SplitVersion, NeedsTwoDots) {
  VersionParts parts{L"old", L"old", L"old"};
  EXPECT_FALSE(SplitVersion(L"", parts));
  EXPECT_FALSE(SplitVersion(L"7", parts));
  EXPECT_EQ(parts.major, L"old");

  EXPECT_FALSE(SplitVersion(L"7.1", parts));
  EXPECT_EQ(parts.major, L"7");
  EXPECT_EQ(parts.minor, L"old");

  ASSERT_TRUE(SplitVersion(L"7.1.2.3", parts));
  EXPECT_EQ(parts.major, L"7");
  EXPECT_EQ(parts.minor, L"1");
  EXPECT_EQ(parts.rest, L"2.3");
}

TEST(FormatSize, PicksTheLargestUnitReached) {
  EXPECT_EQ(FormatSize(1023), L"1023 Bytes");
  EXPECT_EQ(FormatSize(1024), L"1.00 KB");
  EXPECT_EQ(FormatSize(1536), L"1.50 KB");
  EXPECT_EQ(FormatSize(1048575), L"1024.00 KB");
  EXPECT_EQ(FormatSize(5242880), L"5.00 MB");
  EXPECT_EQ(FormatSize(1073741824), L"1.00 GB");
  EXPECT_EQ(FormatSize(0xFFFFFFFFu), L"4.00 GB");
}

TEST(GetLastErrorText, SystemMessageWithoutLineBreaksAndTheCode) {
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  const std::wstring text = GetLastErrorText();
  EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos) << text;
  ASSERT_GT(text.size(), 4u);
  EXPECT_EQ(text.substr(text.size() - 4), L" (2)");
  EXPECT_NE(text.substr(0, text.size() - 4), L"");
  // Logging the text must not lose the code for the caller.
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // A code the system has no message for.
  ::SetLastError(0x2ABCDEF0);
  EXPECT_EQ(GetLastErrorText(), L" (717020912)");
}

}  // namespace
