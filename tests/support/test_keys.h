#pragma once
// The signing keys the build folder made for the tests (test-keys beside
// bin): the first two are built into VLRenovaWorkerSigned.exe, the third is
// one it does not know; the update service signs with any of them.

#include <optional>
#include <string>

#include "protocol/instruction_key.h"

namespace testing_support {

// The public half of test key n (1 to 3); nothing when it can't be read.
std::optional<InstructionKey> TestKey(int n);

// A text openssl signed with the first key when the build was configured:
// "signed-sample" (for the product "Signed Sample", expiring at the start of
// 2030), "signed-sample-no-product" and "signed-sample-no-expiry".
struct SignedSample {
  std::string text;
  std::string signature;  // base64 of the DER signature
};
std::optional<SignedSample> ReadSignedSample(const std::wstring& name = L"signed-sample");

// The exe that holds the first two keys.
std::wstring SignedWorkerExePath();

}  // namespace testing_support
