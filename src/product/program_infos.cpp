#include "product/program_infos.h"

#include <utility>

std::wstring DoubleAmpersands(std::wstring_view text) {
  std::wstring result;
  result.reserve(text.size());
  for (const wchar_t c : text) {
    result += c;
    if (c == L'&') result += L'&';
  }
  return result;
}

void SetDisplayName(ProgramInfos& info, std::wstring displayName) {
  info.DisplayName = std::move(displayName);
  info.DisplayNameForLabels = DoubleAmpersands(info.DisplayName);
}
