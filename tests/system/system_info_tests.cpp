#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <deque>
#include <regex>
#include <string>

#include "system/mac_address.h"
#include "system/machine_guid.h"
#include "system/os_version.h"

namespace {

// Adapter records as GetAdaptersAddresses links them; Wine's own adapters
// can't be shaped, so the selection rules are checked on lists built here.
class AdapterList {
 public:
  struct Address {
    ADDRESS_FAMILY family = AF_INET;
    INT length = sizeof(SOCKADDR_IN);
    DWORD flags = IP_ADAPTER_ADDRESS_DNS_ELIGIBLE;
  };

  void Add(IF_OPER_STATUS status, std::initializer_list<BYTE> mac, std::initializer_list<Address> addresses) {
    IP_ADAPTER_ADDRESSES& adapter = adapters_.emplace_back();
    adapter.OperStatus = status;
    adapter.PhysicalAddressLength = static_cast<DWORD>(mac.size());
    std::copy(mac.begin(), mac.end(), adapter.PhysicalAddress);
    IP_ADAPTER_UNICAST_ADDRESS** link = &adapter.FirstUnicastAddress;
    for (const Address& address : addresses) {
      SOCKADDR_STORAGE& socket = sockets_.emplace_back();
      socket.ss_family = address.family;
      IP_ADAPTER_UNICAST_ADDRESS& unicast = unicasts_.emplace_back();
      unicast.Flags = address.flags;
      unicast.Address.lpSockaddr = reinterpret_cast<SOCKADDR*>(&socket);
      unicast.Address.iSockaddrLength = address.length;
      *link = &unicast;
      link = &unicast.Next;
    }
    if (adapters_.size() > 1) adapters_[adapters_.size() - 2].Next = &adapter;
  }

  const IP_ADAPTER_ADDRESSES* first() const { return adapters_.empty() ? nullptr : &adapters_.front(); }

