#include "system/os_version.h"

#include <winternl.h>

#include "win/loader_module.h"

namespace {

constexpr LONG kStatusSuccess = 0;
constexpr LONG kStatusDllNotFound = static_cast<LONG>(0xC0000135);
constexpr LONG kStatusProcedureNotFound = static_cast<LONG>(0xC000007A);

using LdrLoadDllFunction = LONG(NTAPI*)(PWSTR searchPath, PULONG characteristics, PUNICODE_STRING name, PVOID* module);
using LdrGetProcedureAddressFunction = LONG(NTAPI*)(PVOID module, PANSI_STRING name, ULONG ordinal, PVOID* address);
using RtlInitUnicodeStringFunction = VOID(NTAPI*)(PUNICODE_STRING target, PCWSTR source);
using RtlInitStringFunction = VOID(NTAPI*)(PSTRING target, PCSZ source);
using RtlGetVersionFunction = LONG(NTAPI*)(PRTL_OSVERSIONINFOW info);

template <typename Function>
Function Lookup(HMODULE module, const char* name) {
  // Through void*: FARPROC's own type says nothing about the real signature.
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// The loader's own entry points; ntdll is mapped into every process.
struct Loader {
  LdrLoadDllFunction loadDll = nullptr;
  LdrGetProcedureAddressFunction getProcedureAddress = nullptr;
  RtlInitUnicodeStringFunction initUnicodeString = nullptr;
  RtlInitStringFunction initString = nullptr;

  bool Find() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return false;
    loadDll = Lookup<LdrLoadDllFunction>(ntdll, "LdrLoadDll");
    getProcedureAddress = Lookup<LdrGetProcedureAddressFunction>(ntdll, "LdrGetProcedureAddress");
    initUnicodeString = Lookup<RtlInitUnicodeStringFunction>(ntdll, "RtlInitUnicodeString");
    initString = Lookup<RtlInitStringFunction>(ntdll, "RtlInitString");
    return loadDll && getProcedureAddress && initUnicodeString && initString;
  }
};

}  // namespace

LONG GetOsVersion(OSVERSIONINFOEXW& info) {
  static_assert(sizeof(OSVERSIONINFOEXW) == 284);
  info = OSVERSIONINFOEXW{};

  Loader loader;
  if (!loader.Find()) return kStatusDllNotFound;

  UNICODE_STRING libraryName{};
  loader.initUnicodeString(&libraryName, L"ntdll.dll");
  win::UniqueLoaderModule ntdll;
  const LONG loadStatus = loader.loadDll(nullptr, nullptr, &libraryName, ntdll.put());
  if (loadStatus != kStatusSuccess) return loadStatus;

  ANSI_STRING procedureName{};
  loader.initString(&procedureName, "RtlGetVersion");
  PVOID procedure = nullptr;
  const LONG lookupStatus = loader.getProcedureAddress(ntdll.get(), &procedureName, 0, &procedure);
  if (lookupStatus != kStatusSuccess) return lookupStatus;
  if (procedure == nullptr) return kStatusProcedureNotFound;

  info.dwOSVersionInfoSize = sizeof(info);
  return reinterpret_cast<RtlGetVersionFunction>(procedure)(reinterpret_cast<PRTL_OSVERSIONINFOW>(&info));
}
