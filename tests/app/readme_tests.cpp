// The README is the vendors' reference: every switch the command line knows
// and every code a session ends with must be in it, so that the two cannot
// drift apart.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "product/cmd_line_info.h"
#include "support/scratch.h"
#include "ui/dialog.h"
#include "win/strings.h"

namespace {

std::string ReadReadme() {
  std::wstring path = L"Z:" + win::FromUtf8(VLRN_SOURCE_DIR) + L"/README.md";
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return testing_support::ReadFileBytes(path);
}

TEST(Readme, NamesEverySwitchAndEveryExitCode) {
  const std::string readme = ReadReadme();
  ASSERT_FALSE(readme.empty()) << "README.md not found below " << VLRN_SOURCE_DIR;

  const std::vector<std::wstring> switches = KnownSwitchNames();
  EXPECT_EQ(switches.size(), 23u);
  for (const std::wstring& name : switches) {
    EXPECT_NE(readme.find("`" + win::ToUtf8(name) + "`"), std::string::npos) << win::ToUtf8(name);
  }

  // The exit codes' table: rows whose first cell lists codes, "| 32, 33 |".
  const size_t table = readme.find("## Exit codes");
  ASSERT_NE(table, std::string::npos);
  const std::string section = readme.substr(table, readme.find("\n## ", table + 1) - table);
  for (const int32_t code : kEndCodes) {
    const std::regex row("\\n\\| (?:[0-9]+, )*" + std::to_string(code) + "(?:, [0-9]+)* \\|");
    EXPECT_TRUE(std::regex_search(section, row)) << "exit code " << code << " is not in the README's table";
  }
}

}  // namespace
