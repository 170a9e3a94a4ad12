#pragma once
// The MAC address that identifies this machine to the update server: the first
// adapter that is up and has a permanent, DNS-eligible IPv4 address.
// Text form: six bytes in upper-case hexadecimal without leading zeros,
// separated by ":" (00 1A 2B 03 4D 5E gives "0:1A:2B:3:4D:5E").

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <functional>
#include <mutex>
#include <string>

// The address, found once per process: later calls answer from the first
// result even when the adapters changed. False (and nothing kept) when no
// adapter qualifies, so the next call searches again.
bool GetMacAddress(std::wstring& text);

// The text of the first qualifying adapter in the list, in list order.
bool FindMacAddress(const IP_ADAPTER_ADDRESSES* adapters, std::wstring& text);

// Asks the system for the IPv4 adapters and applies FindMacAddress.
bool QueryMacAddress(std::wstring& text);

// Keeps the first successful answer of a query; GetMacAddress holds the
// process-wide one.
class MacAddressCache {
 public:
  using Query = std::function<bool(std::wstring& text)>;
  bool Get(std::wstring& text, const Query& query);

 private:
  std::mutex mutex_;
  std::wstring text_;
};
