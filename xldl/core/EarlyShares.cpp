#include "xldl/core/EarlyShares.h"

#include <algorithm>

namespace xldl {

namespace {

// How much of the file's end another mirror asks for. Less than a whole share: when the file
// turns out too small for that end to lie apart from the first answer, what came is dropped.
int64_t LastBytes(int64_t segmentBytes) {
    return std::max<int64_t>(segmentBytes / 4, 1);
}

} // namespace

TQuestion TEarlyShares::Question(int slot) const {
    TQuestion q;
    if (slot == Last) {
        q.Ask = TAsk::Last;
        q.End = LastBytes(SegmentBytes);
        return q;
    }
    q.Ask = TAsk::Part;
    q.From = slot * SegmentBytes;
    q.End = (slot + 1) * SegmentBytes;
    return q;
}

TByteRange TEarlyShares::Range(int slot, int64_t size) const {
    if (slot == Last) return {std::max<int64_t>(size - LastBytes(SegmentBytes), 0), size};
    return {std::min(slot * SegmentBytes, size), std::min((slot + 1) * SegmentBytes, size)};
}

void TEarlyShares::Place(TSegmentTable& table, int id, int slot, int64_t window) {
    if (!table.Bounded()) return;
    const TByteRange r = Range(slot, table.Size());
    if (r.Start + window >= r.End) return;
    const int claim = table.ClaimRange(id, r.Start + window, r.End);
    if (claim >= 0) Claims[id] = claim;
}

int TEarlyShares::Take(int id) {
    const auto it = Claims.find(id);
    if (it == Claims.end()) return -1;
    const int claim = it->second;
    Claims.erase(it);
    return claim;
}

void TEarlyShares::Ended(TSegmentTable& table, int id) {
    const int claim = Take(id);
    if (claim >= 0 && table.Holds(claim, id)) table.Release(claim);
}

} // namespace xldl
