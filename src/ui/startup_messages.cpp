#include "ui/startup_messages.h"

#include <windows.h>

#include "product/program_infos_store.h"
#include "texts/text_table.h"

namespace {

constexpr int kSystemDefaultLanguage = 0;

}  // namespace

void ShowStartupError(const std::wstring& windowCaption) {
  std::wstring caption = GetText(kTextUpdaterName, kSystemDefaultLanguage);
  std::wstring text = GetText(kTextUpdaterError, kSystemDefaultLanguage);
  if (!windowCaption.empty()) {
    // The name to replace is the one in the language of the record built anew
    // from the updater's own data, since the product's could not be completed.
    const int language = GetProgramInfos().Language;
    caption = ReplaceUpdaterName(caption, windowCaption, language);
    text = ReplaceUpdaterName(text, windowCaption, language);
  }
  ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

bool AskToEndOtherSession(int language, const std::wstring& windowCaption) {
  const std::wstring text = ReplaceUpdaterName(GetText(kTextOtherSessionActive, language), windowCaption, language);
  return ::MessageBoxW(nullptr, text.c_str(), text.c_str(), MB_YESNO) == IDYES;
}

void ShowDebugBox(const wchar_t* text) { ::MessageBoxW(nullptr, text, L"Debug", MB_OK); }
