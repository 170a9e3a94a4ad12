#pragma once
// The update worker as the session sees it: a check and an installation run,
// each answering with an update result and the instruction's update id.

#include <cstdint>

#include "product/cmd_line_info.h"
#include "protocol/instruction_info.h"

class DownloadCallback;

// What the check and the installation run tell the session; the session starts
// with RESULT_NO_UPDATE before the check answers.
enum UpdateResult : int32_t {
  RESULT_NO_UPDATE = 1,
  RESULT_NO_INSTALLATION = 2,  // installation mode: nothing to install
  RESULT_UPDATE_AVAILABLE = 3,
  RESULT_UPDATE_AND_UPGRADE = 4,  // an update and a major upgrade are offered
  RESULT_INSTALLATION_AVAILABLE = 8,
  RESULT_SERVER_NOT_REACHABLE = 9,  // post failed while online, or the answer was empty or unreadable
  RESULT_OFFLINE = 10,
  RESULT_REQUEST_NOT_BUILT = 11,
  RESULT_SERVER_ERROR = 12,  // the answer carries an error message
  RESULT_RUN_DONE = 13,
  RESULT_ACTION_FAILED = 14,
  RESULT_CANCELED = 15,
  RESULT_UPGRADE_ONLY = 16,
  RESULT_OS_NOT_SUPPORTED = 17,
  RESULT_DOWNLOAD_FAILED = 20,

  // Results this worker never produces. The session still answers each of them
  // as it always has, so that a worker that did produce one would meet the same
  // session; the check's tests pin every one of these rows.
  RESULT_NONE = 0,                  // ends the session with nothing to do
  RESULT_PREPARE_UPDATE = 5,        // a run starts at once, without an offer
  RESULT_PREPARE_UPDATE_CHECK = 6,  // the same as RESULT_PREPARE_UPDATE
  RESULT_SERVER_FAULT = 7,          // read as RESULT_SERVER_ERROR
  RESULT_AD_CAMPAIGN = 18,          // starts the ad viewer for the instruction's campaign
  RESULT_NOTHING_MORE = 19,         // the same as RESULT_NONE
};

struct WorkerResult {
  int32_t UpdateResult = RESULT_NO_UPDATE;
  int32_t UpdateId = 0;  // the instruction's, 0 where there is none
};

class UpdaterBase {
 public:
  UpdaterBase() = default;
  virtual ~UpdaterBase() = default;
  UpdaterBase(const UpdaterBase&) = delete;
  UpdaterBase& operator=(const UpdaterBase&) = delete;

  // Once per session, on the check thread.
  virtual WorkerResult CheckForUpdate() = 0;
  // On the installation thread; the callback belongs to that thread for the
  // call and carries what the run shows (null: nothing is shown).
  virtual WorkerResult RunInstallation(DownloadCallback* downloadCallback) = 0;

  const CmdLineInfo* CmdLine = nullptr;  // set by start-up before the session runs; not owned
  InstructionInfo Instruction;           // the general information of the last answer
};
