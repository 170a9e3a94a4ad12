#pragma once
// Message levels of the log, their three-letter codes and the threshold rule.

inline constexpr int kLogLevelOff = 0;
inline constexpr int kLogLevelCritical = 1;
inline constexpr int kLogLevelError = 2;
inline constexpr int kLogLevelWarning = 3;
inline constexpr int kLogLevelInfo = 4;
inline constexpr int kLogLevelAudit = 5;  // the log's own messages
inline constexpr int kLogLevelDebug1 = 6;
inline constexpr int kLogLevelAlways = 15;  // passes every threshold
inline constexpr int kLogLevelCodeCount = 22;

// The code printed in a line. Levels of 22 and above print the last code
// ("TRM"); negative levels print the first ("off") instead of reading outside
// the table.
const wchar_t* LogLevelCode(int level);

// A message passes when its level is "always" or not above the threshold.
constexpr bool LogLevelPasses(int level, int threshold) { return level == kLogLevelAlways || level <= threshold; }
