#pragma once
// Points one product's updater at an update service for as long as the object
// lives, through the product's own "DebugUrl_v2". The product's settings key
// goes with it, so nothing a session writes outlives the test.

#include <string>

#include "support/reg_tree_guard.h"

namespace testing_support {

class ServedProduct {
 public:
  ServedProduct(const std::wstring& programName, const std::wstring& baseUrl);

  const std::wstring& baseUrl() const { return baseUrl_; }

 private:
  RegTreeGuard settings_;
  std::wstring baseUrl_;
};

// The reference service of this build folder under a new scope, over HTTPS: it
// answers "No update available!" for every product its catalog does not know.
// Empty when the service is not running.
std::wstring NoUpdateServiceUrl();

// A loopback address where nothing listens: every post fails at once.
std::wstring DeadServiceUrl();

}  // namespace testing_support
