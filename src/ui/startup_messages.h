#pragma once
// The message boxes of start-up, with the updater's name replaced by the
// caller's window caption when one is given.

#include <string>

// "... has encountered an error. Please contact the support." with an OK button,
// in the system's default language.
void ShowStartupError(const std::wstring& windowCaption);
// "Another ... session is active. ..." in the product's language, Yes and No; true for Yes.
bool AskToEndOtherSession(int language, const std::wstring& windowCaption);
// The "Debug" boxes at start and end when debugging is switched on.
void ShowDebugBox(const wchar_t* text);
