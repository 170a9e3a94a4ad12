#pragma once
// The real documents each surface's inputs start from: what the reference
// service builds from its catalogs, what the updater is started with, what a
// product's folder holds. The log's record files are made by the log itself
// at run time (see surfaces.cpp).

#include <string>
#include <vector>

namespace fuzz {

// Instruction documents as the service writes them, and the service's answers that wrap them.
std::vector<std::string> InstructionSeeds();
std::vector<std::string> InstructionWords();

// Command lines, UTF-8.
std::vector<std::string> CommandLineSeeds();
std::vector<std::string> CommandLineWords();

std::vector<std::string> VersionInfoSeeds();

// Service and download addresses, UTF-8.
std::vector<std::string> UrlSeeds();
std::vector<std::string> UrlWords();

// The answer the service sends for text: "<string>" with the text escaped,
// and optionally signed.
std::string WrapperAnswer(const std::string& text, bool withSignature);

}  // namespace fuzz
