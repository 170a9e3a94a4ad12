#include "ui/ad_viewer.h"

#include "log/log.h"

bool DownloadAdViewer(const std::wstring& url) {
  LogError(L"DownloadAdViewer(%s): the ad viewer is not built yet", url.c_str());
  return false;
}

bool StartAdViewer(const std::wstring& campaignId) {
  LogError(L"StartAdViewer(%s): the ad viewer is not built yet", campaignId.c_str());
  return false;
}
