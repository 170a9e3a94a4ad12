#pragma once
// The string resources CLog::PrintResource writes: loaded from a module and
// formatted with FormatMessageW ("%1", "%2!d!", ...), each insert checked
// against the argument it uses.

#include <windows.h>

#include <optional>
#include <span>
#include <string>

#include "logfront/log_format.h"

// A resource's text before formatting, and formatted, in characters.
inline constexpr size_t kLogResourceTextChars = 4095;
inline constexpr size_t kLogResourceFormattedChars = 12288;

// String resource stringId of module, cut to kLogResourceTextChars; none when
// the module has no such resource.
std::optional<std::wstring> LoadLogResourceText(HMODULE module, UINT stringId);

// text with its inserts filled from args, cut to kLogResourceFormattedChars.
// When an insert names no argument or one of another kind, every insert stays
// as it stands in the text.
std::wstring FormatLogResourceText(const std::wstring& text, std::span<const LogArg> args);

// The "INTERNAL ERROR" box that names a missing resource.
void ShowMissingLogResource(UINT stringId);
