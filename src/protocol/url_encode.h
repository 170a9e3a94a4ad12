#pragma once
// The form encoding the update service expects.

#include <string>
#include <string_view>

// ASCII letters and digits stay, a blank becomes "+", every other UTF-16 unit
// becomes "%" and its code in lower-case hex, at least two digits ("%0a",
// "%3c", "%20ac"). No UTF-8 step: the service undoes exactly this.
std::wstring UrlEncode(std::wstring_view text);
