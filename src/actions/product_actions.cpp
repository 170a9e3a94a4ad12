#include "actions/product_actions.h"

#include "log/log.h"

// Placeholders until the setup runs are built: the setup is not started, and
// the result says so rather than reporting an update that never happened.

int32_t ActionProductInstallation::Execute() {
  LogError(L"Running the setup is not available in this build");
  return kActionSetupFailed;
}

int32_t ActionProductUpdate::Execute() {
  LogError(L"Running the setup is not available in this build");
  return kActionSetupFailed;
}
