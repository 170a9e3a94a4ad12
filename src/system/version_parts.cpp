#include "system/version_parts.h"

bool SplitVersion(const std::wstring& version, VersionParts& parts) {
  const size_t firstDot = version.find(L'.');
  if (firstDot == std::wstring::npos) return false;
  parts.major = version.substr(0, firstDot);

  const size_t secondDot = version.find(L'.', firstDot + 1);
  if (secondDot == std::wstring::npos) return false;
  parts.minor = version.substr(firstDot + 1, secondDot - firstDot - 1);
  parts.rest = version.substr(secondDot + 1);
  return true;
}
