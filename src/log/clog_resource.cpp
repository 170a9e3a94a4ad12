#include "log/clog_resource.h"

#include <string_view>
#include <vector>

#include "win/strings.h"
#include "win/unique_handle.h"

namespace {

constexpr wchar_t kMissingResourceCaption[] = L"INTERNAL ERROR";
constexpr wchar_t kMissingResourceText[] = L"MAKESTRRESOURCE called with wrong ID: %lu";
constexpr size_t kMaxInsert = 99;

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool InsertAccepts(std::wstring_view spec, const LogArg& arg) {
  if (spec.empty() || spec.find(L'*') != std::wstring_view::npos) return false;  // "*" reads hidden arguments
  const wchar_t type = spec.back();
  const std::wstring_view length = spec.substr(0, spec.size() - 1);
  const bool narrowLength = length.find(L'h') != std::wstring_view::npos;
  const bool wideLength = length.find(L'l') != std::wstring_view::npos || length.find(L'w') != std::wstring_view::npos;
  switch (type) {
    case L's':
      return arg.kind() == (narrowLength ? LogArg::Kind::kNarrowText : LogArg::Kind::kWideText);
    case L'S':
      return arg.kind() == (wideLength ? LogArg::Kind::kWideText : LogArg::Kind::kNarrowText);
    case L'd':
    case L'i':
    case L'u':
    case L'x':
    case L'X':
    case L'o':
    case L'c':
    case L'C':
      return arg.kind() == LogArg::Kind::kInteger;
    case L'p':
      return arg.kind() != LogArg::Kind::kFloat;
    default:
      return false;  // FormatMessageW has no floating point
  }
}

// True when every insert ("%1" to "%99", with an optional "!format!") names a
// given argument of the kind its format reads.
bool InsertsMatch(std::wstring_view text, std::span<const LogArg> args) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'%' || i + 1 >= text.size()) continue;
    if (text[i + 1] < L'1' || text[i + 1] > L'9') {
      ++i;  // an escape such as "%%", "%n" or "%0"
      continue;
    }
    size_t number = text[++i] - L'0';
    if (i + 1 < text.size() && IsDigit(text[i + 1])) number = number * 10 + (text[++i] - L'0');
    std::wstring_view spec = L"s";
    if (i + 1 < text.size() && text[i + 1] == L'!') {
      const size_t close = text.find(L'!', i + 2);
      if (close == std::wstring_view::npos) return false;
      spec = text.substr(i + 2, close - i - 2);
      i = close;
    }
    if (number > kMaxInsert || number > args.size() || !InsertAccepts(spec, args[number - 1])) return false;
  }
  return true;
}

DWORD_PTR InsertValue(const LogArg& arg) {
  if (arg.kind() == LogArg::Kind::kInteger) return static_cast<DWORD_PTR>(arg.bits());
  return reinterpret_cast<DWORD_PTR>(arg.pointer());
}

}  // namespace

std::wstring FormatLogResourceText(const std::wstring& text, std::span<const LogArg> args) {
  std::vector<DWORD_PTR> values;
  values.reserve(args.size() + 1);
  for (const LogArg& arg : args) values.push_back(InsertValue(arg));
  values.push_back(0);
  // Inserts that don't fit their arguments stay as they stand in the text.
  const DWORD flags = FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                      (InsertsMatch(text, args) ? FORMAT_MESSAGE_ARGUMENT_ARRAY : FORMAT_MESSAGE_IGNORE_INSERTS);
  win::UniqueLocalMemory<wchar_t> buffer;
  const DWORD length = ::FormatMessageW(flags, text.c_str(), 0, 0, reinterpret_cast<wchar_t*>(buffer.put()), 0,
                                        reinterpret_cast<va_list*>(values.data()));
  if (!buffer) return text;
  return std::wstring(buffer.get(), length < kLogResourceFormattedChars ? length : kLogResourceFormattedChars);
}

std::optional<std::wstring> LoadLogResourceText(HMODULE module, UINT stringId) {
  std::vector<wchar_t> text(kLogResourceTextChars + 1, L'\0');
  const int length = ::LoadStringW(module, stringId, text.data(), static_cast<int>(text.size()));
  if (length <= 0) return std::nullopt;
  return std::wstring(text.data(), static_cast<size_t>(length));
}

void ShowMissingLogResource(UINT stringId) {
  ::MessageBoxW(nullptr, win::FormatW(kMissingResourceText, static_cast<unsigned long>(stringId)).c_str(),
                kMissingResourceCaption, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}
