#pragma once
// The updater's quiet check (-UpdateCheckSilent -QuickCheck) of a product,
// run in the benchmark's own process as start-up runs it, so that the
// benchmark can measure it with its own image.

#include <string>

#include "app/renova_worker.h"
#include "log/process_log.h"
#include "product/cmd_line_info.h"
#include "product/program_infos_store.h"
#include "ui/dialog.h"
#include "ui/dialog_window.h"

namespace bench {

inline std::wstring QuietSessionSwitches(const std::wstring& product) {
  return L"-ProgramName \"" + product +
         L"\" -ProgramVersion 1.0 -Language 1033 -InstalledLocation C:\\ -UpdateCheckSilent -QuickCheck";
}

// The session's end code; -1 when the product can't be identified.
inline int RunQuietSession(const std::wstring& product, DialogWindow& window) {
  CmdLineInfo options;
  options.ParseCommandLine(L"bench.exe " + QuietSessionSwitches(product));
  ProgramInfos working = options.ProgramInfo;
  if (!CompleteProgramInfos(working)) return -1;
  StartLog(GetProgramInfos().ProgramName.c_str());
  RenovaWorker worker;
  worker.CmdLine = &options;
  Dialog dialog(&worker, &options, &window);
  return static_cast<int>(window.RunModal(dialog));
}

}  // namespace bench
