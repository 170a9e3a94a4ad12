// The signature on the service's answer: base64 and DER as openssl writes
// them, the check against built-in keys, and the expiry of a signed
// instruction. The signed text is one openssl signed when the build was
// configured, so the whole chain from openssl to CNG is what is tested.
#include "protocol/instruction_signature.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/base64.h"
#include "protocol/der_signature.h"
#include "protocol/signed_answer.h"
#include "protocol/utc_time.h"
#include "support/log_capture.h"
#include "support/test_keys.h"

namespace {

using namespace testing_support;

std::string Base64(const std::vector<uint8_t>& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const uint32_t chunk =
        (bytes[i] << 16) | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0) | (i + 2 < bytes.size() ? bytes[i + 2] : 0);
    text += kAlphabet[(chunk >> 18) & 63];
    text += kAlphabet[(chunk >> 12) & 63];
    text += i + 1 < bytes.size() ? kAlphabet[(chunk >> 6) & 63] : '=';
    text += i + 2 < bytes.size() ? kAlphabet[chunk & 63] : '=';
  }
  return text;
}

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Base64, DecodesTheStandardAlphabetWithPaddingAndNothingLooser) {
  EXPECT_EQ(DecodeBase64("YWJj"), Bytes("abc"));
  EXPECT_EQ(DecodeBase64("YWI="), Bytes("ab"));
  EXPECT_EQ(DecodeBase64("YQ=="), Bytes("a"));
  EXPECT_EQ(DecodeBase64("+/+/"), (std::vector<uint8_t>{0xFB, 0xFF, 0xBF}));
  const std::vector<uint8_t> all = [] {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<uint8_t>(i));
    return bytes;
  }();
  EXPECT_EQ(DecodeBase64(Base64(all)), all);

  for (const char* text :
       {"", "YWJ", "YWJjZ", "YW Jj", "YWJj\n", "-_-_", "YQ=a", "Y===", "====", "YR==", "YWK=", "@@not-base64@@"}) {
    EXPECT_EQ(DecodeBase64(text), std::nullopt) << text;
  }
}

// SEQUENCE { INTEGER r, INTEGER s } from the two integers' content bytes.
std::vector<uint8_t> Der(const std::vector<uint8_t>& r, const std::vector<uint8_t>& s) {
  std::vector<uint8_t> der = {0x30, static_cast<uint8_t>(4 + r.size() + s.size()), 0x02,
                              static_cast<uint8_t>(r.size())};
  der.insert(der.end(), r.begin(), r.end());
  der.push_back(0x02);
  der.push_back(static_cast<uint8_t>(s.size()));
  der.insert(der.end(), s.begin(), s.end());
  return der;
}

TEST(DerSignature, GivesRAndSRightAlignedAndRefusesEverythingButStrictDer) {
  std::vector<uint8_t> high(33, 0x80);
  high[0] = 0x00;  // a value with its top bit set needs a leading zero
  const std::vector<uint8_t> shortValue = {0x01, 0x02};
  const std::optional<P256Signature> decoded = DecodeDerSignature(Der(high, shortValue));
  ASSERT_TRUE(decoded);
  for (size_t i = 0; i < 32; ++i) EXPECT_EQ((*decoded)[i], 0x80) << i;
  for (size_t i = 32; i < 62; ++i) EXPECT_EQ((*decoded)[i], 0x00) << i;
  EXPECT_EQ((*decoded)[62], 0x01);
  EXPECT_EQ((*decoded)[63], 0x02);

  const std::vector<uint8_t> one = {0x01};
  std::vector<uint8_t> trailing = Der(one, one);
  trailing.push_back(0x00);
  std::vector<uint8_t> wrongLength = Der(one, one);
  wrongLength[1] += 1;
  std::vector<uint8_t> wrongTag = Der(one, one);
  wrongTag[2] = 0x04;
  const std::vector<uint8_t> cases[] = {
      {},
      {0x30, 0x00},
      trailing,
      wrongLength,
      wrongTag,
      Der({0x80}, one),                          // negative
      Der({0x00, 0x01}, one),                    // not minimal
      Der({}, one),                              // no content
      Der(std::vector<uint8_t>(33, 0x01), one),  // 33 bytes without the sign's reason
      Der(std::vector<uint8_t>(34, 0x00), one),
      {0x30, 0x81, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01},  // long-form length
  };
  for (const std::vector<uint8_t>& der : cases) {
    EXPECT_EQ(DecodeDerSignature(der), std::nullopt) << testing::PrintToString(der);
  }
}

