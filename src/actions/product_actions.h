#pragma once
// Running the product's setup from the cache folder: a fresh installation, or
// an update of the installed product.

#include <cstdint>

#include "actions/action_base.h"

class ActionProductInstallation : public ActionBase {
 public:
  ActionProductInstallation() : ActionBase(kActionProductInstallation, 0) {}
  int32_t Execute() override;

  // Set for a signed instruction: only the setup this run downloaded and
  // checked starts, and only when nothing else lies beside it.
  bool VerifiedFilesOnly = false;
};

class ActionProductUpdate : public ActionBase {
 public:
  ActionProductUpdate() : ActionBase(kActionProductUpdate, 0) {}
  int32_t Execute() override;

  int32_t IsMajorUpgrade = 0;  // reinstall every file (the instruction's IsReInstallModeAMUS)
  int32_t SuppressReboot = 0;
  int32_t Silent = 0;  // the installer shows no user interface
  // Set for a signed instruction: as for the installation, and an update
  // without a checked setup copies exactly the checked files.
  bool VerifiedFilesOnly = false;
};
