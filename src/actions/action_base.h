#pragma once
// One step of an update that the server's instruction names: stop or start a
// program or service, change the registry, download the files, run the setup.

#include <cstdint>
#include <memory>
#include <vector>

class DownloadCallback;
class RunProgress;

// Type ids; the id of a failed action is what the server hears as its status.
inline constexpr int32_t kActionDownload = 9;
inline constexpr int32_t kActionProductUpdate = 10;
inline constexpr int32_t kActionProductInstallation = 11;
inline constexpr int32_t kActionStartProcess = 13;
inline constexpr int32_t kActionStopProcess = 14;
inline constexpr int32_t kActionDelRegValue = 15;
inline constexpr int32_t kActionStartService = 16;
inline constexpr int32_t kActionStopService = 17;
inline constexpr int32_t kActionSetRegKey = 18;

// Results of Execute.
inline constexpr int32_t kActionSucceeded = 0;
inline constexpr int32_t kActionCacheNotCleared = 2;
inline constexpr int32_t kActionDownloadFailed = 4;
inline constexpr int32_t kActionProcessNotStarted = 5;
inline constexpr int32_t kActionNotRemoved = 6;  // value not deleted, or process not stopped
inline constexpr int32_t kActionRegistryNotSet = 7;
inline constexpr int32_t kActionSetupFailed = 8;
inline constexpr int32_t kActionServiceFailed = 15;
inline constexpr int32_t kActionCopyFailed = 16;
inline constexpr int32_t kActionCancelled = 17;

class ActionBase {
 public:
  ActionBase(int32_t actionType, int32_t postActionCompatible)
      : ActionType(actionType), PostActionCompatible(postActionCompatible) {}
  virtual ~ActionBase() = default;
  ActionBase(const ActionBase&) = delete;
  ActionBase& operator=(const ActionBase&) = delete;

  // 0 on success, else one of the results above. Runs at most once.
  virtual int32_t Execute() = 0;

  DownloadCallback* Callback = nullptr;  // set on the download action just before it runs
  RunProgress* Progress = nullptr;       // what the run shows; set on the main actions just before they run
  int32_t ActionType;
  int32_t PostActionCompatible;                  // may stand in the Post list
  int32_t PostInstallationActionCompatible = 0;  // runs after a fresh installation too
};

using ActionList = std::vector<std::unique_ptr<ActionBase>>;
