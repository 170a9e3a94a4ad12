#include "log/log_file_cursor.h"

#include <cstring>

namespace {

constexpr DWORD kBufferBytes = 64 * 1024;

}  // namespace

bool LogFileCursor::Fill() {
  buffer_.resize(kBufferBytes);
  bufferStart_ = position_;
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(position_);
  DWORD got = 0;
  if (!::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) ||
      !::ReadFile(file_, buffer_.data(), kBufferBytes, &got, nullptr)) {
    got = 0;
  }
  buffer_.resize(got);
  return got > 0;
}

size_t LogFileCursor::Read(void* destination, size_t size) {
  auto* out = static_cast<unsigned char*>(destination);
  size_t delivered = 0;
  while (delivered < size) {
    const bool inBuffer = position_ >= bufferStart_ && position_ < bufferStart_ + buffer_.size();
    if (!inBuffer && !Fill()) break;
    const size_t offset = static_cast<size_t>(position_ - bufferStart_);
    const size_t available = buffer_.size() - offset;
    const size_t take = size - delivered < available ? size - delivered : available;
    std::memcpy(out + delivered, buffer_.data() + offset, take);
    delivered += take;
    position_ += take;
  }
  return delivered;
}
