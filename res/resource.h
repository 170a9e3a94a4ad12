#pragma once
// Resource ids of VLRenovaWorker.exe (shared by the .rc file and the code).

#define IDI_VLRENOVA 128
