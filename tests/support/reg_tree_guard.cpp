#include "support/reg_tree_guard.h"

namespace testing_support {

RegTreeGuard::~RegTreeGuard() {
  ::RegDeleteTreeW(root_, path_.c_str());  // the values and subkeys
  ::RegDeleteKeyExW(root_, path_.c_str(), KEY_WOW64_64KEY, 0);
}

}  // namespace testing_support
