// The localised text table: language choice, completeness of every language,
// and the replacement of the updater's name by a window caption.

#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "texts/text_table.h"

namespace {

constexpr int kEnglishLocale = 1033;
constexpr wchar_t kEnglishName[] = L"Velbor Renova";
// "Automatic update program": how the Japanese texts name the updater.
constexpr wchar_t kJapaneseName[] = L"\u81ea\u52d5\u66f4\u65b0\u30d7\u30ed\u30b0\u30e9\u30e0";

// The printf conversions of a text in order ("%s", "%d", ...); "%%" is no conversion.
std::vector<std::wstring> Conversions(const std::wstring& text) {
  std::vector<std::wstring> found;
  for (size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at + 1)) {
    if (at + 1 < text.size() && text[at + 1] == L'%') {
      ++at;
      continue;
    }
    const size_t end = text.find_first_of(L"diouxXcsSeEfgGpn", at + 1);
    found.push_back(text.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at + 1));
    if (end == std::wstring::npos) break;
    at = end;
  }
  return found;
}

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

TEST(TextTable, OnlyTheExactGermanAndJapaneseLocalesGetTheirTexts) {
  // Written as escapes here and as UTF-8 in the table: also proves the table's
  // source is read as UTF-8.
  EXPECT_STREQ(L"F\u00fchre Aktualisierung durch...", GetText(kTextUpdateInProgress, kLanguageGerman));
  EXPECT_STREQ(L"\u30a2\u30c3\u30d7\u30c7\u30fc\u30c8\u4e2d...", GetText(kTextUpdateInProgress, kLanguageJapanese));

  // Swiss and Austrian German, a bare primary language id, German with a sort
  // order, Japanese with a sort order, nonsense.
  for (int locale : {2055, 3079, 0x07, 0x10407, 0x10411, kEnglishLocale, 2057, -1031, INT_MAX}) {
    EXPECT_STREQ(L"Update in progress...", GetText(kTextUpdateInProgress, locale)) << locale;
  }
}

TEST(TextTable, ZeroStandsForTheSystemDefaultLocale) {
  const int systemLocale = static_cast<int>(::GetSystemDefaultLCID());
  for (int id = 0; id < kTextCount; ++id) {
    EXPECT_STREQ(GetText(id, systemLocale), GetText(id, 0)) << id;
  }
  // The system's locale can't be switched for one process in the shared test
  // prefix, so the other defaults go through the rule directly.
  EXPECT_EQ(TextLanguage::kGerman, ChooseTextLanguage(0, 1031));
  EXPECT_EQ(TextLanguage::kJapanese, ChooseTextLanguage(0, 1041));
  EXPECT_EQ(TextLanguage::kEnglish, ChooseTextLanguage(0, 2055));
  EXPECT_EQ(TextLanguage::kEnglish, ChooseTextLanguage(kEnglishLocale, 1031));
}

TEST(TextTable, IdsOutsideTheTableGiveTheEmptyText) {
  for (int locale : {0, kEnglishLocale, kLanguageGerman, kLanguageJapanese}) {
    for (int id : {-1, static_cast<int>(kTextCount), INT_MIN, INT_MAX}) {
      const wchar_t* text = GetText(id, locale);
      ASSERT_NE(nullptr, text);
      EXPECT_STREQ(L"", text) << id << " in " << locale;
    }
  }
}

TEST(TextTable, EveryLanguageHasEveryTextWithTheEnglishFormat) {
  EXPECT_EQ(std::vector<std::wstring>{L"%s"}, Conversions(GetText(kTextDownloadingFile, kEnglishLocale)));
  EXPECT_EQ((std::vector<std::wstring>{L"%s", L"%d"}), Conversions(GetText(kTextProductVersion, kEnglishLocale)));

  for (int locale : {kEnglishLocale, kLanguageGerman, kLanguageJapanese}) {
    for (int id = 0; id < kTextCount; ++id) {
      const std::wstring text = GetText(id, locale);
      EXPECT_FALSE(text.empty()) << id << " in " << locale;
      EXPECT_EQ(Conversions(GetText(id, kEnglishLocale)), Conversions(text)) << id << " in " << locale;
    }
  }
}

