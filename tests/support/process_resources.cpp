#include "support/process_resources.h"

#include <psapi.h>
#include <winternl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <iostream>

#include <gtest/gtest.h>

#include "win/unique_handle.h"

namespace testing_support {

namespace {

DWORD CountOwnThreads() {
  const win::UniqueSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  DWORD count = 0;
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
  }
  return count;
}

// Threads a round started (report posts, the worker) end a little after the
// round's result is known; a thread still running holds its handles and stack.
// The count it ended at.
DWORD WaitForThreadsAtMost(DWORD threads) {
  DWORD count = CountOwnThreads();
  for (int i = 0; i < 200 && count > threads; ++i) {
    ::Sleep(50);
    count = CountOwnThreads();
  }
  return count;
}

// Where the system's own counts are missing (Wine answers 0 for the handle
// count, both GUI counts and the private bytes) they are counted directly.

// Every handle value that names an open handle.
DWORD CountHandlesByProbing() {
  DWORD count = 0;
  for (ULONG_PTR value = 4; value < 0x40000; value += 4) {
    DWORD flags = 0;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

// The GDI handle table the process environment block points to: 24-byte
// entries, a non-zero type for each live object. Under Wine it is the
// process's own; on Windows GetGuiResources answers before this is needed.
DWORD CountGdiObjectsInHandleTable() {
  struct Entry {
    uint64_t object;
    uint16_t processId;
    uint16_t count;
    uint16_t unique;
    uint8_t type;
    uint8_t flags;
    uint64_t user;
  };
  static_assert(sizeof(Entry) == 24);
  constexpr size_t kGdiSharedHandleTableOffset = 0xF8;  // in the 64-bit PEB
  constexpr size_t kMaxGdiHandles = 0x10000;
  const auto* peb = reinterpret_cast<const unsigned char*>(NtCurrentTeb()->ProcessEnvironmentBlock);
  const Entry* table = *reinterpret_cast<const Entry* const*>(peb + kGdiSharedHandleTableOffset);
  if (table == nullptr) return 0;
  DWORD count = 0;
  for (size_t i = 0; i < kMaxGdiHandles; ++i) {
    if (table[i].type != 0) ++count;
  }
  return count;
}

// The windows of this process, top-level and child.
DWORD CountOwnWindows() {
  struct Count {
    static BOOL CALLBACK Child(HWND, LPARAM total) {
      ++*reinterpret_cast<DWORD*>(total);
      return TRUE;
    }
    static BOOL CALLBACK TopLevel(HWND window, LPARAM total) {
      DWORD process = 0;
      ::GetWindowThreadProcessId(window, &process);
      if (process != ::GetCurrentProcessId()) return TRUE;
      ++*reinterpret_cast<DWORD*>(total);
      ::EnumChildWindows(window, Child, total);
      return TRUE;
    }
  };
  DWORD total = 0;
  ::EnumWindows(Count::TopLevel, reinterpret_cast<LPARAM>(&total));
  return total;
}

// Committed memory of the process's own (heaps, stacks, VirtualAlloc), not
// shared with others: what a leak makes grow.
SIZE_T CommittedPrivateBytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (const char* address = nullptr; ::VirtualQuery(address, &region, sizeof region) == sizeof region;
       address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
  }
  return total;
}

// After the first rounds the system keeps threads of its own (WinINet's and
// COM's workers); the count they leave is the one later rounds must return to.
DWORD SettledThreadCount() {
  DWORD count = CountOwnThreads();
  for (int same = 0, i = 0; same < 5 && i < 100; ++i) {
    ::Sleep(100);
    const DWORD now = CountOwnThreads();
    same = now == count ? same + 1 : 0;
    count = now;
  }
  return count;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const ProcessResources& r) {
  return out << r.handles << " handles, " << r.gdiObjects << " GDI and " << r.userObjects << " USER objects, "
             << r.privateBytes / 1024 << " KiB private, " << r.threads << " threads";
}

ProcessResources MeasureProcessResources() {
  ProcessResources r;
  const HANDLE self = ::GetCurrentProcess();
  if (!::GetProcessHandleCount(self, &r.handles) || r.handles == 0) r.handles = CountHandlesByProbing();
  r.gdiObjects = ::GetGuiResources(self, GR_GDIOBJECTS);
  if (r.gdiObjects == 0) r.gdiObjects = CountGdiObjectsInHandleTable();
  r.userObjects = ::GetGuiResources(self, GR_USEROBJECTS);
  if (r.userObjects == 0) r.userObjects = CountOwnWindows();
  r.privateBytes = CommittedPrivateBytes();
  r.threads = CountOwnThreads();
  return r;
}

std::optional<Growth> MeasureGrowth(int warmUp, int rounds, const std::function<bool()>& work) {
  for (int i = 0; i < warmUp; ++i) {
    if (!work()) return std::nullopt;
  }
  Growth growth;
  DWORD threads = SettledThreadCount();
  growth.before = MeasureProcessResources();
  for (int i = 0; i < rounds; ++i) {
    if (!work()) return std::nullopt;
    // A thread that outlives the wait is one the system keeps (ExpectWithin
    // judges it); later rounds need not wait for it again.
    threads = std::max(threads, WaitForThreadsAtMost(threads));
  }
  growth.after = MeasureProcessResources();
  growth.rounds = rounds;
  return growth;
}

void ExpectWithin(const char* what, const Growth& growth, const GrowthMargins& margins) {
  const ProcessResources& before = growth.before;
  const ProcessResources& after = growth.after;
  SCOPED_TRACE(::testing::Message() << what << ", " << growth.rounds << " rounds: before " << before << "; after "
                                    << after);
  EXPECT_LE(after.threads, before.threads + margins.threads) << "threads still running";
  EXPECT_LE(after.handles, before.handles + margins.handles);
  EXPECT_LE(after.gdiObjects, before.gdiObjects + margins.guiObjects);
  EXPECT_LE(after.userObjects, before.userObjects + margins.guiObjects);
  EXPECT_LE(after.privateBytes, before.privateBytes + margins.privateBytes);
  // The figures, for the record in the test's output.
  std::cout << what << ": before " << before << "\n" << what << ": after  " << after << "\n";
}

void ExpectNoGrowth(const char* what, int warmUp, int rounds, const GrowthMargins& margins,
                    const std::function<bool()>& work) {
  if (const std::optional<Growth> growth = MeasureGrowth(warmUp, rounds, work)) ExpectWithin(what, *growth, margins);
}

}  // namespace testing_support
