#include "app/startup_messages.h"

#include <windows.h>

namespace {

// Waits for the text table: the English texts until it lands.
constexpr wchar_t kUpdaterName[] = L"Velbor Renova";
constexpr wchar_t kErrorText[] = L"Velbor Renova has encountered an error. Please contact the support.";
constexpr wchar_t kOtherSessionText[] =
    L"Another Velbor Renova session is active. Do you want to end this active session automatically?";

std::wstring WithCaption(std::wstring text, const std::wstring& windowCaption) {
  if (windowCaption.empty()) return text;
  const std::wstring name = kUpdaterName;
  for (size_t at = text.find(name); at != std::wstring::npos; at = text.find(name, at + windowCaption.size())) {
    text.replace(at, name.size(), windowCaption);
  }
  return text;
}

}  // namespace

void ShowStartupError(const std::wstring& windowCaption) {
  const std::wstring caption = WithCaption(kUpdaterName, windowCaption);
  const std::wstring text = WithCaption(kErrorText, windowCaption);
  ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

bool AskToEndOtherSession(int /*language*/, const std::wstring& windowCaption) {
  const std::wstring text = WithCaption(kOtherSessionText, windowCaption);
  return ::MessageBoxW(nullptr, text.c_str(), text.c_str(), MB_YESNO) == IDYES;
}

void ShowDebugBox(const wchar_t* text) { ::MessageBoxW(nullptr, text, L"Debug", MB_OK); }
