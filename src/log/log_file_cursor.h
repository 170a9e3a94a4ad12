#pragma once
// Buffered reading of a file at a position that can move back, for the record
// reader, which steps back after every failed attempt and byte by byte while
// it resynchronises.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

class LogFileCursor {
 public:
  explicit LogFileCursor(HANDLE file) : file_(file) {}

  uint64_t position() const { return position_; }
  void Seek(uint64_t position) { position_ = position; }
  // Copies up to size bytes from the position and moves past them; the number
  // of bytes delivered, fewer only at the end of the file or on a read error.
  size_t Read(void* destination, size_t size);

 private:
  bool Fill();

  HANDLE file_;
  uint64_t position_ = 0;
  std::vector<unsigned char> buffer_;
  uint64_t bufferStart_ = 0;
};
