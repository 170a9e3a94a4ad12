// Message formatting with checked arguments, and the front's conversion count.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "log/clog.h"
#include "logfront/log.h"
#include "logfront/log_format.h"
#include "support/log_capture.h"

namespace {

template <typename... Args>
std::wstring Format(const wchar_t* format, Args... args) {
  const std::array<LogArg, sizeof...(Args)> list{MakeLogArg(args)...};
  return FormatLogMessage(format, list, 200);
}

}  // namespace

TEST(LogFormat, ConversionsFollowTheWideRuntime) {
  EXPECT_EQ(Format(L"%s|%S|%hs|%ls", L"wide", "narrow", "h", L"l"), L"wide|narrow|h|l");
  EXPECT_EQ(Format(L"%d %i %u %x %X %o", -5, 7, 4000000000u, 255, 255, 8), L"-5 7 4000000000 ff FF 10");
  EXPECT_EQ(Format(L"%I64u %lld %I64x", 18446744073709551615ull, -9000000000ll, 0x123456789ull),
            L"18446744073709551615 -9000000000 123456789");
  EXPECT_EQ(Format(L"[%5d|%-5d|%05d|%.3d]", 42, 42, 42, 7), L"[   42|42   |00042|007]");
  EXPECT_EQ(Format(L"[%6s|%-6s|%.2s|%*d]", L"ab", L"ab", L"abcdef", 4, 9), L"[    ab|ab    |ab|   9]");
  EXPECT_EQ(Format(L"%.2f %e %c%c", 3.14159, 1.5, L'Z', 'y'), L"3.14 1.500000e+000 Zy");
  EXPECT_EQ(Format(L"100%% %s", static_cast<const wchar_t*>(nullptr)), L"100% (null)");
  EXPECT_EQ(Format(L"%s", L"caf\u00e9"), L"caf\u00e9");
  EXPECT_EQ(Format(L"%S", "caf\xe9"), L"caf\u00e9");  // narrow bytes map to the same characters
  // A 32-bit conversion of a 64-bit value shows its low half, as the runtime would.
  EXPECT_EQ(Format(L"%u", 0x100000005ull), L"5");
}

TEST(LogFormat, ArgumentsThatDoNotFitStayVisibleInsteadOfBeingRead) {
  EXPECT_EQ(Format(L"name %s size %d", 12, L"x"), L"name %s size %d");
  EXPECT_EQ(Format(L"%s and %s", L"one"), L"one and %s");
  EXPECT_EQ(Format(L"%S", L"wide for narrow"), L"%S");
  EXPECT_EQ(Format(L"%f", 3), L"%f");
  EXPECT_EQ(Format(L"count%n", 1), L"count%n");
  EXPECT_EQ(Format(L"%*d", L"w", 5), L"%*d");
  EXPECT_EQ(Format(L"odd %y and %", 1), L"odd %y and %");
  int value = 0;
  EXPECT_EQ(Format(L"%p", &value), Format(L"%p", reinterpret_cast<uintptr_t>(&value)));
  EXPECT_EQ(FormatLogMessage(nullptr, {}, 10), L"");
}

TEST(LogFormat, OutputIsCutAtTheLimit) {
  const std::wstring longText(500, L'a');
  const std::array<LogArg, 2> args{MakeLogArg(longText.c_str()), MakeLogArg(7)};
  EXPECT_EQ(FormatLogMessage(L"%s%d", args, 300), std::wstring(300, L'a'));
  EXPECT_EQ(FormatLogMessage(L"%100000d", std::span<const LogArg>(args).subspan(1), 50), std::wstring(50, L' '));
  EXPECT_EQ(FormatLogMessage(L"x%-100000s|", args, 20).size(), 20u);
}

TEST(LogFormat, FrontCountsConversionsAndDropsFormatsWithMoreThanSix) {
  EXPECT_EQ(CountFormatConversions(L"%s %%"), 2);
  EXPECT_EQ(CountFormatConversions(L"%s%s%s%s%s%s%s"), 7);
  EXPECT_EQ(CountFormatConversions(L"trailing %"), 0);
  EXPECT_EQ(CountFormatConversions(L"%%%"), 1);

  testing_support::LogCapture capture;
  LogInfo(L"%s %s %s %s %s %s %s", L"1", L"2", L"3", L"4", L"5", L"6");
  LogInfo(L"%s%s%s%s%s%s 100%%", L"1", L"2", L"3", L"4", L"5", L"6");  // the "%%" makes seven
  LogWarning(L"%s %d %u %x %s %s", L"a", -1, 2u, 255, L"b", L"c");
  LogError(L"%s is 100%% done", L"copy");
  LogInfo(L"no arguments");
  const std::vector<std::wstring> lines = capture.Lines();
  ASSERT_EQ(lines.size(), 3u);
  const std::wstring& warning = lines[0];
  EXPECT_EQ(warning.substr(24, 10), L"WAR: VLRN:");
  EXPECT_EQ(warning.substr(warning.find(L"] ") + 2), L"a -1 2 ff b c");
  EXPECT_EQ(lines[1].substr(24, 10), L"ERR: VLRN:");
  EXPECT_EQ(lines[1].substr(lines[1].find(L"] ") + 2), L"copy is 100% done");
  EXPECT_EQ(lines[2].substr(24, 10), L"INF: VLRN:");
}
