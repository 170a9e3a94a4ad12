// Taking the instruction text out of the service's answer.

#include <gtest/gtest.h>

#include <string>

#include "protocol/answer_text.h"

namespace {

int Extract(const std::wstring& answer, std::string& text) {
  text = "left over";
  return ExtractAnswerText(answer, text);
}

TEST(ExtractAnswerText, GivesTheRootTextWithEntitiesResolvedWhateverTheRootIsCalled) {
  std::string text;
  EXPECT_EQ(Extract(L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                    L"<string xmlns=\"http://update.velbor.example/Renova/\">&lt;Instruction&gt;&lt;UpdateId&gt;5"
                    L"&lt;/UpdateId&gt;&lt;/Instruction&gt;</string>",
                    text),
            kAnswerTextFound);
  EXPECT_EQ(text, "<Instruction><UpdateId>5</UpdateId></Instruction>");

  EXPECT_EQ(Extract(L"<x:answer xmlns:x=\"urn:a\">No update available!</x:answer>", text), kAnswerTextFound);
  EXPECT_EQ(text, "No update available!");
}

TEST(ExtractAnswerText, EmptyRootGivesAnEmptyTextAndSuccess) {
  std::string text;
  EXPECT_EQ(Extract(L"<string xmlns=\"urn:a\"/>", text), kAnswerTextFound);
  EXPECT_EQ(text, "");
  // A root whose first child is an element has no text of its own.
  EXPECT_EQ(Extract(L"<a><b>inner</b></a>", text), kAnswerTextFound);
  EXPECT_EQ(text, "");
}

TEST(ExtractAnswerText, MalformedAnswersGiveTenAndNoText) {
  std::string text;
  for (const std::wstring& answer :
       {std::wstring(L"This is not XML"), std::wstring(L""), std::wstring(L"<a>unclosed"), std::wstring(L"<a></b>"),
        std::wstring(64, L'\0'), std::wstring(L"\0<a>x</a>", 9)}) {
    EXPECT_EQ(Extract(answer, text), kAnswerNotXml);
    EXPECT_EQ(text, "");
  }
}

TEST(ExtractAnswerText, NestingDeeperThanTheParserAllowsIsMalformed) {
  std::wstring deep;
  for (int i = 0; i < 5000; ++i) deep += L"<d>";
  for (int i = 0; i < 5000; ++i) deep += L"</d>";
  std::string text;
  EXPECT_EQ(Extract(deep, text), kAnswerNotXml);
  EXPECT_EQ(text, "");
}

TEST(ExtractAnswerText, ADocumentWithoutElementsGivesEleven) {
  std::string text;
  EXPECT_EQ(Extract(L"<!-- nothing but a comment -->", text), kAnswerNoRoot);
  EXPECT_EQ(text, "");
  EXPECT_EQ(Extract(L"<?xml version=\"1.0\"?>", text), kAnswerNoRoot);
}

TEST(ExtractAnswerText, BytesAboveAsciiThatCameAsSignedCharactersAreLost) {
  // The transport hands 0xE4 over as U+FFE4, which the code page can't hold.
  std::string text;
  EXPECT_EQ(Extract(L"<a>K\uFFE4se</a>", text), kAnswerTextFound);
  ASSERT_EQ(text.size(), 4u);
  EXPECT_EQ(text[0], 'K');
  EXPECT_NE(static_cast<unsigned char>(text[1]), 0xE4);
  EXPECT_EQ(text.substr(2), "se");
}

}  // namespace
