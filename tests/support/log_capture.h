#pragma once
// Collects the lines of a log (the process log unless another is given) while
// it lives; any thread may log.

#include <memory>
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
  // Owned by the callback too: a thread that took the callback just before it
  // was removed may still add a line after the capture is gone.
  struct Captured {
    std::mutex lock;
    std::vector<std::wstring> lines;
  };

  CLog& log_;
  std::shared_ptr<Captured> lines_ = std::make_shared<Captured>();
};

}  // namespace testing_support
