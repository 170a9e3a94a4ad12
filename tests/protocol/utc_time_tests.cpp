// Reading the expiry time of a signed instruction.
#include "protocol/utc_time.h"

#include <gtest/gtest.h>

namespace {

TEST(UtcTime, ReadsExactlyTheOneFormAndOrdersTimesInFileTimeUnits) {
  const std::optional<uint64_t> later = ParseUtcTime("2030-01-01T00:00:00Z");
  const std::optional<uint64_t> earlier = ParseUtcTime("2029-12-31T23:59:59Z");
  ASSERT_TRUE(later && earlier);
  EXPECT_EQ(*later - *earlier, 10'000'000u);  // one second
  EXPECT_EQ(ParseUtcTime("1601-01-01T00:00:00Z"), 0u);
  EXPECT_TRUE(ParseUtcTime("2028-02-29T12:30:45Z"));
  EXPECT_TRUE(ParseUtcTime("2000-02-29T23:59:59Z"));

  for (const char* text :
       {"", "2030-02-30T00:00:00Z", "2029-02-29T00:00:00Z", "2100-02-29T00:00:00Z", "1600-12-31T23:59:59Z",
        "2030-13-01T00:00:00Z", "2030-01-01T24:00:00Z", "2030-01-01T00:60:00Z", "2030-01-01 00:00:00Z",
        "2030-01-01T00:00:00", "2030-01-01T00:00:00+00:00", "2030-01-01T00:00:00z", "2030-1-01T00:00:00Z",
        "+030-01-01T00:00:00Z", "2030-01-01T00:00:00ZZ", "2030-01-01T00:00:0 Z"}) {
    EXPECT_EQ(ParseUtcTime(text), std::nullopt) << text;
  }
}

TEST(UtcTime, NowLiesBetweenTheTimesThisProgramCanMeet) {
  const uint64_t now = UtcNow();
  EXPECT_GT(now, *ParseUtcTime("2020-01-01T00:00:00Z"));
  EXPECT_LT(now, *ParseUtcTime("2100-01-01T00:00:00Z"));
}

}  // namespace
