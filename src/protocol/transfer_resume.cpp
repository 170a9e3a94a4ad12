#include "protocol/transfer_resume.h"

#include <cstdint>
#include <cwctype>
#include <utility>

namespace {

constexpr unsigned kStatusOk = 200;
constexpr unsigned kStatusPartialContent = 206;

std::wstring_view TrimmedLeft(std::wstring_view text) {
  while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
  return text;
}

// The decimal number at the start of text, with what follows it; nothing for
// no digits or a number past 64 bits.
std::optional<std::pair<uint64_t, std::wstring_view>> LeadingNumber(std::wstring_view text) {
  uint64_t value = 0;
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= L'0' && text[digits] <= L'9') {
    const uint64_t digit = static_cast<uint64_t>(text[digits] - L'0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return std::make_pair(value, text.substr(digits));
}

}  // namespace

std::optional<std::wstring> IfRangeValue(const FileVersion& version) {
  // A weak ETag may stand for other bytes; If-Range takes only a strong one.
  if (!version.etag.empty() && version.etag.rfind(L"W/", 0) != 0) return version.etag;
  if (!version.lastModified.empty()) return version.lastModified;
  return std::nullopt;
}

std::optional<uint64_t> ContentRangeStart(std::wstring_view contentRange) {
  std::wstring_view rest = TrimmedLeft(contentRange);
  constexpr std::wstring_view kUnit = L"bytes";
  if (rest.size() < kUnit.size()) return std::nullopt;
  for (size_t i = 0; i < kUnit.size(); ++i) {
    if (std::towlower(rest[i]) != kUnit[i]) return std::nullopt;
  }
  rest = TrimmedLeft(rest.substr(kUnit.size()));
  const auto first = LeadingNumber(rest);
  if (!first || first->second.empty() || first->second.front() != L'-') return std::nullopt;
  const auto last = LeadingNumber(first->second.substr(1));
  if (!last || last->first < first->first || last->second.empty() || last->second.front() != L'/') {
    return std::nullopt;
  }
  const std::wstring_view total = last->second.substr(1);
  if (total != L"*") {
    const auto length = LeadingNumber(total);
    if (!length || !length->second.empty() || length->first <= last->first) return std::nullopt;
  }
  return first->first;
}

std::optional<uint64_t> ParseDecimal(std::wstring_view text) {
  const auto number = LeadingNumber(text);
  if (!number || !number->second.empty()) return std::nullopt;
  return number->first;
}

std::optional<uint64_t> ContentRangeTotal(std::wstring_view contentRange) {
  if (!ContentRangeStart(contentRange)) return std::nullopt;
  return ParseDecimal(contentRange.substr(contentRange.rfind(L'/') + 1));
}

RangeAnswer ClassifyRangeAnswer(unsigned status, std::wstring_view contentRange, uint64_t offset) {
  if (status == kStatusOk) return RangeAnswer::kWholeFile;
  if (status != kStatusPartialContent) return RangeAnswer::kUnusable;
  const std::optional<uint64_t> start = ContentRangeStart(contentRange);
  return start && *start == offset ? RangeAnswer::kRest : RangeAnswer::kUnusable;
}
