#include "product/product_naming.h"

#include "product/settings.h"
#include "system/registry.h"
#include "texts/text_table.h"

namespace {

constexpr wchar_t kPreviewChannel[] = L"PreviewChannel";

// The edition words read the same in every language, so any language will do.
constexpr int kAnyLanguage = 0;

bool EndsWith(const std::wstring& text, std::wstring_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void RemoveAll(std::wstring& text, std::wstring_view part) {
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at)) text.erase(at, part.size());
}

}  // namespace

std::wstring CompleteEditionName(const std::wstring& displayName) {
  std::wstring name = displayName;
  const std::wstring edition = GetText(kTextEditionEdition, kAnyLanguage);
  for (const TextId wordId : {kTextEditionProfessional, kTextEditionServer, kTextEditionWorkstation, kTextEditionTech,
                              kTextEditionAdmin, kTextEditionExpress}) {
    const std::wstring word = GetText(wordId, kAnyLanguage);
    const size_t at = name.find(word);
    if (at == std::wstring::npos) continue;
    const size_t end = at + word.size();
    if (name.size() - end >= 2) {
      name.insert(end + 1, edition);  // after the character that follows the word
    } else {
      name += L" " + edition;
    }
    return name;
  }
  const std::wstring media = GetText(kTextEditionMedia, kAnyLanguage);
  const size_t at = name.find(media);
  if (at != std::wstring::npos && at + media.size() == name.size()) name += L" " + edition;
  return name;
}

bool IsPreviewChannel(const ProgramInfos& programInfos) {
  return ReadRegDword(HKEY_LOCAL_MACHINE, GetProductSettingsKey(programInfos), kPreviewChannel).value_or(0) == 1;
}

bool RemovePreviewSuffix(ProgramInfos& info) {
  if (!EndsWith(info.ProgramName, kPreviewSuffix) && !EndsWith(info.DisplayName, kPreviewSuffix)) return false;
  RemoveAll(info.ProgramName, kPreviewSuffix);
  RemoveAll(info.DisplayName, kPreviewSuffix);
  return true;
}

void AddPreviewSuffix(ProgramInfos& info) {
  info.ProgramName += kPreviewSuffix;
  info.ProductEditionName += kPreviewSuffix;
  SetDisplayName(info, info.DisplayName + kPreviewSuffix);
}
