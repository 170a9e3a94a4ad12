#include "ui/web_address.h"

#include <array>

#include "system/resolved_path.h"

namespace {

constexpr std::array<std::wstring_view, 2> kWebSchemes = {L"http://", L"https://"};

// Characters a shell or a command line could read as something other than
// part of one address.
bool IsAllowedCharacter(wchar_t c) { return c > L' ' && c != 0x7f && c != L'"' && c != L'\\'; }

// The host of "[user@]host[:port]": not empty, and not only a port.
bool NamesHost(std::wstring_view authority) {
  const size_t at = authority.rfind(L'@');
  if (at != std::wstring_view::npos) authority.remove_prefix(at + 1);
  if (authority.empty() || authority.front() == L':') return false;
  if (authority.front() != L'[') return true;
  const size_t close = authority.find(L']');  // an IPv6 address
  return close != std::wstring_view::npos && close > 1;
}

}  // namespace

bool IsWebPageAddress(std::wstring_view address) {
  if (address.size() > kMaxWebAddressChars) return false;
  for (const wchar_t c : address) {
    if (!IsAllowedCharacter(c)) return false;
  }
  for (const std::wstring_view scheme : kWebSchemes) {
    if (!StartsWithIgnoringCase(address, scheme)) continue;
    const std::wstring_view rest = address.substr(scheme.size());
    return NamesHost(rest.substr(0, rest.find_first_of(L"/?#")));
  }
  return false;
}
