#pragma once
// A module loaded through ntdll's own loader (LdrLoadDll), unloaded with
// LdrUnloadDll on every path.

#include <windows.h>

#include "win/unique_handle.h"

namespace win {

struct LoaderModuleTraits {
  using Type = PVOID;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type module) { return module != nullptr; }
  static void Close(Type module) {
    using LdrUnloadDllFunction = LONG(NTAPI*)(PVOID module);
    // ntdll is mapped into every process; its entry point is looked up once.
    static const auto unload = reinterpret_cast<LdrUnloadDllFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "LdrUnloadDll")));
    if (unload != nullptr) unload(module);
  }
};

using UniqueLoaderModule = UniqueHandle<LoaderModuleTraits>;

}  // namespace win
