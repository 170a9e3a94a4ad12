#pragma once
// What a product says about itself in files: the version resource of the
// updater when it is embedded as a product's installer stub, and the
// VersionInfo.txt in a product's folder.

#include "product/program_infos.h"

// Fills the record from the updater's own version resource. False when the
// updater is not embedded in a product (its product name is its own).
bool ReadFromOwnVersionResource(ProgramInfos& info);

// Applies the "Comments" settings: "A:<affiliate>$L:<language>"; any other
// token makes the whole text the language.
void ApplyCommentsSettings(ProgramInfos& info, const std::wstring& comments);

// Reads name, version, language and uninstall key name from the product
// folder's VersionInfo.txt; true only when all four lines were there.
bool ReadVersionInfoTxt(ProgramInfos& info);
