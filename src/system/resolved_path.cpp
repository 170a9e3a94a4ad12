#include "system/resolved_path.h"

#include <windows.h>

#include <cwctype>

std::optional<std::wstring> ResolvedPath(const std::wstring& path) {
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::nullopt;
  std::wstring full(needed, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return std::nullopt;
  full.resize(written);
  return full;
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoringCase(std::wstring_view path, std::wstring_view prefix) {
  return path.size() >= prefix.size() && EqualsIgnoringCase(path.substr(0, prefix.size()), prefix);
}
