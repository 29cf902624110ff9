#include "xldl/core/Origins.h"

namespace xldl {

void TOrigins::Add(int64_t pos, int64_t size, int source) {
    if (size <= 0) return;
    const int64_t end = pos + size;
    auto next = Ranges.lower_bound(pos);
    // A writer usually goes on where it stopped: its run grows.
    if (next != Ranges.begin()) {
        auto before = std::prev(next);
        if (before->second.End == pos && before->second.Source == source) {
            before->second.End = end;
            if (next != Ranges.end() && next->first == end && next->second.Source == source) {
                before->second.End = next->second.End;
                Ranges.erase(next);
            }
            return;
        }
    }
    if (next != Ranges.end() && next->first == end && next->second.Source == source) {
        const TRun run{next->second.End, source};
        Ranges.erase(next);
        Ranges[pos] = run;
        return;
    }
    Ranges[pos] = {end, source};
}

void TOrigins::Asked(int claim, int source) {
    if (claim >= 0) Claims[claim] = Forgotten[source];
}

bool TOrigins::Vouches(int claim, int source) const {
    const auto c = Claims.find(claim);
    const auto f = Forgotten.find(source);
    return c != Claims.end() && c->second == (f == Forgotten.end() ? 0 : f->second);
}

void TOrigins::Forget(int source) {
    for (auto it = Ranges.begin(); it != Ranges.end();)
        it = it->second.Source == source ? Ranges.erase(it) : std::next(it);
    ++Forgotten[source];
}

int TOrigins::At(int64_t pos) const {
    auto it = Ranges.upper_bound(pos);
    if (it == Ranges.begin()) return -1;
    --it;
    return pos < it->second.End ? it->second.Source : -1;
}

} // namespace xldl
