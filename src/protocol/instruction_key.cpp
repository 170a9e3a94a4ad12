#include "protocol/instruction_key.h"

#include "system/file_digest.h"

std::string KeyIdOf(const InstructionKey& key) {
  const std::optional<Sha256Digest> digest = Sha256Of(key);
  if (!digest) return {};
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string id;
  for (size_t i = 0; i < 8; ++i) {
    id += kDigits[(*digest)[i] >> 4];
    id += kDigits[(*digest)[i] & 0xF];
  }
  return id;
}
