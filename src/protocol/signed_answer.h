#pragma once
// The gate an answer passes when the updater holds instruction keys: a good
// signature from one of them, on an instruction for the product that asked
// and with an expiry time that has not passed. Without the product's name an
// answer signed for one product could be sent to another; without an expiry
// an old answer could be sent again for ever.

#include <cstdint>
#include <span>
#include <string>

#include "protocol/instruction_key.h"
#include "protocol/instruction_signature.h"

// True when the instruction text may be read. Every refusal has its own
// error line. now: UTC in FILETIME units; programName: the ProgramName the
// request carried, which the instruction's must equal exactly.
bool AcceptSignedAnswer(const std::string& text, const AnswerSignature& signature, std::span<const InstructionKey> keys,
                        uint64_t now, const std::wstring& programName);
