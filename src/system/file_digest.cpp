#include "system/file_digest.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "win/bcrypt_handles.h"
#include "win/unique_handle.h"

namespace {

// Large reads: a setup of some hundred megabytes is hashed in a moment.
constexpr DWORD kBlockBytes = 1024 * 1024;

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// One SHA-256 computation through CNG.
class Sha256Hasher {
 public:
  Sha256Hasher() {
    if (BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      ::BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0);
    }
  }
  bool valid() const { return hash_.valid(); }
  bool Add(std::span<const uint8_t> bytes) {
    // CNG takes a mutable pointer but only reads through it.
    return BCRYPT_SUCCESS(
        ::BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(bytes.size()), 0));
  }
  std::optional<Sha256Digest> Finish() {
    Sha256Digest digest{};
    if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0))) {
      return std::nullopt;
    }
    return digest;
  }

 private:
  win::UniqueAlgorithmProvider algorithm_;
  win::UniqueHash hash_;
};

}  // namespace

std::optional<Sha256Digest> Sha256OfFile(const std::wstring& path) {
  const win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return std::nullopt;
  return Sha256OfOpenFile(file.get());
}

std::optional<Sha256Digest> Sha256OfOpenFile(HANDLE file) {
  Sha256Hasher hasher;
  if (!hasher.valid()) return std::nullopt;
  std::vector<UCHAR> block(kBlockBytes);
  DWORD read = 0;
  while (true) {
    if (!::ReadFile(file, block.data(), kBlockBytes, &read, nullptr)) return std::nullopt;
    if (read == 0) break;
    if (!hasher.Add({block.data(), read})) return std::nullopt;
  }
  return hasher.Finish();
}

std::optional<Sha256Digest> Sha256Of(std::span<const uint8_t> bytes) {
  Sha256Hasher hasher;
  if (!hasher.valid() || !hasher.Add(bytes)) return std::nullopt;
  return hasher.Finish();
}

std::optional<Sha256Digest> ParseSha256(std::wstring_view hex) {
  Sha256Digest digest{};
  if (hex.size() != digest.size() * 2) return std::nullopt;
  for (size_t i = 0; i < digest.size(); ++i) {
    const int high = HexValue(hex[2 * i]);
    const int low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return digest;
}

std::wstring ToHex(const Sha256Digest& digest) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring hex;
  hex.reserve(digest.size() * 2);
  for (const uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}
