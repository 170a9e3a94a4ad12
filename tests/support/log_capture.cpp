#include "support/log_capture.h"

#include "log/clog.h"
#include "log/process_log.h"

namespace testing_support {

LogCapture::LogCapture() : LogCapture(GetLog()) {}

LogCapture::LogCapture(CLog& log) : log_(log) {
  log_.SetLineCallback([lines = lines_](const wchar_t* line) {
    std::lock_guard hold(lines->lock);
    lines->lines.emplace_back(line != nullptr ? line : L"");
  });
}

LogCapture::~LogCapture() { log_.SetLineCallback(nullptr); }

size_t LogCapture::Count(const std::wstring& text) const {
  std::lock_guard hold(lines_->lock);
  size_t count = 0;
  for (const std::wstring& line : lines_->lines) count += line.find(text) != std::wstring::npos ? 1 : 0;
  return count;
}

size_t LogCapture::CountAt(const wchar_t* levelCode, const std::wstring& text) const {
  const std::wstring head = std::wstring(levelCode) + L": ";
  std::lock_guard hold(lines_->lock);
  size_t count = 0;
  for (const std::wstring& line : lines_->lines) {
    count += line.find(head) != std::wstring::npos && line.find(text) != std::wstring::npos ? 1 : 0;
  }
  return count;
}

std::vector<std::wstring> LogCapture::Lines() const {
  std::lock_guard hold(lines_->lock);
  return lines_->lines;
}

}  // namespace testing_support
