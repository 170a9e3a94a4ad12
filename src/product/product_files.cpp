#include "product/product_files.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "system/module_path.h"
#include "system/version_info.h"
#include "win/strings.h"

namespace {

constexpr wchar_t kUpdaterProductName[] = L"Velbor Renova";
constexpr wchar_t kVersionInfoTxt[] = L"VersionInfo.txt";
// The file holds four short lines; more than this is not a VersionInfo.txt.
constexpr std::streamsize kMaxVersionInfoBytes = 64 * 1024;

// One line of the file, without its line end, cut at a stray null byte.
bool NextLine(std::string_view& rest, std::wstring& line) {
  if (rest.empty()) return false;
  size_t end = rest.find('\n');
  std::string_view raw = rest.substr(0, end);
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
  raw = raw.substr(0, raw.find('\0'));
  line = win::ToWide(raw, CP_THREAD_ACP);
  return true;
}

}  // namespace

bool ReadFromOwnVersionResource(ProgramInfos& info) {
  std::wstring folder, name;
  if (!GetModuleName(name) || !GetModulDirectory(folder)) return false;
  // The full path: the bare name would depend on the current folder.
  const std::wstring self = folder + name;

  if (!GetFileVersionString(self, L"ProductName", info.ProgramName)) return false;
  if (info.ProgramName == kUpdaterProductName) {
    info.ProgramName.clear();
    SetDisplayName(info, L"");
    info.IsStubExe = 0;
    return false;
  }
  SetDisplayName(info, info.ProgramName);
  info.IsStubExe = 1;

  if (!GetFileVersionString(self, L"ProductVersion", info.ProgramVersion)) return false;
  std::wstring comments;
  if (!GetFileVersionString(self, L"Comments", comments)) return false;
  ApplyCommentsSettings(info, comments);
  return true;
}

void ApplyCommentsSettings(ProgramInfos& info, const std::wstring& comments) {
  size_t start = 0;
  while (start <= comments.size()) {
    const size_t end = std::min(comments.find(L'$', start), comments.size());
    const std::wstring_view token = std::wstring_view(comments).substr(start, end - start);
    start = end + 1;
    if (token.empty()) continue;
    const size_t colon = token.find(L':');
    const std::wstring_view key = colon == std::wstring_view::npos ? token : token.substr(0, colon);
    if (colon != std::wstring_view::npos && key == L"A") {
      info.AffiliateId = token.substr(colon + 1);
    } else if (colon != std::wstring_view::npos && key == L"L") {
      info.Language = win::AtoiW(token.substr(colon + 1));
    } else {
      info.Language = win::AtoiW(comments);  // a plain number is the language
    }
  }
}

bool ReadVersionInfoTxt(ProgramInfos& info) {
  if (info.InstalledLocation.empty()) return false;
  std::ifstream file(std::filesystem::path(info.InstalledLocation + kVersionInfoTxt), std::ios::binary);
  if (!file) return false;
  std::string content(static_cast<size_t>(kMaxVersionInfoBytes), '\0');
  file.read(content.data(), kMaxVersionInfoBytes);
  content.resize(static_cast<size_t>(file.gcount()));

  std::string_view rest = content;
  std::wstring line;
  if (!NextLine(rest, line)) return false;
  info.ProgramName = line;
  SetDisplayName(info, line);
  if (!NextLine(rest, line)) return false;
  info.ProgramVersion = line;
  if (!NextLine(rest, line)) return false;
  info.Language = win::AtoiW(line);
  if (!NextLine(rest, line)) return false;
  info.UninstallKeyName = line;
  return true;
}
