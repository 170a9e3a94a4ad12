#pragma once
// The text the update service wraps in its answer's root element.

#include <string>

#include "protocol/instruction_signature.h"

inline constexpr int kAnswerTextFound = 0;
inline constexpr int kAnswerNotXml = 10;
inline constexpr int kAnswerNoRoot = 11;

// Converts the answer with the thread's ANSI code page, parses it and copies
// the root element's text (entities resolved) into text, at most as long as
// the answer itself. kAnswerTextFound (text possibly empty), kAnswerNotXml or
// kAnswerNoRoot; text is empty on every failure.
int ExtractAnswerText(const std::wstring& answer, std::string& text);
// The same, and the root element's Signature and SignatureKey attributes
// (each nothing when absent, or on failure).
int ExtractAnswerText(const std::wstring& answer, std::string& text, AnswerSignature& signature);
