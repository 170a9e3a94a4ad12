#pragma once
// What the fuzzer keeps of an input that broke something: the input's bytes in
// "<surface>-seed<seed>-input<index>-<kind>.bin" and what happened beside it in
// a ".txt" of the same name, in the findings folder.

#include <cstdint>
#include <string>

namespace fuzz {

// The .bin file's path; empty when it could not be written. The folder is
// made when it does not exist.
std::wstring WriteFinding(const std::wstring& folder, const std::string& surface, uint64_t seed, uint64_t index,
                          const char* kind, const std::string& input, const std::string& what);

}  // namespace fuzz
