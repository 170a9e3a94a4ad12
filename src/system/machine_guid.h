#pragma once
// The machine's GUID as Windows keeps it in the registry.

#include <string>

// The MachineGuid value under HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Cryptography
// (64-bit view). False when the key or the value can't be read.
bool GetMachineGuid(std::wstring& guid);
