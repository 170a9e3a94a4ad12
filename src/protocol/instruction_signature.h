#pragma once
// Whether an instruction comes from the vendor: the signature the service puts
// on its answer's root element, checked against the keys built into the
// updater before anything of the instruction is read.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocol/instruction_key.h"

// The root element's "Signature" (base64 of the DER signature) and
// "SignatureKey" (the KeyIdOf the signing key); each nothing when absent.
struct AnswerSignature {
  std::optional<std::string> Signature;
  std::optional<std::string> KeyId;
};

enum class SignatureVerdict {
  kValid,
  kMissing,     // no Signature attribute
  kMalformed,   // not base64 of a DER ECDSA signature
  kUnknownKey,  // SignatureKey names none of the keys
  kInvalid,     // no key's signature over these bytes (or CNG could not check)
};

// Checks the ECDSA P-256 signature over SHA-256 of text's bytes. Without a
// SignatureKey every key is tried, so that a plain openssl signature will do.
SignatureVerdict VerifyInstructionSignature(std::string_view text, const AnswerSignature& signature,
                                            std::span<const InstructionKey> keys);
