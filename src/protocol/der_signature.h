#pragma once
// An ECDSA signature in the DER form openssl writes, SEQUENCE { INTEGER r,
// INTEGER s }, turned into the r||s form CNG verifies.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

using P256Signature = std::array<uint8_t, 64>;  // r then s, 32 bytes each, big-endian

// Strict DER: short lengths, minimal integers, positive values of at most
// 32 bytes, nothing after the sequence. Nothing for anything else.
std::optional<P256Signature> DecodeDerSignature(std::span<const uint8_t> der);
