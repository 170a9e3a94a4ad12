#include "actions/download_target.h"

#include <windows.h>

#include <array>
#include <cwctype>

namespace {

constexpr std::wstring_view kSeparators = L"\\/";
constexpr std::wstring_view kForbidden = L"<>:\"|?*";

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

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

// The full path as the system resolves it, or nothing.
std::optional<std::wstring> FullPath(const std::wstring& path) {
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::nullopt;
  std::wstring full(needed, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return std::nullopt;
  full.resize(written);
  return full;
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
    // Each folder level on its own; one separator may end the folder.
    std::wstring_view rest = relativeFolder;
    if (kSeparators.find(rest.back()) != std::wstring_view::npos) rest.remove_suffix(1);
    while (true) {
      const size_t end = rest.find_first_of(kSeparators);
      if (!IsPlainPathComponent(rest.substr(0, end))) return std::nullopt;
      if (end == std::wstring_view::npos) break;
      rest.remove_prefix(end + 1);
    }
    folder.append(relativeFolder);
    folder += L'\\';
  }
  // Whatever the checks above missed, the resolved path must still start
  // with the resolved cache folder.
  const std::optional<std::wstring> base = FullPath(std::wstring(cacheFolder));
  const std::optional<std::wstring> target = FullPath(folder + std::wstring(fileName));
  if (!base || !target || target->size() <= base->size() ||
      !EqualsIgnoringCase(std::wstring_view(*target).substr(0, base->size()), *base)) {
    return std::nullopt;
  }
  return folder;
}
