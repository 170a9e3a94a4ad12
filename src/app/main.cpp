#include <windows.h>

#include "app/application.h"
#include "instruction_keys.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  VLRenovaWorkerApplication application(::GetCommandLineW(),
                                        {kBuiltInInstructionKeys.begin(), kBuiltInInstructionKeys.end()});
  application.InitInstance();
  return application.ExitInstance();
}
