#include "logfront/log_level.h"

namespace {

constexpr const wchar_t* kLevelCodes[kLogLevelCodeCount] = {
    L"off", L"CRI", L"ERR", L"WAR", L"INF", L"AUD", L"DB1", L"DB2", L"DB3", L"DB4", L"RS1",
    L"RS2", L"RS3", L"RS4", L"RS5", L"ALW", L"RS6", L"RS7", L"RS8", L"RS9", L"RSA", L"TRM",
};

}  // namespace

const wchar_t* LogLevelCode(int level) {
  if (level < 0) return kLevelCodes[0];
  if (level >= kLogLevelCodeCount) return kLevelCodes[kLogLevelCodeCount - 1];
  return kLevelCodes[level];
}
