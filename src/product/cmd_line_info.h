#pragma once
// The switches the updater was started with, parsed once by start-up and read
// by the worker and the dialog.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "product/program_infos.h"

struct CmdLineInfo {
  // Which value-taking switch waits for its value.
  enum class Pending : int32_t {
    None = 0,
    UpdateIntervalInHours,
    ProgramName,
    ProgramVersion,
    Language,
    InstalledLocation,
    FileList,
    InstallDate,
    WindowRec,
    WindowCaption,
    AffiliateId,
    DisplayName,
    CheckIntervalInHours,
  };

  int32_t RestartAfterSelfUpdate = 0;
  int32_t UpdateFromVersionV1 = 0;
  int32_t WriteCheckResultToReg = 0;
  int32_t UpdateCheckSilent = 0;
  int32_t UpdateSilent = 0;
  int32_t QuickCheck = 0;
  int32_t HideUpdateCheckResult = 0;
  int32_t OnlyDownload = 0;
  int32_t UpdateIntervalInHours = 0;
  std::wstring WindowRec;
  std::wstring WindowCaption;
  int32_t Tray = 0;
  int32_t OnlyAdViewer = 0;
  int32_t CheckIntervalInHours = 0;
  Pending PendingSwitch = Pending::None;
  ProgramInfos ProgramInfo;

  // Takes one argument, its "-" or "/" already removed. The two flags are
  // passed by the splitter and not used.
  void ParseParam(std::wstring_view argument, bool hadSwitchMark = true, bool isLast = false);

  // Splits a whole command line (program path first) and parses every argument.
  void ParseCommandLine(std::wstring_view commandLine);
};

// "C:\Apps\Foo\\\" and "C:\Apps\Foo" both become "C:\Apps\Foo\"; "" becomes "\".
std::wstring NormaliseInstalledLocation(std::wstring_view location);

// Every switch name the parser knows, value switches first.
std::vector<std::wstring> KnownSwitchNames();
