#include "texts/text_table.h"

#include "texts/text_table_rows.h"

namespace {

const TextRows& RowsFor(TextLanguage language) {
  switch (language) {
    case TextLanguage::kGerman:
      return kGermanTextRows;
    case TextLanguage::kJapanese:
      return kJapaneseTextRows;
    case TextLanguage::kEnglish:
      break;
  }
  return kEnglishTextRows;
}

}  // namespace

TextLanguage ChooseTextLanguage(int language, LCID systemDefault) {
  const LCID locale = language == 0 ? systemDefault : static_cast<LCID>(language);
  if (locale == static_cast<LCID>(kLanguageGerman)) return TextLanguage::kGerman;
  if (locale == static_cast<LCID>(kLanguageJapanese)) return TextLanguage::kJapanese;
  return TextLanguage::kEnglish;
}

const wchar_t* GetText(int id, int language) {
  if (id < 0 || id >= kTextCount) return L"";
  // Asked only when needed: most callers pass the product's language.
  const LCID systemDefault = language == 0 ? ::GetSystemDefaultLCID() : 0;
  return RowsFor(ChooseTextLanguage(language, systemDefault))[id].text;
}

std::wstring ReplaceUpdaterName(std::wstring text, const std::wstring& windowCaption, int language) {
  const std::wstring name = GetText(kTextUpdaterName, language);
  if (windowCaption.empty() || name.empty()) return text;
  // Searching on after the inserted caption: a caption that contains the name
  // is not replaced again.
  for (size_t at = text.find(name); at != std::wstring::npos; at = text.find(name, at + windowCaption.size())) {
    text.replace(at, name.size(), windowCaption);
  }
  return text;
}
