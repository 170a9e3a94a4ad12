#include "logfront/log_format.h"

#include <cstring>
#include <cwchar>
#include <iterator>
#include <string_view>

#include "logfront/log_bytes.h"

namespace {

// Field widths and precisions are clamped so that one number never needs more
// than a small buffer; text conversions pad themselves.
constexpr int kMaxNumberWidth = 512;
constexpr int kMaxNumberPrecision = 100;
constexpr int kNumberBufferChars = 1024;
constexpr int kFieldLimit = 1 << 20;
constexpr wchar_t kNullText[] = L"(null)";

enum class ArgClass { kInteger, kFloat, kChar, kWideText, kNarrowText, kPointer, kNever, kUnknown };

struct Conversion {
  std::wstring flags;
  bool widthFromArg = false;
  int width = -1;
  bool precisionFromArg = false;
  int precision = -1;
  bool wide64 = false;        // a 64-bit integer length ("ll", "I64", "I", "z", ...)
  bool narrow = false;        // "h", "hh" on texts and characters
  bool explicitWide = false;  // "l", "w" on texts and characters
  wchar_t type = 0;
  size_t end = 0;  // index after the conversion
};

bool IsFlag(wchar_t c) { return c == L'-' || c == L'+' || c == L' ' || c == L'#' || c == L'0'; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

int ParseNumber(std::wstring_view format, size_t& i) {
  int value = 0;
  while (i < format.size() && IsDigit(format[i])) {
    if (value < kFieldLimit) value = value * 10 + (format[i] - L'0');
    ++i;
  }
  return value;
}

bool StartsWith(std::wstring_view text, size_t at, std::wstring_view prefix) {
  return text.substr(at, prefix.size()) == prefix;
}

// Parses the conversion that starts after the "%" at index start.
Conversion ParseConversion(std::wstring_view format, size_t start) {
  Conversion c;
  size_t i = start;
  while (i < format.size() && IsFlag(format[i])) c.flags.push_back(format[i++]);
  if (i < format.size() && format[i] == L'*') {
    c.widthFromArg = true;
    ++i;
  } else if (i < format.size() && IsDigit(format[i])) {
    c.width = ParseNumber(format, i);
  }
  if (i < format.size() && format[i] == L'.') {
    ++i;
    if (i < format.size() && format[i] == L'*') {
      c.precisionFromArg = true;
      ++i;
    } else {
      c.precision = ParseNumber(format, i);
    }
  }
  if (StartsWith(format, i, L"I64") || StartsWith(format, i, L"ll")) {
    c.wide64 = true;
    i += StartsWith(format, i, L"ll") ? 2 : 3;
  } else if (StartsWith(format, i, L"I32")) {
    i += 3;
  } else if (StartsWith(format, i, L"hh")) {
    c.narrow = true;
    i += 2;
  } else if (i < format.size()) {
    // clang-format off
    switch (format[i]) {
      case L'h': c.narrow = true; ++i; break;
      case L'l': case L'w': c.explicitWide = true; ++i; break;
      case L'I': case L'j': case L'z': case L't': case L'L': c.wide64 = true; ++i; break;
      default: break;
    }
    // clang-format on
  }
  if (i < format.size()) c.type = format[i++];
  c.end = i;
  return c;
}

ArgClass ClassOf(const Conversion& c) {
  // clang-format off
  switch (c.type) {
    case L'd': case L'i': case L'o': case L'u': case L'x': case L'X': return ArgClass::kInteger;
    case L'e': case L'E': case L'f': case L'F': case L'g': case L'G': case L'a': case L'A':
      return ArgClass::kFloat;
    case L'c': case L'C': return ArgClass::kChar;
    // In a wide format "%s" is wide and "%S" narrow; "h" and "l"/"w" say so explicitly.
    case L's': return c.narrow ? ArgClass::kNarrowText : ArgClass::kWideText;
    case L'S': return c.explicitWide ? ArgClass::kWideText : ArgClass::kNarrowText;
    case L'p': return ArgClass::kPointer;
    case L'n': case L'Z': return ArgClass::kNever;
    default: return ArgClass::kUnknown;
  }
  // clang-format on
}

bool Accepts(ArgClass expected, const LogArg& arg) {
  using Kind = LogArg::Kind;
  // clang-format off
  switch (expected) {
    case ArgClass::kInteger:
    case ArgClass::kChar: return arg.kind() == Kind::kInteger;
    case ArgClass::kFloat: return arg.kind() == Kind::kFloat;
    case ArgClass::kWideText: return arg.kind() == Kind::kWideText;
    case ArgClass::kNarrowText: return arg.kind() == Kind::kNarrowText;
    case ArgClass::kPointer: return arg.kind() != Kind::kFloat;
    default: return false;
  }
  // clang-format on
}

class ArgCursor {
 public:
  explicit ArgCursor(std::span<const LogArg> args) : args_(args) {}
  const LogArg* Next() { return next_ < args_.size() ? &args_[next_++] : nullptr; }

 private:
  std::span<const LogArg> args_;
  size_t next_ = 0;
};

// Pads text to the field width, on the right with the "-" flag.
std::wstring PadText(std::wstring text, const std::wstring& flags, int width) {
  if (width < 0 || text.size() >= static_cast<size_t>(width)) return text;
  const size_t padding = static_cast<size_t>(width) - text.size();
  if (flags.find(L'-') != std::wstring::npos) return text.append(padding, L' ');
  return std::wstring(padding, L' ') + text;
}

std::wstring FormatText(const Conversion& c, const LogArg& arg, size_t maxChars) {
  std::wstring text;
  if (arg.pointer() == nullptr) {
    text = kNullText;
  } else if (arg.kind() == LogArg::Kind::kWideText) {
    const auto* wide = static_cast<const wchar_t*>(arg.pointer());
    // Reads no further than the precision (or the limit) asks for.
    const size_t limit = c.precision >= 0 ? static_cast<size_t>(c.precision) : maxChars;
    text.assign(wide, ::wcsnlen(wide, limit));
  } else {
    const auto* narrow = static_cast<const char*>(arg.pointer());
    const size_t limit = c.precision >= 0 ? static_cast<size_t>(c.precision) : maxChars;
    text = FromLogBytes(std::string_view(narrow, ::strnlen(narrow, limit)));
  }
  if (c.precision >= 0 && text.size() > static_cast<size_t>(c.precision)) text.resize(c.precision);
  const int width = c.width >= 0 && static_cast<size_t>(c.width) > maxChars ? static_cast<int>(maxChars) : c.width;
  return PadText(std::move(text), c.flags, width);
}

std::wstring NumberSpec(const Conversion& c, std::wstring_view length, wchar_t type) {
  std::wstring spec = L"%" + c.flags;
  if (c.width >= 0) spec += std::to_wstring(c.width < kMaxNumberWidth ? c.width : kMaxNumberWidth);
  if (c.precision >= 0) {
    spec += L'.';
    spec += std::to_wstring(c.precision < kMaxNumberPrecision ? c.precision : kMaxNumberPrecision);
  }
  spec += length;
  spec += type;
  return spec;
}

template <typename T>
std::wstring PrintOne(const std::wstring& spec, T value) {
  wchar_t buffer[kNumberBufferChars] = {};
  const int written = ::_snwprintf(buffer, kNumberBufferChars - 1, spec.c_str(), value);
  if (written < 0) return std::wstring(buffer, kNumberBufferChars - 1);
  return std::wstring(buffer, static_cast<size_t>(written));
}

std::wstring FormatNumber(const Conversion& c, ArgClass expected, const LogArg& arg) {
  switch (expected) {
    case ArgClass::kInteger:
      if (c.wide64) {
        if (arg.isSigned() && (c.type == L'd' || c.type == L'i'))
          return PrintOne(NumberSpec(c, L"I64", c.type), static_cast<long long>(arg.bits()));
        return PrintOne(NumberSpec(c, L"I64", c.type), static_cast<unsigned long long>(arg.bits()));
      }
      // A 32-bit conversion shows the low 32 bits, as the runtime would.
      if (c.type == L'd' || c.type == L'i')
        return PrintOne(NumberSpec(c, L"", c.type), static_cast<int>(static_cast<uint32_t>(arg.bits())));
      return PrintOne(NumberSpec(c, L"", c.type), static_cast<unsigned int>(arg.bits()));
    case ArgClass::kFloat:
      return PrintOne(NumberSpec(c, L"", c.type == L'F' ? L'f' : c.type), arg.floatValue());
    case ArgClass::kChar: {
      // Narrow and wide characters alike: byte values map to the same character.
      const wchar_t ch = c.narrow || c.type == L'C' ? static_cast<wchar_t>(arg.bits() & 0xFF)
                                                    : static_cast<wchar_t>(arg.bits() & 0xFFFF);
      return PadText(std::wstring(1, ch), c.flags, c.width);
    }
    default:
      return PrintOne(NumberSpec(c, L"", L'p'),
                      const_cast<void*>(arg.kind() == LogArg::Kind::kInteger ? reinterpret_cast<const void*>(arg.bits())
                                                                             : arg.pointer()));
  }
}

// Resolves a "*" width or precision from its argument; false when it is no integer.
bool TakeStar(ArgCursor& cursor, int& field, bool isWidth, std::wstring& flags) {
  const LogArg* arg = cursor.Next();
  if (arg == nullptr || arg->kind() != LogArg::Kind::kInteger) return false;
  long long value = static_cast<int>(static_cast<uint32_t>(arg->bits()));
  if (value < 0) {
    if (!isWidth) {
      field = -1;  // a negative precision counts as none
      return true;
    }
    flags.push_back(L'-');  // a negative width left-aligns
    value = -value;
  }
  field = static_cast<int>(value < kFieldLimit ? value : kFieldLimit);
  return true;
}

}  // namespace

std::wstring FormatLogMessage(const wchar_t* format, std::span<const LogArg> args, size_t maxChars) {
  if (format == nullptr) return {};
  const std::wstring_view text(format);
  std::wstring out;
  ArgCursor cursor(args);
  size_t i = 0;
  while (i < text.size() && out.size() < maxChars) {
    const size_t percent = text.find(L'%', i);
    out.append(text.substr(i, percent == std::wstring_view::npos ? std::wstring_view::npos : percent - i));
    if (percent == std::wstring_view::npos) break;
    if (percent + 1 < text.size() && text[percent + 1] == L'%') {
      out.push_back(L'%');
      i = percent + 2;
      continue;
    }
    Conversion c = ParseConversion(text, percent + 1);
    const std::wstring_view asWritten = text.substr(percent, c.end - percent);
    i = c.end;
    const ArgClass expected = ClassOf(c);
    if (expected == ArgClass::kUnknown) {
      out.append(asWritten);
      continue;
    }
    bool fits = true;
    if (c.widthFromArg) fits = TakeStar(cursor, c.width, true, c.flags) && fits;
    if (c.precisionFromArg) fits = TakeStar(cursor, c.precision, false, c.flags) && fits;
    const LogArg* arg = cursor.Next();
    if (!fits || arg == nullptr || !Accepts(expected, *arg)) {
      out.append(asWritten);
      continue;
    }
    const size_t room = maxChars - out.size();
    if (expected == ArgClass::kWideText || expected == ArgClass::kNarrowText) {
      out += FormatText(c, *arg, room);
    } else {
      out += FormatNumber(c, expected, *arg);
    }
  }
  if (out.size() > maxChars) out.resize(maxChars);
  return out;
}

int CountFormatConversions(const wchar_t* format) {
  if (format == nullptr) return 0;
  int count = 0;
  for (const wchar_t* p = format; *p != L'\0'; ++p) {
    if (*p != L'%') continue;
    if (p[1] == L'\0') break;
    ++count;
    ++p;
  }
  return count;
}