 private:
  // Deques keep the records in place while the list grows.
  std::deque<IP_ADAPTER_ADDRESSES> adapters_;
  std::deque<IP_ADAPTER_UNICAST_ADDRESS> unicasts_;
  std::deque<SOCKADDR_STORAGE> sockets_;
};

constexpr AdapterList::Address kUsable{};
constexpr AdapterList::Address kTransient{AF_INET, sizeof(SOCKADDR_IN),
                                          IP_ADAPTER_ADDRESS_DNS_ELIGIBLE | IP_ADAPTER_ADDRESS_TRANSIENT};
constexpr AdapterList::Address kNotDnsEligible{AF_INET, sizeof(SOCKADDR_IN), 0};
constexpr AdapterList::Address kIpv6{AF_INET6, sizeof(SOCKADDR_IN6), IP_ADAPTER_ADDRESS_DNS_ELIGIBLE};
constexpr AdapterList::Address kOddLength{AF_INET, sizeof(SOCKADDR_IN6), IP_ADAPTER_ADDRESS_DNS_ELIGIBLE};

const std::wregex kMacPattern(L"([0-9A-F]{1,2}:){5}[0-9A-F]{1,2}");

TEST(FindMacAddress, FirstAdapterThatIsUpWithAPermanentIpv4Address) {
  AdapterList adapters;
  adapters.Add(IfOperStatusDown, {1, 1, 1, 1, 1, 1}, {kUsable});
  adapters.Add(IfOperStatusUp, {2, 2, 2, 2, 2, 2}, {kTransient});
  adapters.Add(IfOperStatusUp, {3, 3, 3, 3, 3, 3}, {kNotDnsEligible, kIpv6, kOddLength});
  adapters.Add(IfOperStatusUp, {0x00, 0x1A, 0x2B, 0x03, 0x4D, 0x5E}, {kTransient, kIpv6, kUsable});
  adapters.Add(IfOperStatusUp, {5, 5, 5, 5, 5, 5}, {kUsable});

  std::wstring text;
  ASSERT_TRUE(FindMacAddress(adapters.first(), text));
  EXPECT_EQ(text, L"0:1A:2B:3:4D:5E");
}

TEST(FindMacAddress, NoAdapterQualifies) {
  AdapterList adapters;
  adapters.Add(IfOperStatusUp, {2, 2, 2, 2, 2, 2}, {kTransient});
  adapters.Add(IfOperStatusTesting, {1, 1, 1, 1, 1, 1}, {kUsable});
  adapters.Add(IfOperStatusUp, {3, 3, 3, 3, 3, 3}, {});

  std::wstring text = L"unchanged";
  EXPECT_FALSE(FindMacAddress(adapters.first(), text));
  EXPECT_FALSE(FindMacAddress(nullptr, text));
  EXPECT_EQ(text, L"unchanged");
}

TEST(FindMacAddress, AlwaysSixBytesWithoutLeadingZeros) {
  AdapterList adapters;
  adapters.Add(IfOperStatusUp, {0x0A, 0x00, 0xFF, 0x10, 0x01, 0xB0}, {kUsable});
  std::wstring text;
  ASSERT_TRUE(FindMacAddress(adapters.first(), text));
  EXPECT_EQ(text, L"A:0:FF:10:1:B0");

  // A shorter physical address still gives six bytes, the missing ones as 0.
  AdapterList shortAddress;
  shortAddress.Add(IfOperStatusUp, {0xAB, 0xCD}, {kUsable});
  ASSERT_TRUE(FindMacAddress(shortAddress.first(), text));
  EXPECT_EQ(text, L"AB:CD:0:0:0:0");
}

TEST(MacAddressCache, KeepsTheFirstAnswerOnly) {
  MacAddressCache cache;
  int queries = 0;
  std::wstring answer;  // empty: no adapter qualifies
  const auto query = [&](std::wstring& text) {
    ++queries;
    if (answer.empty()) return false;
    text = answer;
    return true;
  };

  std::wstring text = L"unchanged";
  EXPECT_FALSE(cache.Get(text, query));
  EXPECT_EQ(text, L"unchanged");

  answer = L"1:2:3:4:5:6";
  ASSERT_TRUE(cache.Get(text, query));
  EXPECT_EQ(text, L"1:2:3:4:5:6");
  EXPECT_EQ(queries, 2);

  // The adapters changed, but the process keeps its first answer.
  answer = L"A:B:C:D:E:F";
  ASSERT_TRUE(cache.Get(text, query));
  EXPECT_EQ(text, L"1:2:3:4:5:6");
  EXPECT_EQ(queries, 2);
}

TEST(GetMacAddress, RealAdapters) {
  std::wstring queried;
  const bool found = QueryMacAddress(queried);
  std::wstring text;
  ASSERT_EQ(GetMacAddress(text), found);
  if (!found) GTEST_SKIP() << "no adapter of this machine qualifies";
  EXPECT_TRUE(std::regex_match(text, kMacPattern)) << text;
  EXPECT_EQ(text, queried);
}

TEST(GetOsVersion, TrueVersionOfTheWindows10Prefix) {
  OSVERSIONINFOEXW info{};
  info.dwMajorVersion = 99;
  ASSERT_EQ(GetOsVersion(info), 0);
  EXPECT_EQ(info.dwOSVersionInfoSize, 284u);
  EXPECT_EQ(info.dwMajorVersion, 10u);
  EXPECT_EQ(info.dwMinorVersion, 0u);
  EXPECT_GE(info.dwBuildNumber, 10240u);
  EXPECT_EQ(info.wProductType, VER_NT_WORKSTATION);
}

TEST(GetMachineGuid, MatchesTheRegistryValue) {
  wchar_t expected[64] = {};
  DWORD bytes = sizeof(expected);
  ASSERT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                           RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, expected, &bytes),
            ERROR_SUCCESS);

  std::wstring guid;
  ASSERT_TRUE(GetMachineGuid(guid));
  EXPECT_EQ(guid, expected);
  EXPECT_EQ(guid.size(), 36u);
}

}  // namespace
