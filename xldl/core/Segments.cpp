#include "xldl/core/Segments.h"

#include <algorithm>

namespace xldl {

void TSegmentTable::Reset(int64_t total, int parts, int64_t align) {
    Segments.clear();
    Align = align > 0 ? align : 1;
    if (total < 0 || parts <= 1) {
        Segments.push_back({0, total, 0, 0, -1});
        return;
    }
    const int64_t step = std::max<int64_t>(total / parts / Align * Align, Align);
    int64_t start = 0;
    for (int i = 0; i < parts && start < total; ++i) {
        const int64_t end = i == parts - 1 ? total : std::min(total, start + step);
        Segments.push_back({start, end, start, 0, -1});
        start = end;
    }
    if (start < total) Segments.back().End = total;
    if (Segments.empty()) Segments.push_back({0, 0, 0, 0, -1});
}

int TSegmentTable::Claim(int worker, int64_t minSplit) {
    for (size_t i = 0; i < Segments.size(); ++i)
        if (Segments[i].Owner < 0 && !SegmentComplete(static_cast<int>(i))) {
            Segments[i].Owner = worker;
            return static_cast<int>(i);
        }
    // Split the held segment with the most left to fetch.
    int best = -1;
    int64_t bestLeft = 0;
    for (size_t i = 0; i < Segments.size(); ++i) {
        const TSegment& s = Segments[i];
        if (s.End < 0) continue;
        const int64_t left = s.End - (s.Pos + s.InFlight);
        if (left > bestLeft) {
            bestLeft = left;
            best = static_cast<int>(i);
        }
    }
    if (best < 0 || bestLeft < 2 * minSplit) return -1;
    TSegment& s = Segments[static_cast<size_t>(best)];
    const int64_t from = s.Pos + s.InFlight;
    int64_t cut = (from + bestLeft / 2) / Align * Align;
    if (cut - from < minSplit || s.End - cut < minSplit) cut = from + bestLeft / 2;
    TSegment upper{cut, s.End, cut, 0, worker};
    s.End = cut;
    Segments.push_back(upper);
    return static_cast<int>(Segments.size() - 1);
}

void TSegmentTable::Release(int index) {
    TSegment& s = Segments[static_cast<size_t>(index)];
    s.Owner = -1;
    s.InFlight = 0;
}

int64_t TSegmentTable::Reserve(int index, int64_t wanted) {
    TSegment& s = Segments[static_cast<size_t>(index)];
    int64_t n = wanted;
    if (s.End >= 0) n = std::min(n, s.End - s.Pos);
    n = std::max<int64_t>(n, 0);
    s.InFlight = n;
    return n;
}

void TSegmentTable::Commit(int index, int64_t bytes) {
    TSegment& s = Segments[static_cast<size_t>(index)];
    s.Pos += std::clamp<int64_t>(bytes, 0, s.InFlight);
    s.InFlight = 0;
}

void TSegmentTable::Cancel(int index) {
    Segments[static_cast<size_t>(index)].InFlight = 0;
}

void TSegmentTable::CloseOpenEnd(int index) {
    TSegment& s = Segments[static_cast<size_t>(index)];
    if (s.End < 0) s.End = s.Pos;
}

bool TSegmentTable::SegmentComplete(int index) const {
    const TSegment& s = Segments[static_cast<size_t>(index)];
    return s.End >= 0 && s.Pos >= s.End;
}

bool TSegmentTable::Complete() const {
    for (int i = 0; i < Count(); ++i)
        if (!SegmentComplete(i)) return false;
    return true;
}

int64_t TSegmentTable::Done() const {
    int64_t done = 0;
    for (const TSegment& s : Segments)
        done += s.Pos - s.Start;
    return done;
}

} // namespace xldl
