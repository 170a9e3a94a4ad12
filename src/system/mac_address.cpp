#include "system/mac_address.h"

#include <memory>
#include <new>

#include "logfront/log.h"
#include "system/error_text.h"
#include "win/strings.h"

namespace {

constexpr ULONG kInitialBufferBytes = 0x4000;
// The list can grow between the size query and the next call; don't chase it forever.
constexpr int kMaxQueryAttempts = 8;
constexpr size_t kMacBytes = 6;
constexpr USHORT kIpv4SockaddrLength = 16;

bool IsUsableIpv4Address(const IP_ADAPTER_UNICAST_ADDRESS& address) {
  if ((address.Flags & IP_ADAPTER_ADDRESS_TRANSIENT) != 0) return false;
  if ((address.Flags & IP_ADAPTER_ADDRESS_DNS_ELIGIBLE) == 0) return false;
  const SOCKET_ADDRESS& socket = address.Address;
  return socket.lpSockaddr != nullptr && socket.lpSockaddr->sa_family == AF_INET &&
         socket.iSockaddrLength == kIpv4SockaddrLength;
}

bool Qualifies(const IP_ADAPTER_ADDRESSES& adapter) {
  if (adapter.OperStatus != IfOperStatusUp) return false;
  for (const IP_ADAPTER_UNICAST_ADDRESS* address = adapter.FirstUnicastAddress; address != nullptr;
       address = address->Next) {
    if (IsUsableIpv4Address(*address)) return true;
  }
  return false;
}

// The physical-address field always holds eight bytes, so six can be read
// whatever length the adapter reports.
std::wstring FormatMacBytes(const BYTE* bytes) {
  std::wstring text;
  for (size_t i = 0; i < kMacBytes; ++i) {
    if (i > 0) text += L':';
    text += win::FormatW(L"%X", static_cast<unsigned>(bytes[i]));
  }
  return text;
}

}  // namespace

bool FindMacAddress(const IP_ADAPTER_ADDRESSES* adapters, std::wstring& text) {
  static_assert(sizeof(IP_ADAPTER_ADDRESSES{}.PhysicalAddress) >= kMacBytes);
  for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter != nullptr; adapter = adapter->Next) {
    if (!Qualifies(*adapter)) continue;
    text = FormatMacBytes(adapter->PhysicalAddress);
    return true;
  }
  return false;
}

bool QueryMacAddress(std::wstring& text) {
  ULONG size = kInitialBufferBytes;
  for (int attempt = 0; attempt < kMaxQueryAttempts; ++attempt) {
    // ULONGLONG elements keep the records' 8-byte alignment.
    std::unique_ptr<ULONGLONG[]> buffer(new (std::nothrow) ULONGLONG[(size + 7) / 8]);
    if (!buffer) {
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      const std::wstring reason = GetLastErrorText();
      LogError(L"malloc ulAdapterAddressesSize failed because: %s", reason.c_str());
      return false;
    }
    auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get());
    const ULONG result = ::GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_DNS_SERVER, nullptr, adapters, &size);
    if (result == ERROR_SUCCESS) return FindMacAddress(adapters, text);
    if (result != ERROR_BUFFER_OVERFLOW) return false;
  }
  return false;
}

bool MacAddressCache::Get(std::wstring& text, const Query& query) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (text_.empty()) {
    std::wstring found;
    if (!query(found) || found.empty()) return false;
    text_ = found;
  }
  text = text_;
  return true;
}

bool GetMacAddress(std::wstring& text) {
  // Never destroyed, for threads that still ask while the process ends.
  static MacAddressCache& cache = *new MacAddressCache;
  return cache.Get(text, QueryMacAddress);
}