class SignatureTest : public testing::Test {
 protected:
  void SetUp() override {
    for (int n = 1; n <= 3; ++n) {
      std::optional<InstructionKey> key = TestKey(n);
      ASSERT_TRUE(key) << "test key " << n << " missing beside bin";
      keys_.push_back(*key);
    }
    std::optional<SignedSample> sample = ReadSignedSample();
    ASSERT_TRUE(sample) << "signed sample missing beside bin";
    sample_ = *sample;
  }

  SignatureVerdict Verify(const std::string& text, const AnswerSignature& signature,
                          std::vector<InstructionKey> keys) const {
    return VerifyInstructionSignature(text, signature, keys);
  }
  AnswerSignature Signed() const { return {sample_.signature, std::nullopt}; }

  std::vector<InstructionKey> keys_;  // 1, 2, 3
  SignedSample sample_;
};

TEST_F(SignatureTest, OpensslsSignaturePassesWithItsKeyAmongOthersAndWithItsKeyId) {
  EXPECT_EQ(Verify(sample_.text, Signed(), {keys_[0]}), SignatureVerdict::kValid);
  // Rotation: the signing key may be either of the built-in ones.
  EXPECT_EQ(Verify(sample_.text, Signed(), {keys_[2], keys_[0]}), SignatureVerdict::kValid);
  EXPECT_EQ(Verify(sample_.text, {sample_.signature, KeyIdOf(keys_[0])}, {keys_[1], keys_[0]}),
            SignatureVerdict::kValid);

  const std::string id = KeyIdOf(keys_[0]);
  EXPECT_EQ(id.size(), 16u);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
  EXPECT_NE(id, KeyIdOf(keys_[1]));
}

TEST_F(SignatureTest, EachWayOfFailingHasItsVerdict) {
  EXPECT_EQ(Verify(sample_.text, {}, keys_), SignatureVerdict::kMissing);
  EXPECT_EQ(Verify(sample_.text, {std::string("@@not-base64@@"), std::nullopt}, keys_), SignatureVerdict::kMalformed);
  EXPECT_EQ(Verify(sample_.text, {Base64(Bytes("not a DER signature")), std::nullopt}, keys_),
            SignatureVerdict::kMalformed);
  EXPECT_EQ(Verify(sample_.text, {std::string(), std::nullopt}, keys_), SignatureVerdict::kMalformed);

  // A key id that names none of the keys, however good the signature.
  EXPECT_EQ(Verify(sample_.text, {sample_.signature, KeyIdOf(keys_[2])}, {keys_[0], keys_[1]}),
            SignatureVerdict::kUnknownKey);
  EXPECT_EQ(Verify(sample_.text, {sample_.signature, std::string("not an id")}, {keys_[0]}),
            SignatureVerdict::kUnknownKey);

  // Another key, one byte of the text, one bit of the signature.
  EXPECT_EQ(Verify(sample_.text, Signed(), {keys_[1], keys_[2]}), SignatureVerdict::kInvalid);
  std::string changed = sample_.text;
  changed[changed.find('7')] = '8';
  EXPECT_EQ(Verify(changed, Signed(), keys_), SignatureVerdict::kInvalid);
  EXPECT_EQ(Verify(sample_.text + "\n", Signed(), keys_), SignatureVerdict::kInvalid);
  std::vector<uint8_t> flipped = *DecodeBase64(sample_.signature);
  flipped.back() ^= 0x01;
  EXPECT_EQ(Verify(sample_.text, {Base64(flipped), std::nullopt}, keys_), SignatureVerdict::kInvalid);
}

