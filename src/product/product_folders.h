#pragma once
// The product's working folder under the vendor's temporary folder, and the
// ad viewer program kept there.

#include <optional>
#include <string>

#include "product/program_infos.h"

// The safe program name, a space and the major part of ProgramVersion (the
// text before its first "."); without a version, the current time in seconds
// since 1970 stands in for the major part.
std::wstring GetProductFolderName(const ProgramInfos& infos);

// "<temp>\VI Vadavura\VL Renova\<product folder name>", with a final "\" when
// trailingBackslash is set, or the same below the protected vendor folder
// once KeepProductFoldersProtected was called. Creates the folders; in the
// temporary folder a creation failure is only logged, the next file operation
// in the folder reports it. False (logged) when there is no temporary folder,
// the path would pass the path limit, or the protected folder can't be had.
bool GetProductCacheFolder(std::wstring& folder, const ProgramInfos& infos, bool trailingBackslash);

// The product folder's "Cache\", where an update's files are downloaded and
// its setup runs from. Nothing (logged) when it can't be formed: a relative
// or cut path would name some other folder, which the download clears.
std::optional<std::wstring> GetDownloadCacheFolder(const ProgramInfos& infos);

// From now on the products' folders lie in the protected vendor folder
// (a build that reads only signed answers); for the rest of the process.
void KeepProductFoldersProtected();
bool ProductFoldersAreProtected();

// The "ProductVersion" of the ad viewer program in the product folder.
bool GetAdViewerVersion(const ProgramInfos& infos, std::wstring& version);
