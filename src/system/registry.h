#pragma once
// The updater's rules for the registry, shared by the settings, the product
// information, the actions and the log:
// - every key is reached in the 64-bit view;
// - strings are stored as REG_SZ with twice their length in bytes, without the
//   terminating null, and are read only when their type is REG_SZ;
// - a missing key or value is not an error: the caller keeps its default.
// Nothing here logs or throws; callers log what failed and why.

#include <windows.h>

#include <optional>
#include <string>

#include "win/unique_handle.h"

// Access rights the updater asks for. OpenRegKey and CreateRegKey add the
// 64-bit view flag themselves.
inline constexpr REGSAM kRegReadAccess = KEY_READ;
inline constexpr REGSAM kRegReadWriteAccess = KEY_READ | KEY_WRITE;
inline constexpr REGSAM kRegFullAccess = KEY_ALL_ACCESS;

// --- Keys ------------------------------------------------------------------------------

// Opens an existing key. The handle is empty when the key can't be opened;
// `status` (when given) receives the system's code, ERROR_FILE_NOT_FOUND for a
// missing key.
win::UniqueRegKey OpenRegKey(HKEY root, const std::wstring& path, REGSAM access = kRegReadAccess,
                             LSTATUS* status = nullptr);

// Opens a key with full access, creating it and its missing parents first.
win::UniqueRegKey CreateRegKey(HKEY root, const std::wstring& path, LSTATUS* status = nullptr);

// --- Values of an open key ---------------------------------------------------------------

// Reads a REG_SZ value into `text`, always terminated after the stored characters
// whether or not the stored data ended with a null. `text` is emptied first.
// Returns S_OK, E_INVALIDARG (no key or no `text`), DISP_E_TYPEMISMATCH (any type
// but REG_SZ), E_OUTOFMEMORY, or the registry's error as HRESULT_FROM_WIN32
// (0x80070002 for a missing value). A null `valueName` reads the key's default value.
HRESULT QueryStringValue(HKEY key, const wchar_t* valueName, std::wstring* text);

// The text of a REG_SZ value; nothing when it is missing or of another type.
std::optional<std::wstring> ReadRegString(HKEY key, const wchar_t* valueName);
// A REG_DWORD value of exactly four bytes; nothing otherwise.
std::optional<DWORD> ReadRegDword(HKEY key, const wchar_t* valueName);

// Stores `text` as REG_SZ with a byte count of twice its length, without the
// terminating null. (The system itself still stores the null when the character
// after the counted ones is one, as it always is in a std::wstring; it reads one
// character past the count, which is why this takes a terminated string.)
LSTATUS WriteRegString(HKEY key, const wchar_t* valueName, const std::wstring& text);
LSTATUS WriteRegDword(HKEY key, const wchar_t* valueName, DWORD value);
// Deletes one value; a value that does not exist counts as deleted.
LSTATUS DeleteRegValue(HKEY key, const wchar_t* valueName);

// --- The same by key path ------------------------------------------------------------------
// Reads open the key for reading; writes create it when it is missing.

std::optional<std::wstring> ReadRegString(HKEY root, const std::wstring& path, const wchar_t* valueName);
std::optional<DWORD> ReadRegDword(HKEY root, const std::wstring& path, const wchar_t* valueName);
bool WriteRegString(HKEY root, const std::wstring& path, const wchar_t* valueName, const std::wstring& text);
bool WriteRegDword(HKEY root, const std::wstring& path, const wchar_t* valueName, DWORD value);

// Deletes one value under HKEY_LOCAL_MACHINE\path. A missing key or a missing
// value counts as done (true); false when the key can't be opened for writing
// or the value can't be deleted.
bool DeleteMachineValue(const std::wstring& path, const wchar_t* valueName);
