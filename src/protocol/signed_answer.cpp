#include "protocol/signed_answer.h"

#include <optional>

#include <tinyxml2.h>

#include "logfront/log.h"
#include "protocol/utc_time.h"
#include "win/strings.h"

namespace {

// An attribute from the network is shown in a log line, not all of it.
constexpr size_t kShownCharacters = 64;

std::wstring Shown(const std::string& text) { return win::ToWide(text.substr(0, kShownCharacters), CP_UTF8); }

// The text of the root's first child element of that name; nothing when the
// text is no XML, or the element is missing or empty.
std::optional<std::string> RootElementText(const tinyxml2::XMLDocument& document, const char* name) {
  const tinyxml2::XMLElement* root = document.RootElement();
  const tinyxml2::XMLElement* element = root != nullptr ? root->FirstChildElement(name) : nullptr;
  if (element == nullptr || element->GetText() == nullptr || *element->GetText() == '\0') return std::nullopt;
  return std::string(element->GetText());
}

bool IsForThisProduct(const tinyxml2::XMLDocument& document, const std::wstring& programName) {
  const std::optional<std::string> named = RootElementText(document, "ProgramName");
  if (!named) {
    LogError(L"The signed instruction names no product; the answer is refused");
    return false;
  }
  const std::wstring product = win::ToWide(*named, CP_UTF8);
  if (product != programName) {
    LogError(L"The signed instruction is for the product \"%s\", not for \"%s\"; the answer is refused",
             Shown(*named).c_str(), programName.c_str());
    return false;
  }
  return true;
}

bool HasNotExpired(const tinyxml2::XMLDocument& document, uint64_t now) {
  const std::optional<std::string> value = RootElementText(document, "Expires");
  if (!value) {
    LogError(L"The signed instruction has no expiry time; the answer is refused");
    return false;
  }
  const std::optional<uint64_t> end = ParseUtcTime(*value);
  if (!end) {
    LogError(L"The instruction's expiry time \"%s\" can't be read; the answer is refused", Shown(*value).c_str());
    return false;
  }
  if (*end <= now) {
    LogError(L"The instruction expired at %s; the answer is refused", Shown(*value).c_str());
    return false;
  }
  return true;
}

// What a good signature vouches for must also be meant for this request.
bool IsForThisRequest(const std::string& text, uint64_t now, const std::wstring& programName) {
  tinyxml2::XMLDocument document;
  // A text that isn't XML names no product; it is refused as such.
  document.Parse(text.data(), text.size());
  return IsForThisProduct(document, programName) && HasNotExpired(document, now);
}

}  // namespace

bool AcceptSignedAnswer(const std::string& text, const AnswerSignature& signature, std::span<const InstructionKey> keys,
                        uint64_t now, const std::wstring& programName) {
  switch (VerifyInstructionSignature(text, signature, keys)) {
    case SignatureVerdict::kValid:
      LogInfo(L"The instruction's signature is valid");
      return IsForThisRequest(text, now, programName);
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
