#include "support/test_keys.h"

#include "support/child_process.h"
#include "support/scratch.h"

namespace testing_support {
namespace {

std::wstring KeysFolder() { return BinFolder() + L"..\\test-keys\\"; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::optional<InstructionKey> TestKey(int n) {
  const std::string hex = ReadFileBytes(KeysFolder() + L"instruction-" + std::to_wstring(n) + L".hex");
  InstructionKey key{};
  if (hex.size() < key.size() * 2) return std::nullopt;
  for (size_t i = 0; i < key.size(); ++i) {
    const int high = HexValue(hex[2 * i]);
    const int low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    key[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return key;
}

std::optional<SignedSample> ReadSignedSample(const std::wstring& name) {
  SignedSample sample{ReadFileBytes(KeysFolder() + name + L".txt"),
                      ReadFileBytes(KeysFolder() + name + L".txt.sig.b64")};
  while (!sample.signature.empty() && (sample.signature.back() == '\n' || sample.signature.back() == '\r')) {
    sample.signature.pop_back();
  }
  if (sample.text.empty() || sample.signature.empty()) return std::nullopt;
  return sample;
}

std::wstring SignedWorkerExePath() { return BinFolder() + L"VLRenovaWorkerSigned.exe"; }

}  // namespace testing_support
