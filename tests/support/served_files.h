#pragma once
// Files the reference update service hands out to one test: written into the
// build folder's own catalog below "files/<scope>/", served at
// "/files/<scope>/...", and removed when the object ends.

#include <cstdint>
#include <string>

namespace testing_support {

class ServedFiles {
 public:
  explicit ServedFiles(const std::wstring& scope);
  ~ServedFiles();
  ServedFiles(const ServedFiles&) = delete;
  ServedFiles& operator=(const ServedFiles&) = delete;

  // relativePath uses "\" and may name subfolders, which are created.
  bool Write(const std::wstring& relativePath, const std::string& content) const;
  bool Copy(const std::wstring& relativePath, const std::wstring& sourceFile) const;

  // The file's address, in the narrow form an instruction document holds.
  // Requests for it are recorded under the scope and answered with the given
  // faults (";"-separated, empty for none).
  std::string Url(const char* scheme, uint16_t port, const std::wstring& relativePath,
                  const std::wstring& faults = L"") const;
  // The folder the files are written to, ending with "\".
  const std::wstring& folder() const { return folder_; }

 private:
  std::wstring scope_;
  std::wstring folder_;
};

// What the service serves for a file once its fault "changeat" has changed
// it: every byte XOR 0x5A.
std::string ChangedByService(const std::string& content);

}  // namespace testing_support
