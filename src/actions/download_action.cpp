#include "actions/download_action.h"

#include "actions/action_attributes.h"
#include "log/log.h"

int32_t ActionDownload::ParseFromXml(const tinyxml2::XMLElement& element) {
  for (const tinyxml2::XMLElement* file = element.FirstChildElement(); file != nullptr;
       file = file->NextSiblingElement()) {
    DownloadFileEntry entry{ReadActionAttribute(*file, "Url"), ReadActionAttribute(*file, "RelativeTargetFolder"),
                            ReadActionAttribute(*file, "FileName")};
    LogInfo(L"add url: %s", entry.mUrl.c_str());
    LogInfo(L"add relativTagetPath: %s", entry.mRelativeTargetFolder.c_str());
    LogInfo(L"add fileName: %s", entry.mFileName.c_str());
    mFiles.push_back(std::move(entry));
  }
  return 1;
}

int32_t ActionDownload::Execute() {
  // Placeholder until file downloads are built: nothing is fetched, so the
  // update must not go on as if the files were there.
  LogError(L"Downloading is not available in this build; %d files not downloaded", static_cast<int>(mFiles.size()));
  return kActionDownloadFailed;
}
