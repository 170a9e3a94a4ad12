#pragma once
// A public key the updater trusts to sign the service's instructions: an
// ECDSA P-256 point, X then Y, 32 bytes each, big-endian.

#include <array>
#include <cstdint>
#include <string>

using InstructionKey = std::array<uint8_t, 64>;

// The key's short name in an answer: the first 8 bytes of the SHA-256 of
// X||Y, as 16 lower-case hexadecimal digits; empty when CNG can't hash.
std::string KeyIdOf(const InstructionKey& key);
