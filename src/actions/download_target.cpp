#include "actions/download_target.h"

#include <windows.h>

#include <array>

#include "system/resolved_path.h"

namespace {

constexpr std::wstring_view kSeparators = L"\\/";
constexpr std::wstring_view kForbidden = L"<>:\"|?*";

// CON, NUL, COM1 and the others name devices in every folder, with any extension.
bool IsDeviceName(std::wstring_view component) {
  const std::wstring_view stem = component.substr(0, component.find(L'.'));
  static constexpr std::array<std::wstring_view, 6> kPlain = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const std::wstring_view device : kPlain) {
    if (EqualsIgnoringCase(stem, device)) return true;
  }
  if (stem.size() == 4 &&
      (EqualsIgnoringCase(stem.substr(0, 3), L"COM") || EqualsIgnoringCase(stem.substr(0, 3), L"LPT"))) {
    // COM0 to COM9 and the superscript digits the system also takes.
    const wchar_t digit = stem[3];
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00b9' || digit == L'\u00b2' || digit == L'\u00b3';
  }
  return false;
}

// Each level of a relative path on its own, none of them empty.
bool AllLevelsPlain(std::wstring_view levels) {
  while (true) {
    const size_t end = levels.find_first_of(kSeparators);
    if (!IsPlainPathComponent(levels.substr(0, end))) return false;
    if (end == std::wstring_view::npos) return true;
    levels.remove_prefix(end + 1);
  }
}

// Whatever the checks of each level missed, the resolved path must still
// start with the resolved base folder.
bool ResolvesInside(std::wstring_view base, const std::wstring& path) {
  const std::optional<std::wstring> resolvedBase = ResolvedPath(std::wstring(base));
  const std::optional<std::wstring> resolved = ResolvedPath(path);
  return resolvedBase && resolved && resolved->size() > resolvedBase->size() &&
         StartsWithIgnoringCase(*resolved, *resolvedBase);
}

}  // namespace

bool IsPlainPathComponent(std::wstring_view component) {
  if (component.empty()) return false;
  // The system drops trailing dots and blanks, so "a." is "a" and ".." leaves the folder.
  if (component.back() == L'.' || component.back() == L' ') return false;
  for (const wchar_t c : component) {
    if (c < L' ' || kForbidden.find(c) != std::wstring_view::npos || kSeparators.find(c) != std::wstring_view::npos) {
      return false;
    }
  }
  return !IsDeviceName(component);
}

std::optional<std::wstring> DownloadTargetFolder(std::wstring_view cacheFolder, std::wstring_view relativeFolder,
                                                 std::wstring_view fileName) {
  if (!IsPlainPathComponent(fileName)) return std::nullopt;
  std::wstring folder(cacheFolder);
  if (!relativeFolder.empty()) {
    // One separator may end the folder.
    std::wstring_view levels = relativeFolder;
    if (kSeparators.find(levels.back()) != std::wstring_view::npos) levels.remove_suffix(1);
    if (!AllLevelsPlain(levels)) return std::nullopt;
    folder.append(relativeFolder);
    folder += L'\\';
  }
  if (!ResolvesInside(cacheFolder, folder + std::wstring(fileName))) return std::nullopt;
  return folder;
}

std::optional<std::wstring> PathInsideFolder(std::wstring_view base, std::wstring_view relativePath) {
  if (relativePath.empty() || !AllLevelsPlain(relativePath)) return std::nullopt;
  std::wstring path(base);
  path.append(relativePath);
  if (!ResolvesInside(base, path)) return std::nullopt;
  return path;
}
