// SHA-256 of files through the system's cryptography, and the digest's text form.
#include "system/file_digest.h"

#include <gtest/gtest.h>

#include "support/scratch.h"

TEST(FileDigest, KnownContentsGiveTheirKnownDigests) {
  testing_support::ScratchFolder folder;
  EXPECT_EQ(ToHex(*Sha256OfFile(folder.WriteFile(L"abc.txt", "abc"))),
            L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(ToHex(*Sha256OfFile(folder.WriteFile(L"empty.txt", ""))),
            L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  // More than one read block.
  EXPECT_EQ(ToHex(*Sha256OfFile(folder.WriteFile(L"big.bin", std::string(3 * 1024 * 1024 + 7, 'a')))),
            ToHex(*Sha256OfFile(folder.WriteFile(L"big2.bin", std::string(3 * 1024 * 1024 + 7, 'a')))));
  EXPECT_NE(ToHex(*Sha256OfFile(folder.path() + L"big.bin")), ToHex(*Sha256OfFile(folder.path() + L"abc.txt")));
  EXPECT_FALSE(Sha256OfFile(folder.path() + L"missing.bin").has_value());
}

TEST(FileDigest, OnlySixtyFourHexDigitsAreADigest) {
  const std::wstring lower = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  std::wstring upper = lower;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  ASSERT_TRUE(ParseSha256(lower).has_value());
  EXPECT_EQ(ParseSha256(upper), ParseSha256(lower));
  EXPECT_EQ(ToHex(*ParseSha256(upper)), lower);
  for (const std::wstring& bad :
       {lower.substr(1), lower + L"0", L" " + lower.substr(1), lower.substr(0, 63) + L"g", std::wstring()}) {
    EXPECT_FALSE(ParseSha256(bad).has_value()) << testing::PrintToString(bad);
  }
}
