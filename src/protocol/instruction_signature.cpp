#include "protocol/instruction_signature.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "logfront/log.h"
#include "protocol/base64.h"
#include "protocol/der_signature.h"
#include "system/file_digest.h"
#include "win/bcrypt_handles.h"

namespace {

// What BCryptVerifySignature answers for a signature that doesn't match.
constexpr NTSTATUS kInvalidSignature = static_cast<NTSTATUS>(0xC000A000);

// True when the key's signature over digest is good. A CNG failure other
// than a bad signature is logged: it refuses the answer all the same.
bool SignedBy(const InstructionKey& key, const Sha256Digest& digest, const P256Signature& signature) {
  win::UniqueAlgorithmProvider algorithm;
  NTSTATUS status = ::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) {
    LogError(L"ECDSA P-256 is not available (0x%08X)", static_cast<unsigned>(status));
    return false;
  }
  struct PublicKeyBlob {
    BCRYPT_ECCKEY_BLOB header;
    InstructionKey point;
  } blob{{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32}, key};
  static_assert(sizeof(PublicKeyBlob) == sizeof(BCRYPT_ECCKEY_BLOB) + 64, "CNG reads the point right after the header");
  win::UniqueKey imported;
  status = ::BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, imported.put(),
                                 reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0);
  if (!BCRYPT_SUCCESS(status)) {
    LogError(L"A built-in instruction key can't be imported (0x%08X)", static_cast<unsigned>(status));
    return false;
  }
  // CNG takes mutable pointers but only reads through them.
  status = ::BCryptVerifySignature(imported.get(), nullptr, const_cast<PUCHAR>(digest.data()),
                                   static_cast<ULONG>(digest.size()), const_cast<PUCHAR>(signature.data()),
                                   static_cast<ULONG>(signature.size()), 0);
  if (status != kInvalidSignature && !BCRYPT_SUCCESS(status)) {
    LogError(L"The instruction's signature can't be checked (0x%08X)", static_cast<unsigned>(status));
  }
  return BCRYPT_SUCCESS(status);
}

}  // namespace

SignatureVerdict VerifyInstructionSignature(std::string_view text, const AnswerSignature& signature,
                                            std::span<const InstructionKey> keys) {
  if (!signature.Signature) return SignatureVerdict::kMissing;
  const std::optional<std::vector<uint8_t>> der = DecodeBase64(*signature.Signature);
  const std::optional<P256Signature> decoded = der ? DecodeDerSignature(*der) : std::nullopt;
  if (!decoded) return SignatureVerdict::kMalformed;

  std::vector<const InstructionKey*> candidates;
  for (const InstructionKey& key : keys) {
    if (!signature.KeyId || *signature.KeyId == KeyIdOf(key)) candidates.push_back(&key);
  }
  if (candidates.empty()) return SignatureVerdict::kUnknownKey;

  const std::optional<Sha256Digest> digest = Sha256Of({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  if (!digest) return SignatureVerdict::kInvalid;
  for (const InstructionKey* key : candidates) {
    if (SignedBy(*key, *digest, *decoded)) return SignatureVerdict::kValid;
  }
  return SignatureVerdict::kInvalid;
}
