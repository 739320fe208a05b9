// What the fuzz targets share: a broken invariant is named and aborts the
// run (libFuzzer keeps the input), and a fixed clock on a leap day.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "zentrok.h"

namespace zentrok::fuzz {

inline void Check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

inline constexpr QenSystemTime kNow{2024, 2, 4, 29, 23, 59, 59, 999};
inline QenSystemTime FixedClock() { return kNow; }

}  // namespace zentrok::fuzz
