#pragma once
// Splits a command line into arguments by the C runtime's rules.

#include <string>
#include <string_view>
#include <vector>

// The first element is the program path (quotes group, no escapes); the others
// follow the runtime's rules: blanks and tabs separate, quotes group, 2n
// backslashes before a quote give n and the quote delimits, 2n+1 give n and a
// literal quote, and "" inside quotes is one literal quote.
std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine);
