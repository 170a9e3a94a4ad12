#include "setup_command_line.h"

#include <windows.h>

#include <cwctype>

namespace fake_setup {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool ParseExitCodes(std::string_view list, std::vector<unsigned long>& codes) {
  codes.clear();
  while (true) {
    const size_t comma = list.find(',');
    const std::string_view item = Trim(list.substr(0, comma));
    if (item.empty() || item.size() > 10) return false;
    unsigned long long value = 0;
    for (char c : item) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFFFFFFull) return false;
    codes.push_back(static_cast<unsigned long>(value));
    if (comma == std::string_view::npos) return true;
    list.remove_prefix(comma + 1);
  }
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
  std::vector<std::wstring> arguments;
  size_t at = 0;
  const size_t end = line.size();

  // The program name knows no escapes: a path may end with a backslash.
  std::wstring name;
  if (at < end && line[at] == L'"') {
    ++at;
    while (at < end && line[at] != L'"') name += line[at++];
    if (at < end) ++at;
  } else {
    while (at < end && !IsBlank(line[at])) name += line[at++];
  }
  arguments.push_back(std::move(name));

  while (at < end && IsBlank(line[at])) ++at;
  if (at == end) return arguments;

  std::wstring current;
  int quotes = 0;  // 1 within quotes; 2 only while a run of quotes is read
  size_t backslashes = 0;
  while (at < end) {
    const wchar_t c = line[at];
    if (IsBlank(c) && quotes == 0) {
      arguments.push_back(std::move(current));
      current.clear();
      while (at < end && IsBlank(line[at])) ++at;
      backslashes = 0;
      if (at == end) return arguments;
      continue;
    }
    if (c == L'"') {
      if (backslashes % 2 == 0) {
        current.resize(current.size() - backslashes / 2);
        ++quotes;
      } else {
        current.resize(current.size() - backslashes / 2 - 1);
        current += L'"';
      }
      backslashes = 0;
      ++at;
      for (; at < end && line[at] == L'"'; ++at) {
        if (++quotes == 3) {
          current += L'"';
          quotes = 0;
        }
      }
      if (quotes == 2) quotes = 0;
      continue;
    }
    backslashes = c == L'\\' ? backslashes + 1 : 0;
    current += c;
    ++at;
  }
  arguments.push_back(std::move(current));
  return arguments;
}

std::vector<std::wstring> SplitInstallerText(std::wstring_view text) {
  std::vector<std::wstring> words;
  std::wstring current;
  bool quoted = false;
  bool inWord = false;
  for (wchar_t c : text) {
    if (IsBlank(c) && !quoted) {
      if (inWord) words.push_back(std::move(current));
      current.clear();
      inWord = false;
      continue;
    }
    if (c == L'"') quoted = !quoted;
    current += c;
    inWord = true;
  }
  if (inWord) words.push_back(std::move(current));
  return words;
}

std::optional<InstallerProperty> ParseProperty(std::wstring_view word) {
  if (word.empty() || word[0] == L'/' || word[0] == L'-') return std::nullopt;
  const size_t equals = word.find(L'=');
  if (equals == 0 || equals == std::wstring_view::npos) return std::nullopt;
  InstallerProperty property{std::wstring(word.substr(0, equals)), {}};
  if (property.name.find(L'"') != std::wstring::npos) return std::nullopt;

  bool quoted = false;
  for (size_t at = equals + 1; at < word.size(); ++at) {
    const wchar_t c = word[at];
    if (c != L'"') {
      property.value += c;
    } else if (quoted && at + 1 < word.size() && word[at + 1] == L'"') {
      property.value += L'"';
      ++at;
    } else {
      quoted = !quoted;
    }
  }
  return property;
}

SetupRequest ParseSetupArguments(const std::vector<std::wstring>& arguments) {
  SetupRequest request;
  for (const std::wstring& argument : arguments) {
    if (EqualsNoCase(argument, L"/s")) {
      request.silent = true;
    } else if (EqualsNoCase(argument, L"/NoSetupFromWeb")) {
      request.noSetupFromWeb = true;
    } else if (StartsWithNoCase(argument, L"/v")) {
      // /v hands the rest of its argument to the installer.
      if (!request.installerText.empty()) request.installerText += L' ';
      request.installerText += argument.substr(2);
    } else {
      request.others.push_back(argument);
    }
  }
  request.installerWords = SplitInstallerText(request.installerText);
  for (const std::wstring& word : request.installerWords) {
    if (StartsWithNoCase(word, L"/q")) {
      if (request.uiSwitch.empty()) request.uiSwitch = word;
    } else if (std::optional<InstallerProperty> property = ParseProperty(word)) {
      request.properties.push_back(std::move(*property));
    }
  }
  return request;
}

std::optional<std::wstring> FindProperty(const SetupRequest& request, std::wstring_view name) {
  std::optional<std::wstring> value;
  for (const InstallerProperty& property : request.properties) {
    if (property.name == name) value = property.value;
  }
  return value;
}

std::wstring MsiexecCommandLine(const std::wstring& msiexec, const std::wstring& package,
                                const std::vector<std::wstring>& installerWords) {
  std::wstring line = L"\"" + msiexec + L"\" /i \"" + package + L"\"";
  for (const std::wstring& word : installerWords) line += L' ' + word;
  return line;
}

bool ParsePayload(std::string_view utf8, Payload& payload, std::wstring& error) {
  payload = Payload{};
  if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
  unsigned lineNumber = 0;
  while (!utf8.empty()) {
    ++lineNumber;
    const size_t newline = utf8.find('\n');
    std::string_view line = utf8.substr(0, newline);
    utf8.remove_prefix(newline == std::string_view::npos ? utf8.size() : newline + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;

    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      error = L"line " + std::to_wstring(lineNumber) + L" has no '='";
      return false;
    }
    std::wstring key = Utf8ToWide(Trim(line.substr(0, equals)));
    for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(c));
    const std::string_view value = Trim(line.substr(equals + 1));

    if (key == L"exit") {
      if (!ParseExitCodes(value, payload.exitCodes)) {
        error = L"line " + std::to_wstring(lineNumber) + L": exit wants decimal codes separated by commas";
        return false;
      }
    } else if (key == L"copy") {
      payload.copy = Utf8ToWide(value);
    } else if (key == L"target") {
      payload.target = Utf8ToWide(value);
    } else if (key == L"msi") {
      payload.msi = Utf8ToWide(value);
    } else if (key == L"tamper") {
      payload.tamper.clear();
      std::string_view rest = value;
      while (!rest.empty()) {
        const size_t comma = rest.find(',');
        const std::string_view name = Trim(rest.substr(0, comma));
        if (!name.empty()) payload.tamper.push_back(Utf8ToWide(name));
        rest.remove_prefix(comma == std::string_view::npos ? rest.size() : comma + 1);
      }
    }
  }
  return true;
}

std::optional<unsigned long> ExitCodeForRun(const std::vector<unsigned long>& codes, unsigned long run) {
  if (codes.empty()) return std::nullopt;
  const size_t index = run == 0 ? 0 : run - 1;
  return codes[index < codes.size() ? index : codes.size() - 1];
}

std::wstring ResolvePayloadPath(const std::wstring& folder, std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  const bool absolute = (path.size() >= 2 && path[1] == L':') || (!path.empty() && path[0] == L'\\');
  if (absolute || folder.empty()) return path;
  return folder.back() == L'\\' ? folder + path : folder + L'\\' + path;
}

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                        nullptr);
  return narrow;
}

}  // namespace fake_setup
