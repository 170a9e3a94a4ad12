#include "protocol/version_order.h"

namespace {

// The leading digits of the next part, without leading zeros; moves `text`
// past the part and its ".".
std::wstring_view NextNumber(std::wstring_view& text) {
  const size_t dot = text.find(L'.');
  std::wstring_view part = text.substr(0, dot);
  text = dot == std::wstring_view::npos ? std::wstring_view() : text.substr(dot + 1);
  size_t digits = 0;
  while (digits < part.size() && part[digits] >= L'0' && part[digits] <= L'9') ++digits;
  part = part.substr(0, digits);
  while (!part.empty() && part.front() == L'0') part.remove_prefix(1);
  return part;
}

}  // namespace

int CompareVersions(std::wstring_view a, std::wstring_view b) {
  while (!a.empty() || !b.empty()) {
    const std::wstring_view left = NextNumber(a);
    const std::wstring_view right = NextNumber(b);
    if (left.size() != right.size()) return left.size() < right.size() ? -1 : 1;
    if (const int order = left.compare(right); order != 0) return order < 0 ? -1 : 1;
  }
  return 0;
}
