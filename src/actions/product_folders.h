#pragma once
// The product's working folder under the vendor's temporary folder, and the
// ad viewer program kept there.

#include <string>

#include "product/program_infos.h"

// The safe program name, a space and the major part of ProgramVersion (the
// text before its first "."); without a version, the current time in seconds
// since 1970 stands in for the major part.
std::wstring GetProductFolderName(const ProgramInfos& infos);

// "<temp>\VI Vadavura\VL Renova\<product folder name>", with a final "\" when
// trailingBackslash is set. Creates the folders; a creation failure is only
// logged, the next file operation in the folder reports it.
bool GetProductCacheFolder(std::wstring& folder, const ProgramInfos& infos, bool trailingBackslash);

// The "ProductVersion" of the ad viewer program in the product folder.
bool GetAdViewerVersion(const ProgramInfos& infos, std::wstring& version);
