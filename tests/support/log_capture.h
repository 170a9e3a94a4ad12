#pragma once
// Collects the lines of a log (the process log unless another is given) while
// it lives; any thread may log.

#include <mutex>
#include <string>
#include <vector>

class CLog;

namespace testing_support {

class LogCapture {
 public:
  LogCapture();
  explicit LogCapture(CLog& log);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // How many lines contain text.
  size_t Count(const std::wstring& text) const;
  // How many lines of the level ("INF", "WAR", "ERR") contain text.
  size_t CountAt(const wchar_t* levelCode, const std::wstring& text) const;
  std::vector<std::wstring> Lines() const;

 private:
  CLog& log_;
  mutable std::mutex lock_;
  std::vector<std::wstring> lines_;
};

}  // namespace testing_support
