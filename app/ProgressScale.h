// The progress bar's range is 32 bits; the engine's sizes are 64. Sizes up to 2 GiB - 1 go
// to the bar as they are; larger ones are halved together until the total fits, so the bar
// keeps its proportions.
#pragma once

#include <cstdint>

struct TProgressValues {
    int32_t Max;
    int32_t Position;
};

// A negative total (an engine that knows none) shows as an empty bar; a position beyond the
// total stays beyond it, so the bar shows full.
TProgressValues ProgressValues(int64_t total, int64_t done);
