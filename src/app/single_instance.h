#pragma once
// One updater per product: two named events whose mere existence tells a later
// instance that this product is already being served, and whether visibly.

#include <string>

#include "product/program_infos.h"

// The product event's name: the display name made safe for object names.
std::wstring InstanceEventName(const ProgramInfos& programInfos);
// "<instance> Stub is visible" in installation mode, "<instance>  is visible" else.
std::wstring VisibleEventName(const ProgramInfos& programInfos);

// True when this instance may run; it then holds the events until it ends.
bool CheckSingleInstance(const ProgramInfos& programInfos, const std::wstring& windowCaption, bool isVisible);
