// Who fetches the last pieces of a file. Near the end, a piece for a connection much slower
// than the others would come after they had fetched everything left without it: it would only
// delay the finish, so that connection stands back (ready, in case they fail).
// Pure arithmetic; tested natively through the planner.
#pragma once

#include <cstdint>
#include <vector>

namespace xldl {

// A connection at work as the end game weighs it.
struct TRunner {
    int64_t Rate = 0;    // bytes per second it sustains
    uint32_t TripMs = 0; // its source's round trip
};

// Whether `me` should leave a free `piece` to `others` with `left` bytes still to come.
bool StandsBack(const TRunner& me, const std::vector<TRunner>& others, int64_t piece, int64_t left);

} // namespace xldl
