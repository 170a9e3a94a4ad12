#include "actions/action_attributes.h"

#include <windows.h>

#include "win/strings.h"

std::wstring ReadActionAttribute(const tinyxml2::XMLElement& element, const char* name) {
  // FindAttribute walks the attributes in document order, so a repeated name
  // gives its first value.
  const tinyxml2::XMLAttribute* attribute = element.FindAttribute(name);
  return attribute != nullptr ? win::ToWide(attribute->Value(), CP_THREAD_ACP) : std::wstring();
}
