// The order of version texts, for refusing an offer older than the product.
#include "protocol/version_order.h"

#include <gtest/gtest.h>

namespace {

TEST(VersionOrder, ComparesPartByPartAsNumbersOfAnyLength) {
  const struct {
    const wchar_t* older;
    const wchar_t* newer;
  } ordered[] = {
      {L"1.2.9", L"1.2.10"},
      {L"1.9", L"1.10"},
      {L"1.0", L"1.0.1"},
      {L"0.9.9.9", L"1"},
      {L"9.9", L"123456789012345678901234567890.1"},
      {L"", L"0.0.1"},
      {L"2.x", L"2.1"},
      {L"18446744073709551615", L"18446744073709551616"},
  };
  for (const auto& pair : ordered) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(pair.older) + L" < " + pair.newer));
    EXPECT_LT(CompareVersions(pair.older, pair.newer), 0);
    EXPECT_GT(CompareVersions(pair.newer, pair.older), 0);
  }
  const struct {
    const wchar_t* a;
    const wchar_t* b;
  } same[] = {{L"2.0", L"2.0.0"}, {L"01.2", L"1.2"}, {L"", L"0"}, {L"2.0beta", L"2.0"}, {L"9.4.10", L"9.4.10"}};
  for (const auto& pair : same) {
    EXPECT_EQ(CompareVersions(pair.a, pair.b), 0) << testing::PrintToString(std::wstring(pair.a) + L"|" + pair.b);
  }
}

}  // namespace
