#pragma once
// The gate an answer passes when the updater holds instruction keys: a good
// signature from one of them, and an instruction that has not expired.

#include <cstdint>
#include <span>
#include <string>

#include "protocol/instruction_key.h"
#include "protocol/instruction_signature.h"

// True when the instruction text may be read. Every refusal has its own
// error line. now: UTC in FILETIME units.
bool AcceptSignedAnswer(const std::string& text, const AnswerSignature& signature, std::span<const InstructionKey> keys,
                        uint64_t now);
