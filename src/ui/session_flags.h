#pragma once
// Whether the session's window may be shown, read by the window itself.

#include <atomic>
#include <cstdint>

// 0 while every attempt to show the window is to be suppressed: the session
// runs hidden until it decides to surface. Set by the session only.
extern std::atomic<int32_t> gShowPermitted;
