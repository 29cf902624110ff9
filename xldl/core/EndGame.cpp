#include "xldl/core/EndGame.h"

#include <algorithm>

namespace xldl {

bool StandsBack(const TRunner& me, const std::vector<TRunner>& others, int64_t piece,
                int64_t left) {
    if (me.Rate <= 0 || piece <= 0 || left <= 0) return false;
    int64_t all = 0, fastest = 0;
    uint32_t trip = 0;
    for (const TRunner& o : others) {
        if (o.Rate <= 0) continue;
        all += o.Rate;
        fastest = std::max(fastest, o.Rate);
        if (!trip || o.TripMs < trip) trip = o.TripMs;
    }
    // Among peers, who fetches the last pieces is a matter of where the cuts fell.
    if (fastest < 2 * me.Rate) return false;
    const double theirs = trip + 1000.0 * static_cast<double>(left) / static_cast<double>(all);
    const double mine = me.TripMs + 1000.0 * static_cast<double>(std::min(piece, left)) /
                                        static_cast<double>(me.Rate);
    return mine > theirs;
}

} // namespace xldl
