#include "protocol/der_signature.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr uint8_t kSequenceTag = 0x30;
constexpr uint8_t kIntegerTag = 0x02;
constexpr size_t kPartBytes = 32;

// Reads one INTEGER at `at` into out (right-aligned), advancing `at`.
bool ReadInteger(std::span<const uint8_t> der, size_t& at, uint8_t* out) {
  if (der.size() - at < 2 || der[at] != kIntegerTag) return false;
  const size_t length = der[at + 1];
  at += 2;
  // A long-form length would mean more than 127 bytes: never a P-256 value.
  if (length == 0 || length > kPartBytes + 1 || der.size() - at < length) return false;
  std::span<const uint8_t> value = der.subspan(at, length);
  at += length;
  if ((value[0] & 0x80) != 0) return false;                                       // negative
  if (value.size() > 1 && value[0] == 0 && (value[1] & 0x80) == 0) return false;  // not minimal
  if (value[0] == 0) value = value.subspan(1);
  if (value.size() > kPartBytes) return false;
  std::copy(value.begin(), value.end(), out + (kPartBytes - value.size()));
  return true;
}

}  // namespace

std::optional<P256Signature> DecodeDerSignature(std::span<const uint8_t> der) {
  if (der.size() < 2 || der[0] != kSequenceTag || der[1] != der.size() - 2) return std::nullopt;
  P256Signature signature{};
  size_t at = 2;
  if (!ReadInteger(der, at, signature.data()) || !ReadInteger(der, at, signature.data() + kPartBytes)) {
    return std::nullopt;
  }
  if (at != der.size()) return std::nullopt;
  return signature;
}
