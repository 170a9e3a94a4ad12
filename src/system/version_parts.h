#pragma once
// A version text's major, minor and remaining parts.

#include <string>

struct VersionParts {
  std::wstring major;
  std::wstring minor;
  std::wstring rest;  // everything after the second "."
};

// True when version has two "." separators. An empty text or one without "."
// leaves parts unchanged; a text with one "." sets only major.
bool SplitVersion(const std::wstring& version, VersionParts& parts);
