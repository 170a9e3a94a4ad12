#include "actions/file_digest.h"

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

}  // namespace

std::optional<Sha256Digest> Sha256OfFile(const std::wstring& path) {
  const win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return std::nullopt;
  win::UniqueAlgorithmProvider algorithm;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return std::nullopt;
  }
  win::UniqueHash hash;
  if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) {
    return std::nullopt;
  }
  std::vector<UCHAR> block(kBlockBytes);
  DWORD read = 0;
  while (true) {
    if (!::ReadFile(file.get(), block.data(), kBlockBytes, &read, nullptr)) return std::nullopt;
    if (read == 0) break;
    if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), block.data(), read, 0))) return std::nullopt;
  }
  Sha256Digest digest{};
  if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0))) {
    return std::nullopt;
  }
  return digest;
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
