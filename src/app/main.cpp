#include <windows.h>

#include "app/application.h"
#include "instruction_keys.h"
#include "protocol/file_download.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
#ifdef VLRN_TEST_DOWNLOAD_STALL_LIMIT_MS
  // A test build only: a stalled server is tried without waiting a minute.
  SetDownloadStallLimit(VLRN_TEST_DOWNLOAD_STALL_LIMIT_MS);
#endif
  VLRenovaWorkerApplication application(::GetCommandLineW(),
                                        {kBuiltInInstructionKeys.begin(), kBuiltInInstructionKeys.end()});
  application.InitInstance();
  return application.ExitInstance();
}
