#pragma once
// Guards the fuzzer against inputs that crash or hang the code under test: the
// input being fed is known to a thread of its own, which writes it into the
// findings folder and ends the process with a code of its own when the
// feeding thread faults (any unhandled exception, abort) or runs over the time limit.

#include <cstdint>
#include <string>

namespace fuzz {

inline constexpr int kExitClean = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitBrokenInvariant = 2;
inline constexpr int kExitCrash = 3;
inline constexpr int kExitHang = 4;
inline constexpr int kExitException = 5;  // a C++ exception left the code under test

// Starts the guard thread and installs the fault handlers; once per process.
// False when the thread can't be started.
bool StartWatchdog(const std::wstring& findingsFolder, uint32_t timeLimitMs);

// The input that a fault or overrun until EndInput is blamed on. The strings
// must live until EndInput.
void BeginInput(const std::string& surface, uint64_t seed, uint64_t index, const std::string& input);
void EndInput();

}  // namespace fuzz
