#include "protocol/base64.h"

namespace {

int Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  while (padding < 2 && text[text.size() - 1 - padding] == '=') ++padding;

  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3);
  uint32_t bits = 0;
  int count = 0;
  for (size_t i = 0; i < text.size() - padding; ++i) {
    const int value = Sextet(text[i]);
    if (value < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    if (++count == 4) {
      bytes.push_back(static_cast<uint8_t>(bits >> 16));
      bytes.push_back(static_cast<uint8_t>(bits >> 8));
      bytes.push_back(static_cast<uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  // The bits that padding leaves over must be zero: one text, one meaning.
  if (padding == 1) {
    if ((bits & 0x3) != 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(bits >> 10));
    bytes.push_back(static_cast<uint8_t>(bits >> 2));
  } else if (padding == 2) {
    if ((bits & 0xF) != 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(bits >> 4));
  }
  return bytes;
}
