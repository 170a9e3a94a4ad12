// When a broken-off download may go on: the version the request names and
// the answer that must start exactly where the file ends.
#include "protocol/transfer_resume.h"

#include <gtest/gtest.h>

namespace {

TEST(TransferResume, OnlyAStrongETagOrADateNamesTheFilesVersion) {
  EXPECT_EQ(IfRangeValue({L"\"5a-17\"", L"Thu, 10 Dec 2026 00:00:00 GMT", true}), L"\"5a-17\"");
  // A weak ETag may stand for other bytes: the date names the version instead.
  EXPECT_EQ(IfRangeValue({L"W/\"5a-17\"", L"Thu, 10 Dec 2026 00:00:00 GMT", true}), L"Thu, 10 Dec 2026 00:00:00 GMT");
  EXPECT_EQ(IfRangeValue({L"", L"Thu, 10 Dec 2026 00:00:00 GMT", true}), L"Thu, 10 Dec 2026 00:00:00 GMT");
  EXPECT_EQ(IfRangeValue({L"W/\"5a-17\"", L"", true}), std::nullopt);
  EXPECT_EQ(IfRangeValue({L"", L"", true}), std::nullopt);
}

TEST(TransferResume, ContentRangeIsReadStrictly) {
  EXPECT_EQ(ContentRangeStart(L"bytes 500-999/1000"), 500u);
  EXPECT_EQ(ContentRangeStart(L"  Bytes  0-0/1"), 0u);
  EXPECT_EQ(ContentRangeStart(L"bytes 500-999/*"), 500u);
  EXPECT_EQ(ContentRangeStart(L"bytes 18446744073709551614-18446744073709551614/18446744073709551615"),
            18446744073709551614u);
  for (const wchar_t* unreadable :
       {L"", L"bytes", L"bytes */1000", L"items 500-999/1000", L"bytes 500/1000", L"bytes 500-/1000",
        L"bytes -999/1000", L"bytes 999-500/1000", L"bytes 500-999/999", L"bytes 500-999/1000x", L"bytes 500-999",
        L"bytes 18446744073709551616-18446744073709551617/18446744073709551618", L"bytes 5a0-999/1000"}) {
    EXPECT_EQ(ContentRangeStart(unreadable), std::nullopt) << testing::PrintToString(std::wstring(unreadable));
  }
}

TEST(TransferResume, LengthsAreWholeDecimalNumbers) {
  EXPECT_EQ(ParseDecimal(L"2097155"), 2097155u);
  EXPECT_EQ(ParseDecimal(L"18446744073709551615"), 18446744073709551615u);
  for (const wchar_t* unreadable : {L"", L"-1", L"+1", L" 1", L"1 ", L"1e3", L"18446744073709551616"}) {
    EXPECT_EQ(ParseDecimal(unreadable), std::nullopt) << testing::PrintToString(std::wstring(unreadable));
  }
  EXPECT_EQ(ContentRangeTotal(L"bytes 500-999/1000"), 1000u);
  EXPECT_EQ(ContentRangeTotal(L"bytes 500-999/*"), std::nullopt) << "a length the server does not know";
  EXPECT_EQ(ContentRangeTotal(L"bytes 999-500/1000"), std::nullopt);
}

TEST(TransferResume, OnlyTheRestFromExactlyWhereTheFileEndsIsAppended) {
  EXPECT_EQ(ClassifyRangeAnswer(206, L"bytes 500-999/1000", 500), RangeAnswer::kRest);
  // The server sends the whole file: it changed, or it takes no ranges.
  EXPECT_EQ(ClassifyRangeAnswer(200, L"", 500), RangeAnswer::kWholeFile);
  // A part that starts elsewhere would leave a hole or a repeat in the file.
  EXPECT_EQ(ClassifyRangeAnswer(206, L"bytes 0-999/1000", 500), RangeAnswer::kUnusable);
  EXPECT_EQ(ClassifyRangeAnswer(206, L"bytes 501-999/1000", 500), RangeAnswer::kUnusable);
  EXPECT_EQ(ClassifyRangeAnswer(206, L"", 500), RangeAnswer::kUnusable);
  EXPECT_EQ(ClassifyRangeAnswer(416, L"bytes */1000", 500), RangeAnswer::kUnusable);
  EXPECT_EQ(ClassifyRangeAnswer(304, L"", 500), RangeAnswer::kUnusable);
}

}  // namespace
