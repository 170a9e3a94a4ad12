#include "product/command_line_splitter.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The program path: up to the first blank, with quoted stretches kept whole.
size_t ReadProgramPath(std::wstring_view line, std::wstring& path) {
  size_t i = 0;
  bool inQuotes = false;
  for (; i < line.size(); ++i) {
    const wchar_t c = line[i];
    if (c == L'"') {
      inQuotes = !inQuotes;
    } else if (!inQuotes && IsBlank(c)) {
      break;
    } else {
      path += c;
    }
  }
  return i;
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
  std::vector<std::wstring> args;
  std::wstring current;
  size_t i = ReadProgramPath(line, current);
  args.push_back(std::move(current));

  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;

    std::wstring arg;
    bool inQuotes = false;
    while (i < line.size()) {
      size_t backslashes = 0;
      while (i < line.size() && line[i] == L'\\') {
        ++backslashes;
        ++i;
      }
      if (i < line.size() && line[i] == L'"') {
        arg.append(backslashes / 2, L'\\');
        if (backslashes % 2 == 1) {
          arg += L'"';  // escaped quote
          ++i;
        } else if (inQuotes && i + 1 < line.size() && line[i + 1] == L'"') {
          arg += L'"';  // "" inside quotes
          i += 2;
        } else {
          inQuotes = !inQuotes;
          ++i;
        }
        continue;
      }
      arg.append(backslashes, L'\\');
      if (i >= line.size() || (!inQuotes && IsBlank(line[i]))) break;
      arg += line[i++];
    }
    args.push_back(std::move(arg));
  }
  return args;
}
