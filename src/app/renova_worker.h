#pragma once
// The update worker: asks the update service what is offered, and carries out
// the instruction's actions in their fixed order.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include <tinyxml2.h>

#include "actions/action_base.h"
#include "product/program_infos.h"
#include "protocol/instruction_key.h"
#include "ui/updater_base.h"

class RenovaWorker : public UpdaterBase {
 public:
  RenovaWorker();
  ~RenovaWorker() override = default;

  // Describes the client to the service and classifies its answer; fills the
  // instruction and the three lists. On the check thread.
  WorkerResult CheckForUpdate() override;

  // Runs the pre actions, then the main actions (download, setup), each taken
  // off its list once it succeeded; stops at the first failure and tells the
  // service which action failed. In installation mode the post actions follow.
  WorkerResult RunInstallation(DownloadCallback* downloadCallback) override;

  // Runs and empties the post actions; results are ignored. After a fresh
  // installation only the actions marked for that run.
  void RunPostActions();

  ActionList PreActions;
  ActionList MainActions;
  ActionList PostActions;

  // The two things a check depends on that a test can't make fail: the
  // request writers (they have no failing path today) and the system's
  // connection state (a machine that reaches the test service and has a
  // network interface counts as online). Both are the real calls unless a
  // test replaces them.
  using RequestBuilder = std::unique_ptr<tinyxml2::XMLDocument> (*)(const ProgramInfos& infos, bool updateCheckSilent,
                                                                    bool updateCheckAfterTrayMessage,
                                                                    int32_t* errorCode);
  using ConnectedStateQuery = BOOL(WINAPI*)(LPDWORD flags, DWORD reserved);
  RequestBuilder BuildRequest;
  ConnectedStateQuery QueryConnectedState;

  // The keys the vendor built in. With any, only a signed instruction is
  // read, every download must match its digest, and no older version is
  // taken; without, every answer is read as it comes.
  std::vector<InstructionKey> InstructionKeys;

 private:
  // The check once the request exists; the caller writes the result for the
  // product when asked to.
  WorkerResult CheckWithRequest(const tinyxml2::XMLDocument& request, const ProgramInfos& infos,
                                const CmdLineInfo& options);
  void RemoveEmptyCacheFolder(const ProgramInfos& infos);
  // Forgets a refused instruction: nothing of it may run.
  void DropInstruction();
};
