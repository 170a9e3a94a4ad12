#pragma once
// The reference update service that ctest starts for this build folder, as the
// tests reach it: its ports, base URLs with a scope and faults of a test's own,
// and the requests it recorded for a scope.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace testing_support {

struct UpdateServerPorts {
  uint16_t main = 0;        // certificate of the trusted test authority
  uint16_t selfSigned = 0;  // self-signed certificate
  uint16_t untrusted = 0;   // certificate of an authority the prefix does not trust
};

// Read from the port file the fixture writes; nothing when the service is not running.
std::optional<UpdateServerPorts> FindUpdateServer();

// A base URL ending in "/Renova/" whose requests are recorded under scope and
// answered with the given faults (";"-separated, empty for none).
std::wstring ServiceBaseUrl(const wchar_t* scheme, uint16_t port, const std::wstring& scope,
                            const std::wstring& faults = L"");

// A scope no other test uses.
std::wstring NewScope();

// How many requests the service recorded for scope, and one field of one of
// them ("method", "scheme", "user_agent", "content_type", "raw_body", "xml", ...).
int RecordCount(uint16_t port, const std::wstring& scope);
std::optional<std::string> RecordField(uint16_t port, const std::wstring& scope, int index, const char* field);

// The base64url form that the "text=" and "raw=" faults take.
std::wstring Base64Url(std::string_view bytes);

// A test that talks to the service: its ports and a scope of the test's own.
class UpdateServerTest : public ::testing::Test {
 protected:
  void SetUp() override;

  UpdateServerPorts ports_;
  std::wstring scope_;
};

}  // namespace testing_support
