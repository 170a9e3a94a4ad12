#pragma once
// The instruction's downloads: every file the update needs, into the product's
// cache folder, before the setup runs.

#include <string>
#include <vector>

#include <tinyxml2.h>

#include "actions/action_base.h"

struct DownloadFileEntry {
  std::wstring Url;
  std::wstring RelativeTargetFolder;  // below the cache folder; empty: the cache folder itself
  std::wstring FileName;
  // What the server vouches for, when it does: the file's SHA-256 in
  // hexadecimal and its size in bytes. Empty: not checked.
  std::wstring Sha256;
  std::wstring Size;
};

class ActionDownload : public ActionBase {
 public:
  ActionDownload() : ActionBase(kActionDownload, 0) {}
  // One entry per child of the Download element, in document order.
  int32_t ParseFromXml(const tinyxml2::XMLElement& element);
  int32_t Execute() override;

  std::vector<DownloadFileEntry> Files;
  // Set for a signed instruction: a file without a SHA-256 is refused before
  // anything is downloaded.
  bool DigestsRequired = false;
};
