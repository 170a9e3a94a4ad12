#include "product/source_text.h"

#include <windows.h>

#include <cwctype>

std::wstring TrimWhiteSpace(std::wstring_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::iswspace(text[begin])) ++begin;
  while (end > begin && std::iswspace(text[end - 1])) --end;
  return std::wstring(text.substr(begin, end - begin));
}

void AppendMissingBackslash(std::wstring& path) {
  if (!path.empty() && path.back() != L'\\') path += L'\\';
}

void RemoveTrailingBackslash(std::wstring& path) {
  if (!path.empty() && path.back() == L'\\') path.pop_back();
}

bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  std::wstring lowerA(a);
  std::wstring lowerB(b);
  // CharLowerBuffW works on counted buffers, so embedded nulls can't cut it short.
  ::CharLowerBuffW(lowerA.data(), static_cast<DWORD>(lowerA.size()));
  ::CharLowerBuffW(lowerB.data(), static_cast<DWORD>(lowerB.size()));
  return lowerA == lowerB;
}
