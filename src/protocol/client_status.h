#pragma once
// ClientStatus.xml: what the update check tells the server about the updater,
// the machine and the product. Built in memory; the caller posts it and owns it.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <tinyxml2.h>

#include "product/program_infos.h"

// The new document, or nothing when a writer failed (its code then stands in
// *errorCode, which is 0 otherwise).
std::unique_ptr<tinyxml2::XMLDocument> CreateClientStatusXml(const ProgramInfos& infos, bool updateCheckSilent,
                                                             bool updateCheckAfterTrayMessage,
                                                             int32_t* errorCode = nullptr);

// 0, or the code of the first writer that failed.
int32_t WriteInformations(tinyxml2::XMLElement* informations, const ProgramInfos& infos, bool updateCheckSilent,
                          bool updateCheckAfterTrayMessage);

// A value that can't be found leaves its element empty and is no failure.
int32_t WriteSystemInformations(tinyxml2::XMLElement* informations, const ProgramInfos& infos);
int32_t WriteProgramInformations(tinyxml2::XMLElement* informations, const ProgramInfos& infos);

// One File element per entry that names an existing file (the first match of a
// wildcard); entries that name nothing or a folder are skipped.
void WriteFileList(tinyxml2::XMLElement* installDir, const std::wstring& installedLocation,
                   const std::vector<std::wstring>& fileList);

// The File element of one search result: its name, and its product version or,
// without one, its last-write time in UTC. The version is looked up in
// versionFolder, not in the folder the match was found in.
void WriteFileEntry(tinyxml2::XMLElement* installDir, const std::wstring& installedLocation,
                    const WIN32_FIND_DATAW& match, const std::wstring& versionFolder);
