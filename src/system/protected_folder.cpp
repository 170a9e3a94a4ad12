#include "system/protected_folder.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include "logfront/log.h"
#include "system/error_text.h"
#include "system/file_system.h"
#include "win/path_limit.h"
#include "win/unique_handle.h"

namespace {

bool IsReparsePoint(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::wstring WithoutFinalSeparator(std::wstring path) {
  if (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

// The protected security descriptor, made once per call from its text.
win::UniqueLocalMemory<void> ProtectedDescriptor() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtectedFolderSddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    return win::UniqueLocalMemory<void>();
  }
  return win::UniqueLocalMemory<void>(descriptor);
}

// Gives an existing folder the protected owner and DACL. The handle is opened
// on the entry itself, not on what a link would lead to, and checked to be a
// plain folder before anything is set through it.
bool ProtectExisting(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor) {
  const win::UniqueFile handle(::CreateFileW(WithoutFinalSeparator(folder).c_str(),
                                             READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!handle || !::GetFileInformationByHandle(handle.get(), &information)) return false;
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    ::SetLastError(ERROR_REPARSE_ATTRIBUTE_CONFLICT);
    return false;
  }
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    return false;
  }
  const DWORD result =
      ::SetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        owner, nullptr, dacl, nullptr);
  ::SetLastError(result);
  return result == ERROR_SUCCESS;
}

}  // namespace

std::optional<std::wstring> FirstReparsePointOnPath(const std::wstring& path) {
  // Index 3 skips a drive prefix such as "C:\".
  for (size_t slash = path.find(L'\\', 3);; slash = path.find(L'\\', slash + 1)) {
    const std::wstring level = path.substr(0, slash);
    if (!level.empty() && level.back() != L'\\' && IsReparsePoint(level)) return level;
    if (slash == std::wstring::npos) return std::nullopt;
  }
}

bool MakeProtectedFolder(const std::wstring& folder) {
  if (const std::optional<std::wstring> link = FirstReparsePointOnPath(folder)) {
    LogError(L"The folder %s is refused: %s is a link to elsewhere", folder.c_str(), link->c_str());
    return false;
  }
  const win::UniqueLocalMemory<void> descriptor = ProtectedDescriptor();
  if (!descriptor) {
    LogError(L"The protected folder's security can't be made: \"%s\"", GetLastErrorText().c_str());
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  if (::CreateDirectoryW(folder.c_str(), &attributes)) return true;
  if (::GetLastError() == ERROR_ALREADY_EXISTS && ProtectExisting(folder, descriptor.get())) return true;
  LogError(L"The folder %s can't be made one that only administrators change: \"%s\"", folder.c_str(),
           GetLastErrorText().c_str());
  return false;
}

std::optional<std::wstring> ProtectedVendorFolder() {
  PWSTR programData = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_DONT_VERIFY, nullptr, &programData);
  const win::UniqueHandle<win::CoTaskMemoryTraits<wchar_t>> owned(programData);
  if (FAILED(result) || programData == nullptr) {
    LogError(L"The machine's ProgramData folder is not known (0x%08x)", static_cast<unsigned>(result));
    return std::nullopt;
  }
  std::wstring folder = WithoutFinalSeparator(programData) + L"\\" + kVendorFolderName + L"\\";
  if (folder.size() >= kMaxPathChars || !MakeProtectedFolder(folder)) return std::nullopt;
  return folder;
}
