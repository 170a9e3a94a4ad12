#pragma once
// The session's dialog states and the codes its modal run ends with.

#include <cstdint>

// Dialog::DialogState(); 0 is the state before the first one is entered.
enum DialogState : int32_t {
  CHECK_SERVER = 1,
  PREPARE_UPDATE_CHECK = 2,  // worker results 5 and 6: a run starts at once
  MAJOR_UPGRADE_OFFER = 3,
  UPDATE_AVAILABLE = 4,
  NO_UPDATE_AVAILABLE = 5,
  UPDATE_IN_PROGRESS = 6,
  UPDATE_SUCCESSFUL = 7,
  UPDATE_FAILED = 8,
  INSTALLATION_AVAILABLE = 9,  // installation mode; passed through at once
  INSTALLATION_NOT_AVAILABLE_ = 10,
  INSTALLATION_PREPARATION = 11,  // the installation run
  INSTALLATION_SUCCESSFUL = 12,
  INSTALLATION_FAILED = 13,
  OS_NOT_COMPATIBLE = 14,
  CLIENT_CANNOT_BUILD_REQUEST = 15,
  NO_INTERNET_CONNECTION = 16,
  SERVER_NOT_AVAILABLE = 17,
  SERVER_ERROR_OCCURRED = 18,
  DOWNLOAD_FAILED = 19,
  PLEASE_CONTACT_SUPPORT = 20,  // the general error display
};

// The codes the modal run ends with; the last one given wins. Codes with
// kEndBitUpdateRan make start-up run the post-installation actions.
inline constexpr int32_t kEndNothingToDo = 0;
inline constexpr int32_t kEndError = 1;
inline constexpr int32_t kEndUpdateNotTaken = 2;
inline constexpr int32_t kEndMajorUpgradeAvailable = 4;  // a bit: 6 with an update as well
inline constexpr int32_t kEndUnexpectedInUpgradeOffer = 5;
inline constexpr int32_t kEndUpdateSucceeded = 8;
inline constexpr int32_t kEndUpdateFailed = 9;
inline constexpr int32_t kEndInstallationSucceeded = 32;
inline constexpr int32_t kEndInstallationFailed = 33;
inline constexpr int32_t kEndInstallationAvailable = 64;
inline constexpr int32_t kEndAdViewerStarted = 256;
inline constexpr int32_t kEndAdViewerFailed = 257;
inline constexpr int32_t kEndBitUpdateRan = 8;
// Every code a session can end with, for those who document them.
inline constexpr int32_t kEndCodes[] = {kEndNothingToDo,
                                        kEndError,
                                        kEndUpdateNotTaken,
                                        kEndMajorUpgradeAvailable,
                                        kEndMajorUpgradeAvailable | kEndUpdateNotTaken,
                                        kEndUnexpectedInUpgradeOffer,
                                        kEndUpdateSucceeded,
                                        kEndUpdateFailed,
                                        kEndInstallationSucceeded,
                                        kEndInstallationFailed,
                                        kEndInstallationAvailable,
                                        kEndAdViewerStarted,
                                        kEndAdViewerFailed};
