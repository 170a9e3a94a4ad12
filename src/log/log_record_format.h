#pragma once
// The binary record file: a plain sequence of records, integers little-endian.
//
//   version 0x00010000 | category | total length | 4 | level | 8 | FILETIME |
//   source length | source | message length | message | extra length | extra
//
// Texts are single-byte. Scrambled files store each text with its terminating
// zero byte and every text byte rotated left by the file's rotation count;
// plain files store the texts without terminator. Numbers are never scrambled.

#include <cstdint>
#include <string>

#include "log/log_record.h"

inline constexpr uint32_t kLogRecordVersion = 0x00010000;
inline constexpr uint32_t kLogRecordFixedBytes = 44;  // everything but the three texts
inline constexpr uint32_t kLogRecordLevelBytes = 4;
inline constexpr uint32_t kLogRecordTimeBytes = 8;
inline constexpr uint32_t kLogRecordMaxSourceBytes = 19;
inline constexpr uint32_t kLogRecordMaxTextBytes = 4095;

constexpr uint8_t RotateByteLeft(uint8_t value, unsigned count) {
  count %= 8;
  return static_cast<uint8_t>((value << count) | (value >> ((8 - count) % 8)));
}

constexpr uint8_t RotateByteRight(uint8_t value, unsigned count) { return RotateByteLeft(value, 8 - count % 8); }

// The bytes of one record. Texts are cut so that each stored text, terminator
// included, stays within the limits the reader accepts.
std::string EncodeLogRecord(const LogRecord& record, bool scramble, uint8_t rotation);
