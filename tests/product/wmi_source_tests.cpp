// The WMI source against the prefix's real WMI. Under Wine every set-up step
// works but Win32_Product has no rows, so a search ends where the enumerator
// brings no object. Searches run on threads of their own, so the test thread's
// apartment plays no part.

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "product/installed_product_sources.h"
#include "source_test_support.h"
#include "support/log_capture.h"
#include "support/scratch.h"
#include "win/com_ptr.h"

namespace {

using testing_support::LogCapture;
using testing_support::UniqueName;

// Runs the search on a new thread, inside `callerApartment` when one is given.
Win32ProductsResult SearchOnNewThread(ProgramInfos& info, std::optional<DWORD> callerApartment = std::nullopt) {
  Win32ProductsResult result = Win32ProductsResult::kFound;
  std::thread([&] {
    std::optional<win::ScopedComInit> apartment;
    if (callerApartment) apartment.emplace(*callerApartment);
    result = SearchWin32Products(info);
  }).join();
  return result;
}

TEST(Win32Products, SearchesEndWhenTheEnumeratorBringsNoObject) {
  ProgramInfos byLocation;
  byLocation.InstalledLocation = L"C:\\VLRN Tests\\" + UniqueName(L"wmi");
  byLocation.ProgramName = L"Kept";
  ProgramInfos byName;
  byName.ProgramName = UniqueName(L"Velbor WMI");
  // Nothing to compare with: the query still runs; only a first product would
  // end the search early (Wine has none to show).
  ProgramInfos empty;
  empty.DisplayName = L"Shown";
  LogCapture log;

  // Several searches in one process: on Windows the later ones find COM
  // security set already (Wine accepts it again).
  EXPECT_EQ(Win32ProductsResult::kNoMoreObjects, SearchOnNewThread(byLocation));
  EXPECT_EQ(Win32ProductsResult::kNoMoreObjects, SearchOnNewThread(byName));
  EXPECT_EQ(Win32ProductsResult::kNoMoreObjects, SearchOnNewThread(empty));
  bool found = true;
  std::thread([&] { found = ReadFromWin32_Products(byName); }).join();
  EXPECT_FALSE(found);

  EXPECT_EQ(4u, log.Count(L"Connected to ROOT\\CIMV2 WMI namespace"));
  EXPECT_EQ(4u, log.Count(L"pEnumerator->Next() failed and returned: 1"));
  EXPECT_EQ(0u, log.Count(L"Failed to initialize security"));
  // Only the location got its backslash; nothing else was written.
  EXPECT_EQ(L"Kept", byLocation.ProgramName);
  EXPECT_EQ(L'\\', byLocation.InstalledLocation.back());
  EXPECT_EQ(L"", byLocation.UninstallKeyName + byName.UninstallKeyName + byName.InstalledLocation);
  EXPECT_EQ(L"", empty.InstalledLocation + empty.ProgramName);
}

TEST(Win32Products, EndsAtOnceInAnotherApartment) {
  ProgramInfos named;
  named.ProgramName = UniqueName(L"Velbor WMI");
  LogCapture log;

  EXPECT_EQ(Win32ProductsResult::kComInitFailed, SearchOnNewThread(named, COINIT_APARTMENTTHREADED));
  EXPECT_EQ(1u, log.Count(L"Failed to initialize COM library. "));
  EXPECT_EQ(0u, log.Count(L"Connected to ROOT\\CIMV2"));
}

}  // namespace
