#include "product/command_line_splitter.h"

#include <gtest/gtest.h>

using Args = std::vector<std::wstring>;

TEST(CommandLineSplitter, ProgramPathKeepsQuotedBlanksAndBackslashes) {
  EXPECT_EQ(SplitCommandLine(LR"("C:\Program Files\V\VLRenovaWorker.exe" -a)"),
            (Args{LR"(C:\Program Files\V\VLRenovaWorker.exe)", L"-a"}));
  // The program path knows no escapes: a backslash before the quote stays.
  EXPECT_EQ(SplitCommandLine(LR"("C:\dir\"x.exe b)"), (Args{LR"(C:\dir\x.exe)", L"b"}));
  EXPECT_EQ(SplitCommandLine(L""), (Args{L""}));
}

TEST(CommandLineSplitter, FollowsTheRuntimeRulesForQuotesAndBackslashes) {
  EXPECT_EQ(SplitCommandLine(LR"(p "a b c" d e)"), (Args{L"p", L"a b c", L"d", L"e"}));
  EXPECT_EQ(SplitCommandLine(LR"(p "ab\"c" "\\" d)"), (Args{L"p", LR"(ab"c)", LR"(\)", L"d"}));
  EXPECT_EQ(SplitCommandLine(LR"(p a\\\b d"e f"g h)"), (Args{L"p", LR"(a\\\b)", L"de fg", L"h"}));
  EXPECT_EQ(SplitCommandLine(LR"(p a\\\"b c d)"), (Args{L"p", LR"(a\"b)", L"c", L"d"}));
  EXPECT_EQ(SplitCommandLine(LR"(p a\\\\"b c" d e)"), (Args{L"p", LR"(a\\b c)", L"d", L"e"}));
  EXPECT_EQ(SplitCommandLine(LR"(p "a""b")"), (Args{L"p", LR"(a"b)"}));
}

TEST(CommandLineSplitter, BlanksTabsEmptyQuotesAndUnterminatedQuotes) {
  EXPECT_EQ(SplitCommandLine(L"p \t a\t\tb   "), (Args{L"p", L"a", L"b"}));
  EXPECT_EQ(SplitCommandLine(LR"(p "" x)"), (Args{L"p", L"", L"x"}));
  // A quote left open runs to the end of the line.
  EXPECT_EQ(SplitCommandLine(LR"(p "open to the end)"), (Args{L"p", L"open to the end"}));
  EXPECT_EQ(SplitCommandLine(LR"(p trailing\)"), (Args{L"p", LR"(trailing\)"}));
}

TEST(CommandLineSplitter, KeepsNonAsciiAndVeryLongArguments) {
  const std::wstring longArg(100000, L'x');
  EXPECT_EQ(SplitCommandLine(L"p \u00fcber \u4e2d\u6587 " + longArg),
            (Args{L"p", L"\u00fcber", L"\u4e2d\u6587", longArg}));
}
