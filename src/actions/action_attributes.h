#pragma once
// Reading an action's attributes from its instruction element.

#include <string>

#include <tinyxml2.h>

// The first attribute of that exact name, from the document's 8-bit text in the
// thread's ANSI code page; empty when the element has none.
std::wstring ReadActionAttribute(const tinyxml2::XMLElement& element, const char* name);
