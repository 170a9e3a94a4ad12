#include "protocol/split_url.h"

#include <cwctype>

namespace {

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::towlower(text[i]) != prefix[i]) return false;
  }
  return true;
}

std::optional<uint16_t> ParsePort(std::wstring_view digits) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (const wchar_t c : digits) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

// The position of the ":" before a port in "host:port" or "[v6]:port", or npos.
size_t PortSeparator(std::wstring_view host) {
  if (!host.empty() && host.front() == L'[') {
    const size_t close = host.find(L']');
    if (close == std::wstring_view::npos || close + 1 >= host.size()) return std::wstring_view::npos;
    return host[close + 1] == L':' ? close + 1 : std::wstring_view::npos;
  }
  return host.rfind(L':');
}

}  // namespace

std::optional<UrlParts> SplitUrl(std::wstring_view url) {
  UrlParts parts;
  std::wstring_view rest = url;
  if (StartsWithNoCase(rest, L"https://")) {
    rest.remove_prefix(8);
    parts.secure = true;
    parts.port = kDefaultHttpsPort;
  } else if (StartsWithNoCase(rest, L"http://")) {
    rest.remove_prefix(7);
  }

  const size_t slash = rest.find(L'/');
  std::wstring_view host = rest.substr(0, slash);
  if (slash != std::wstring_view::npos) parts.object.assign(rest.substr(slash + 1));

  if (const size_t colon = PortSeparator(host); colon != std::wstring_view::npos) {
    const std::optional<uint16_t> port = ParsePort(host.substr(colon + 1));
    if (!port) return std::nullopt;
    parts.port = *port;
    host = host.substr(0, colon);
  }
  parts.server.assign(host);
  return parts;
}
