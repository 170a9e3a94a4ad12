#pragma once
// The updater's start-up and exit: parse, complete, claim the product, run the
// session, and turn its end code into the process exit code.

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/instruction_key.h"

class VLRenovaWorkerApplication {
 public:
  // instructionKeys: the keys built into this updater, see RenovaWorker.
  explicit VLRenovaWorkerApplication(std::wstring commandLine, std::vector<InstructionKey> instructionKeys = {});

  // The start-up sequence; false when start-up refuses to run.
  bool InitInstance();
  // The process exit code.
  int ExitInstance();

  int32_t ExitCode = 0;

 private:
  std::wstring commandLine_;
  std::vector<InstructionKey> instructionKeys_;
};
