#include "protocol/signed_answer.h"

#include <tinyxml2.h>

#include "log/log.h"
#include "protocol/utc_time.h"
#include "win/strings.h"

namespace {

// An attribute from the network is shown in a log line, not all of it.
constexpr size_t kShownCharacters = 64;

std::wstring Shown(const std::string& text) { return win::ToWide(text.substr(0, kShownCharacters), CP_UTF8); }

// The root's Expires element: absent, or when it ends.
bool HasNotExpired(const std::string& text, uint64_t now) {
  tinyxml2::XMLDocument document;
  // A text that isn't XML has no expiry; reading it as the instruction fails.
  if (document.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) return true;
  const tinyxml2::XMLElement* root = document.RootElement();
  const tinyxml2::XMLElement* expires = root != nullptr ? root->FirstChildElement("Expires") : nullptr;
  if (expires == nullptr) return true;
  const std::string value = expires->GetText() != nullptr ? expires->GetText() : "";
  const std::optional<uint64_t> end = ParseUtcTime(value);
  if (!end) {
    LogError(L"The instruction's expiry time \"%s\" can't be read; the answer is refused", Shown(value).c_str());
    return false;
  }
  if (*end <= now) {
    LogError(L"The instruction expired at %s; the answer is refused", Shown(value).c_str());
    return false;
  }
  return true;
}

}  // namespace

bool AcceptSignedAnswer(const std::string& text, const AnswerSignature& signature, std::span<const InstructionKey> keys,
                        uint64_t now) {
  switch (VerifyInstructionSignature(text, signature, keys)) {
    case SignatureVerdict::kValid:
      LogInfo(L"The instruction's signature is valid");
      return HasNotExpired(text, now);
    case SignatureVerdict::kMissing:
      LogError(L"The server's answer is not signed; the answer is refused");
      return false;
    case SignatureVerdict::kMalformed:
      LogError(L"The signature of the server's answer can't be read; the answer is refused");
      return false;
    case SignatureVerdict::kUnknownKey:
      LogError(
          L"The server's answer is signed with key \"%s\", which this updater does not know; the answer is refused",
          Shown(signature.KeyId.value_or("")).c_str());
      return false;
    case SignatureVerdict::kInvalid:
      LogError(L"The signature of the server's answer is not valid; the answer is refused");
      return false;
  }
  return false;
}