TEST(TextTable, TranslationsDifferFromEnglishExceptTheSharedRows) {
  const std::set<int> sameEverywhere = {
      kTextOk,          kTextTwoValues,    kTextEditionProfessional, kTextEditionWorkstation, kTextEditionServer,
      kTextEditionTech, kTextEditionAdmin, kTextEditionEdition,      kTextEditionMedia,       kTextEditionExpress};
  // German keeps the updater's name and the word "Version:".
  const std::set<int> sameInGerman = {kTextVersionLabel, kTextUpdaterCaption, kTextUpdaterName};

  for (int id = 0; id < kTextCount; ++id) {
    const std::wstring english = GetText(id, kEnglishLocale);
    const std::wstring german = GetText(id, kLanguageGerman);
    const std::wstring japanese = GetText(id, kLanguageJapanese);
    const bool shared = sameEverywhere.count(id) != 0;
    EXPECT_EQ(shared || sameInGerman.count(id) != 0, german == english) << id;
    EXPECT_EQ(shared, japanese == english) << id;
  }
}

TEST(TextTable, JapaneseNamesTheUpdaterGenerically) {
  EXPECT_STREQ(kJapaneseName, GetText(kTextUpdaterName, kLanguageJapanese));
  EXPECT_STREQ(L"\u81ea\u52d5\u66f4\u65b0\u306e\u7d42\u4e86", GetText(kTextEndUpdaterCaption, kLanguageJapanese));
  for (int id = 0; id < kTextCount; ++id) {
    const std::wstring japanese = GetText(id, kLanguageJapanese);
    EXPECT_FALSE(Contains(japanese, L"Velbor") || Contains(japanese, L"Renova")) << id;
    if (Contains(GetText(id, kEnglishLocale), kEnglishName)) {
      EXPECT_TRUE(Contains(GetText(id, kLanguageGerman), kEnglishName)) << id;
      if (id != kTextEndUpdaterCaption) {
        EXPECT_TRUE(Contains(japanese, kJapaneseName)) << id;
      }
    }
  }
}

TEST(ReplaceUpdaterName, EveryMentionInTheLanguageBecomesTheCaption) {
  const std::wstring caption = L"Acme Update";
  for (int locale : {kEnglishLocale, kLanguageGerman, kLanguageJapanese}) {
    const std::wstring name = GetText(kTextUpdaterName, locale);
    for (int id : {kTextUpdaterError, kTextUpdaterCaption, kTextOtherSessionActive, kTextEndUpdaterQuestion}) {
      const std::wstring replaced = ReplaceUpdaterName(GetText(id, locale), caption, locale);
      EXPECT_TRUE(Contains(replaced, caption)) << id << " in " << locale;
      EXPECT_FALSE(Contains(replaced, name)) << id << " in " << locale;
    }
  }
  EXPECT_EQ(L"Acme Update has encountered an error. Please contact the support.",
            ReplaceUpdaterName(GetText(kTextUpdaterError, kEnglishLocale), caption, kEnglishLocale));

  // Every occurrence, and a caption holding the name is not replaced again.
  EXPECT_EQ(L"Velbor Renova Pro, Velbor Renova Pro",
            ReplaceUpdaterName(L"Velbor Renova, Velbor Renova", L"Velbor Renova Pro", kEnglishLocale));
  // No caption: the text stays. Another language's name: the text stays.
  EXPECT_EQ(GetText(kTextUpdaterError, kLanguageGerman),
            ReplaceUpdaterName(GetText(kTextUpdaterError, kLanguageGerman), L"", kLanguageGerman));
  const std::wstring japaneseError = GetText(kTextUpdaterError, kLanguageJapanese);
  EXPECT_EQ(japaneseError, ReplaceUpdaterName(japaneseError, caption, kEnglishLocale));
}

}  // namespace
