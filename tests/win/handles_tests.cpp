// The owning wrappers of src/win on real system objects.
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <string>

#include "support/scratch.h"
#include "win/loader_module.h"
#include "win/unique_handle.h"

namespace {

bool EventExists(const std::wstring& name) {
  win::UniqueEvent event(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  return event.valid();
}

}  // namespace

TEST(UniqueHandle, ClosingKeepsTheLastErrorAndReleaseHandsOwnershipOn) {
  const std::wstring name = testing_support::UniqueName(L"HandleTest");
  {
    win::UniqueEvent event(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    ASSERT_TRUE(event.valid());
    ::SetLastError(ERROR_SHARING_VIOLATION);
    event.reset();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(event.valid());
  }
  EXPECT_FALSE(EventExists(name));
  {
    // Even a close that fails (the handle was closed behind the wrapper's back,
    // and nothing opened since can have taken its value) leaves the error of
    // the step before it.
    const HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(::CloseHandle(raw));
    win::UniqueEvent stale(raw);
    ::SetLastError(ERROR_SHARING_VIOLATION);
    stale.reset();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }

  HANDLE released = nullptr;
  {
    win::UniqueEvent event(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    win::UniqueEvent moved(std::move(event));
    EXPECT_FALSE(event.valid());
    released = moved.release();
  }
  EXPECT_TRUE(EventExists(name));  // the released handle still holds it
  ASSERT_TRUE(::CloseHandle(released));
  EXPECT_FALSE(EventExists(name));
}

TEST(UniqueHandle, LocalMemoryAndLoaderModulesAreReleased) {
  // FormatMessageW allocates the text; the wrapper owns it.
  win::UniqueLocalMemory<wchar_t> text;
  ASSERT_GT(::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING, L"held text", 0, 0,
                             reinterpret_cast<wchar_t*>(text.put()), 0, nullptr),
            0u);
  EXPECT_EQ(std::wstring(text.get()), L"held text");
  EXPECT_NE(::LocalSize(text.get()), 0u);
  ::SetLastError(ERROR_ACCESS_DENIED);
  text.reset();
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // A library this program does not use otherwise, loaded and unloaded through ntdll.
  using LdrLoadDllFunction = LONG(NTAPI*)(PWSTR, PULONG, PUNICODE_STRING, PVOID*);
  using RtlInitUnicodeStringFunction = VOID(NTAPI*)(PUNICODE_STRING, PCWSTR);
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const auto load =
      reinterpret_cast<LdrLoadDllFunction>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "LdrLoadDll")));
  const auto init = reinterpret_cast<RtlInitUnicodeStringFunction>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlInitUnicodeString")));
  ASSERT_TRUE(load != nullptr && init != nullptr);
  ASSERT_EQ(::GetModuleHandleW(L"msimg32.dll"), nullptr);
  UNICODE_STRING library{};
  init(&library, L"msimg32.dll");
  {
    win::UniqueLoaderModule module;
    ASSERT_EQ(load(nullptr, nullptr, &library, module.put()), 0);
    EXPECT_NE(::GetModuleHandleW(L"msimg32.dll"), nullptr);
  }
  EXPECT_EQ(::GetModuleHandleW(L"msimg32.dll"), nullptr);
}
