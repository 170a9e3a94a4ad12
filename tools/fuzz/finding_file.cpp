#include "finding_file.h"

#include <windows.h>

#include "win/strings.h"
#include "win/unique_handle.h"

namespace fuzz {

namespace {

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  const win::UniqueFile file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size() && ::FlushFileBuffers(file.get());
}

}  // namespace

std::wstring WriteFinding(const std::wstring& folder, const std::string& surface, uint64_t seed, uint64_t index,
                          const char* kind, const std::string& input, const std::string& what) {
  ::CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring base = folder;
  if (!base.empty() && base.back() != L'\\' && base.back() != L'/') base += L'\\';
  base += win::FromUtf8(surface) + L"-seed" + std::to_wstring(seed) + L"-input" + std::to_wstring(index) + L"-" +
          win::FromUtf8(kind);
  if (!WriteBytes(base + L".bin", input)) return {};
  WriteBytes(base + L".txt", surface + " " + kind + ": " + what + "\r\n");
  return base + L".bin";
}

}  // namespace fuzz
