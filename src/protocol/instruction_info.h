#pragma once
// What the server's instruction says in general: what is offered, the texts
// and links the dialog shows, and how the setup is to run.

#include <cstdint>
#include <string>

// Fields marked (R) start afresh with every parse; the others keep their
// previous value when an answer does not name them.
struct InstructionInfo {
  int32_t UpdateId = 0;                                      // (R) 0: nothing is offered
  int32_t HasErrorMessage = 0;                               // (R)
  std::wstring MaxUpdateableProductVersionExistingOnServer;  // (R)
  std::wstring NewProductVersion;                            // (R)
  std::wstring MajorUpgradeProductUrl;                       // (R)
  std::wstring MajorUpgradeProductLinkText;
  int32_t MajorUpgradeProductVersion = 0;  // 0: no major upgrade offered
  std::wstring ChangeLogUrl;               // (R)
  int32_t IsReInstallModeAMUS = 0;         // (R)
  int32_t SuppressReboot = 0;              // (R)
  int32_t UpdateSilent = 0;                // (R) from the command line
  std::wstring OsNotCompatibleUrl;         // not empty: this system is not supported
  std::wstring AdViewerUrl;
  std::wstring AdViewerSha256;  // what a signed instruction vouches for
  std::wstring AdCampaignId;
};
