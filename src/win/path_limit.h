#pragma once
// The one path limit of the updater: paths, and the texts it holds in
// path-sized buffers, have at most this many characters (the terminator not
// counted). Longer paths are refused rather than cut, which could name another file.

#include <cstddef>

inline constexpr size_t kMaxPathChars = 260;
