#pragma once
// The decorations of a product's names: the edition word and the preview channel.

#include <string>

#include "product/program_infos.h"

inline constexpr wchar_t kPreviewSuffix[] = L" [Preview Channel]";

// "X Tool Professional" -> "X Tool Professional Edition", "X Server 2019" ->
// "X Server Edition2019", "X Media" -> "X Media Edition"; other names unchanged.
std::wstring CompleteEditionName(const std::wstring& displayName);

// The machine-wide "PreviewChannel" setting of the product is the DWORD 1.
bool IsPreviewChannel(const ProgramInfos& programInfos);

// True when name or display name ends with the preview suffix; every
// occurrence of the suffix is then removed from both.
bool RemovePreviewSuffix(ProgramInfos& info);
// Appends the suffix to program, display and edition name, and derives the labels again.
void AddPreviewSuffix(ProgramInfos& info);
