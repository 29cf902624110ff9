#include "app/ProgressScale.h"

#include <algorithm>

TProgressValues ProgressValues(int64_t total, int64_t done) {
    if (total < 0) total = 0;
    int shift = 0;
    while ((total >> shift) > INT32_MAX)
        ++shift;
    const int64_t position = std::clamp<int64_t>(done >> shift, INT32_MIN, INT32_MAX);
    return {static_cast<int32_t>(total >> shift), static_cast<int32_t>(position)};
}
