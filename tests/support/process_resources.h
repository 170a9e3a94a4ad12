#pragma once
// What this process holds of the system's resources, for the tests that run
// one piece of work many times and check that it gives back what it took.

#include <windows.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>

namespace testing_support {

struct ProcessResources {
  DWORD handles = 0;        // GetProcessHandleCount
  DWORD gdiObjects = 0;     // GetGuiResources, GR_GDIOBJECTS
  DWORD userObjects = 0;    // GetGuiResources, GR_USEROBJECTS
  SIZE_T privateBytes = 0;  // PROCESS_MEMORY_COUNTERS_EX::PrivateUsage
  DWORD threads = 0;        // of this process, in a thread snapshot
};
std::ostream& operator<<(std::ostream& out, const ProcessResources& resources);

ProcessResources MeasureProcessResources();

// How much a repeated piece of work may leave behind in all: caches the
// system fills on first use and heap pages kept for reuse, not one leak per
// round (the rounds outnumber each margin).
struct GrowthMargins {
  DWORD handles = 0;
  DWORD guiObjects = 0;  // GDI and USER alike
  SIZE_T privateBytes = 0;
  DWORD threads = 0;  // worker threads the system starts on demand and keeps
};

// What a piece of work left behind over its rounds.
struct Growth {
  ProcessResources before;  // after the warm-up
  ProcessResources after;   // after the rounds
  int rounds = 0;
  long long privateBytes() const {
    return static_cast<long long>(after.privateBytes) - static_cast<long long>(before.privateBytes);
  }
};

// Runs work warmUp times (so that one-off allocations are made), then rounds
// times, waiting after each until the threads it started have ended. Nothing
// when work returned false (after a failed assertion).
std::optional<Growth> MeasureGrowth(int warmUp, int rounds, const std::function<bool()>& work);

// Checks that what the process holds grew by no more than the margins.
void ExpectWithin(const char* what, const Growth& growth, const GrowthMargins& margins);

// Both of the above.
void ExpectNoGrowth(const char* what, int warmUp, int rounds, const GrowthMargins& margins,
                    const std::function<bool()>& work);

}  // namespace testing_support
