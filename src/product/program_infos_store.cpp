#include "product/program_infos_store.h"

#include <mutex>

namespace {

std::mutex gLock;
ProgramInfos gCurrent;
bool gHaveCurrent = false;

}  // namespace

// Interim completion until the installed-product sources exist: the switches
// must name the product, its display name, version, location and language.
bool CompleteProgramInfos(ProgramInfos& working) {
  std::lock_guard lock(gLock);
  const bool complete = !working.ProgramName.empty() && !working.DisplayName.empty() &&
                        !working.ProgramVersion.empty() && !working.InstalledLocation.empty() &&
                        working.Language != 0;
  if (!complete) {
    gHaveCurrent = false;
    gCurrent = {};
    return false;
  }
  working.DisplayNameForLabels = DoubleAmpersands(working.DisplayName);
  gCurrent = working;
  gHaveCurrent = true;
  return true;
}

ProgramInfos GetProgramInfos() {
  std::lock_guard lock(gLock);
  return gHaveCurrent ? gCurrent : ProgramInfos{};
}
