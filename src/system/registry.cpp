#include "system/registry.h"

#include <cwchar>
#include <exception>
#include <limits>

namespace {

// The updater is a 64-bit process; stating the view keeps it there even if a
// key is ever reached from a 32-bit build of a helper.
constexpr REGSAM kView = KEY_WOW64_64KEY;

void SetStatus(LSTATUS* status, LSTATUS value) {
  if (status != nullptr) *status = value;
}

}  // namespace

win::UniqueRegKey OpenRegKey(HKEY root, const std::wstring& path, REGSAM access, LSTATUS* status) {
  HKEY key = nullptr;
  const LSTATUS result = ::RegOpenKeyExW(root, path.c_str(), 0, access | kView, &key);
  SetStatus(status, result);
  // The out handle is only trusted on success.
  return win::UniqueRegKey(result == ERROR_SUCCESS ? key : nullptr);
}

win::UniqueRegKey CreateRegKey(HKEY root, const std::wstring& path, LSTATUS* status) {
  HKEY key = nullptr;
  const LSTATUS result =
      ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, kRegFullAccess | kView, nullptr, &key, nullptr);
  SetStatus(status, result);
  return win::UniqueRegKey(result == ERROR_SUCCESS ? key : nullptr);
}

HRESULT QueryStringValue(HKEY key, const wchar_t* valueName, std::wstring* text) {
  if (text != nullptr) text->clear();
  if (key == nullptr || text == nullptr) return E_INVALIDARG;

  // Type and size first: anything but REG_SZ is rejected before reading.
  DWORD type = REG_NONE;
  DWORD byteCount = 0;
  LSTATUS status = ::RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &byteCount);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  if (type != REG_SZ) return DISP_E_TYPEMISMATCH;

  // Room for the stored bytes (an odd count rounded up) and one terminator,
  // zero-filled so that data without a null still ends in one.
  std::wstring buffer;
  try {
    buffer.assign((static_cast<size_t>(byteCount) + 1) / 2 + 1, L'\0');
  } catch (const std::exception&) {
    return E_OUTOFMEMORY;
  }

  DWORD readBytes = byteCount;
  status = ::RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &readBytes);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  if (type != REG_SZ) return DISP_E_TYPEMISMATCH;

  // Only whole characters count: a stray odd byte is cut off, and the text ends
  // at its first null like the C string a caller would see.
  const size_t storedChars = readBytes / 2;
  buffer.resize(::wcsnlen(buffer.c_str(), storedChars));
  *text = std::move(buffer);
  return S_OK;
}

std::optional<std::wstring> ReadRegString(HKEY key, const wchar_t* valueName) {
  std::wstring text;
  if (FAILED(QueryStringValue(key, valueName, &text))) return std::nullopt;
  return text;
}

std::optional<DWORD> ReadRegDword(HKEY key, const wchar_t* valueName) {
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD byteCount = sizeof(value);
  const LSTATUS status =
      ::RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &byteCount);
  if (status != ERROR_SUCCESS || type != REG_DWORD || byteCount != sizeof(value)) return std::nullopt;
  return value;
}

LSTATUS WriteRegString(HKEY key, const wchar_t* valueName, const std::wstring& text) {
  if (text.size() > std::numeric_limits<DWORD>::max() / sizeof(wchar_t)) return ERROR_INVALID_PARAMETER;
  const DWORD byteCount = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  return ::RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), byteCount);
}

LSTATUS WriteRegDword(HKEY key, const wchar_t* valueName, DWORD value) {
  return ::RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LSTATUS DeleteRegValue(HKEY key, const wchar_t* valueName) {
  const LSTATUS status = ::RegDeleteValueW(key, valueName);
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

std::optional<std::wstring> ReadRegString(HKEY root, const std::wstring& path, const wchar_t* valueName) {
  const win::UniqueRegKey key = OpenRegKey(root, path);
  if (!key) return std::nullopt;
  return ReadRegString(key.get(), valueName);
}

std::optional<DWORD> ReadRegDword(HKEY root, const std::wstring& path, const wchar_t* valueName) {
  const win::UniqueRegKey key = OpenRegKey(root, path);
  if (!key) return std::nullopt;
  return ReadRegDword(key.get(), valueName);
}

bool WriteRegString(HKEY root, const std::wstring& path, const wchar_t* valueName, const std::wstring& text) {
  const win::UniqueRegKey key = CreateRegKey(root, path);
  return key && WriteRegString(key.get(), valueName, text) == ERROR_SUCCESS;
}

bool WriteRegDword(HKEY root, const std::wstring& path, const wchar_t* valueName, DWORD value) {
  const win::UniqueRegKey key = CreateRegKey(root, path);
  return key && WriteRegDword(key.get(), valueName, value) == ERROR_SUCCESS;
}

bool DeleteMachineValue(const std::wstring& path, const wchar_t* valueName) {
  LSTATUS status = ERROR_SUCCESS;
  const win::UniqueRegKey key = OpenRegKey(HKEY_LOCAL_MACHINE, path, kRegReadWriteAccess, &status);
  if (status == ERROR_FILE_NOT_FOUND) return true;  // nothing to delete
  if (!key) return false;

  const bool exists = ::RegQueryValueExW(key.get(), valueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  return !exists || ::RegDeleteValueW(key.get(), valueName) == ERROR_SUCCESS;
}