// The product the samples are signed for.
const std::wstring kProduct = L"Signed Sample";

TEST_F(SignatureTest, ASignedInstructionPassesUntilItExpiresAndEveryRefusalIsLogged) {
  // The sample expires at 2030-01-01T00:00:00Z.
  const uint64_t expiry = *ParseUtcTime("2030-01-01T00:00:00Z");
  {
    LogCapture log;
    EXPECT_TRUE(AcceptSignedAnswer(sample_.text, Signed(), keys_, expiry - 1, kProduct));
    EXPECT_EQ(log.CountAt(L"INF", L"The instruction's signature is valid"), 1u);
  }
  {
    LogCapture log;
    EXPECT_FALSE(AcceptSignedAnswer(sample_.text, Signed(), keys_, expiry, kProduct));
    EXPECT_EQ(log.CountAt(L"ERR", L"The instruction expired at 2030-01-01T00:00:00Z; the answer is refused"), 1u);
  }
  const struct {
    AnswerSignature signature;
    std::vector<InstructionKey> keys;
    const wchar_t* line;
  } refusals[] = {
      {{}, keys_, L"The server's answer is not signed; the answer is refused"},
      {{std::string("@@"), std::nullopt},
       keys_,
       L"The signature of the server's answer can't be read; the answer is refused"},
      {{sample_.signature, std::string("0123456789abcdef")},
       keys_,
       L"The server's answer is signed with key \"0123456789abcdef\", which this updater does not know; "
       L"the answer is refused"},
      {Signed(), {keys_[1]}, L"The signature of the server's answer is not valid; the answer is refused"},
  };
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(refusal.line)));
    LogCapture log;
    EXPECT_FALSE(AcceptSignedAnswer(sample_.text, refusal.signature, refusal.keys, expiry - 1, kProduct));
    EXPECT_EQ(log.CountAt(L"ERR", refusal.line), 1u);
    EXPECT_EQ(log.CountAt(L"ERR", L""), 1u) << "one line per refusal";
  }
}

TEST_F(SignatureTest, AGoodSignatureOnAnInstructionForAnotherProductOrWithoutExpiryIsRefused) {
  const uint64_t beforeExpiry = *ParseUtcTime("2029-12-31T23:59:59Z");
  // The same signed text asked for by another product, or by the preview
  // channel of this one: the name must match to the letter.
  for (const std::wstring& asking : {std::wstring(L"Other Product"), std::wstring(L"signed sample"),
                                     std::wstring(L"Signed Sample (Preview)"), std::wstring()}) {
    SCOPED_TRACE(testing::PrintToString(asking));
    LogCapture log;
    EXPECT_FALSE(AcceptSignedAnswer(sample_.text, Signed(), keys_, beforeExpiry, asking));
    EXPECT_EQ(log.CountAt(L"ERR", L"The signed instruction is for the product \"Signed Sample\", not for \"" + asking +
                                      L"\"; the answer is refused"),
              1u);
  }
  const struct {
    const wchar_t* sample;
    const wchar_t* line;
  } incomplete[] = {
      {L"signed-sample-no-product", L"The signed instruction names no product; the answer is refused"},
      {L"signed-sample-no-expiry", L"The signed instruction has no expiry time; the answer is refused"},
  };
  for (const auto& each : incomplete) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(each.sample)));
    const std::optional<SignedSample> sample = ReadSignedSample(each.sample);
    ASSERT_TRUE(sample.has_value());
    // The signature itself is good: only what it vouches for is missing.
    EXPECT_EQ(VerifyInstructionSignature(sample->text, {sample->signature, std::nullopt}, keys_),
              SignatureVerdict::kValid);
    LogCapture log;
    EXPECT_FALSE(AcceptSignedAnswer(sample->text, {sample->signature, std::nullopt}, keys_, beforeExpiry, kProduct));
    EXPECT_EQ(log.CountAt(L"ERR", each.line), 1u);
    EXPECT_EQ(log.CountAt(L"ERR", L""), 1u) << "one line per refusal";
  }
}

}  // namespace
