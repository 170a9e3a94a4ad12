#pragma once
// Splits a service URL into what a connection and a request need.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr uint16_t kDefaultHttpsPort = 443;
inline constexpr uint16_t kDefaultHttpPort = 80;

struct UrlParts {
  std::wstring server;  // host name, without a port
  std::wstring object;  // the text after the host's "/", without that slash
  bool secure = false;
  uint16_t port = kDefaultHttpPort;  // an explicit port, else the scheme's own
};

// "https://" or "http://" (either case) at the start chooses TLS and the
// default port; without a scheme the URL is taken as a plain-HTTP host and
// path. An explicit port ("localhost:8443") is used; nothing comes back when
// it is not a number from 1 to 65535.
std::optional<UrlParts> SplitUrl(std::wstring_view url);
