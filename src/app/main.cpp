#include <windows.h>

#include "app/application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  VLRenovaWorkerApplication application(::GetCommandLineW());
  application.InitInstance();
  return application.ExitInstance();
}
