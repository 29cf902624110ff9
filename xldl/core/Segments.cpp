#include "xldl/core/Segments.h"

#include <algorithm>
#include <limits>

namespace xldl {

namespace {

constexpr int64_t Align = 64 * 1024;
// The least a cut between owners of known rates hands over: less is not worth a request.
constexpr int64_t SmallestCut = 32 * 1024;

bool IsComplete(const TSegmentTable::TSegment& s) {
    return s.End >= 0 && s.Pos >= s.End;
}

} // namespace

int TSegmentTable::Add(TSegment s) {
    const int id = NextId++;
    Segments.emplace(id, s);
    return id;
}

void TSegmentTable::AddDone(int64_t start, int64_t end) {
    if (end <= start) return;
    // Merge with every finished range that touches or overlaps [start, end).
    auto it = Finished.upper_bound(start);
    if (it != Finished.begin()) {
        auto before = std::prev(it);
        if (before->second >= start) it = before;
    }
    while (it != Finished.end() && it->first <= end) {
        start = std::min(start, it->first);
        end = std::max(end, it->second);
        FinishedBytes -= it->second - it->first;
        it = Finished.erase(it);
    }
    Finished.emplace(start, end);
    FinishedBytes += end - start;
}

void TSegmentTable::Reset(int64_t total, const std::vector<TByteRange>& done) {
    ++Resets;
    Segments.clear();
    Finished.clear();
    FinishedBytes = 0;
    NextId = 0;
    Total = total;
    if (total < 0) {
        Add({0, -1, 0, 0, -1});
        return;
    }
    for (const TByteRange& r : done)
        AddDone(std::max<int64_t>(r.Start, 0), std::min(r.End, total));
    int64_t at = 0;
    for (const auto& [start, end] : Finished) {
        if (start > at) Add({at, start, at, 0, -1});
        at = end;
    }
    if (at < total) Add({at, total, at, 0, -1});
}

int TSegmentTable::Claim(int owner, int64_t size, int64_t minSplit, const TRateOf& rateOf) {
    size = std::max<int64_t>(size, 1);
    // The free piece that comes first in the file.
    int best = -1;
    for (auto& [id, s] : Segments)
        if (s.Owner < 0 && !IsComplete(s) && (best < 0 || s.Pos < Segments[best].Pos)) best = id;
    if (best >= 0) {
        TSegment& s = Segments[best];
        if (s.End >= 0 && s.End - s.Pos > size) {
            const int64_t cut = s.Pos + size;
            const int64_t end = s.End;
            s.End = cut;
            Add({cut, end, cut, 0, -1});
        }
        Segments[best].Owner = owner;
        return best;
    }
    if (minSplit <= 0) return -1;
    // Nothing free. The owner with the most left to fetch gives up the last claim it asked for
    // and has not begun to read, when it holds others to go on with: taken whole, it costs
    // neither owner a byte.
    std::map<int, int64_t> owed;
    std::map<int, int> held;
    for (const auto& [id, s] : Segments) {
        if (s.Owner < 0 || s.Owner == owner || s.End < 0) continue;
        owed[s.Owner] += s.End - s.Pos;
        ++held[s.Owner];
    }
    int giver = -1;
    for (const auto& [o, n] : owed)
        if (held[o] >= 2 && (giver < 0 || n > owed[giver])) giver = o;
    if (giver >= 0) {
        int last = -1;
        for (const auto& [id, s] : Segments)
            if (s.Owner == giver && !s.Reading && s.Pos == s.Start && s.InFlight == 0 &&
                (last < 0 || s.Start > Segments[last].Start))
                last = id;
        // Worth it only when the giver would come to it later than the taker can: after more
        // than `minSplit` bytes of its own, what the taker fetches while its request travels.
        if (last >= 0 && owed[giver] - (Segments[last].End - Segments[last].Pos) >= minSplit) {
            Segments[last].Owner = owner;
            return last;
        }
    }
    // The upper part of the held claim that would be finished last.
    const auto rate = [&](int o) { return rateOf ? rateOf(o) : int64_t{-1}; };
    const int64_t mine = rate(owner);
    int victim = -1;
    int64_t most = 0;
    double latest = -1;
    for (const auto& [id, s] : Segments) {
        if (s.End < 0 || s.Owner < 0 || s.Owner == owner) continue;
        const int64_t left = s.End - (s.Pos + s.InFlight);
        if (left <= 0) continue;
        // Seconds to finish at the owner's rate; unknown rates count as the taker's (or all
        // alike, when that is unknown too); an owner that delivers nothing never finishes.
        const int64_t r = rate(s.Owner);
        const double finish = r == 0     ? 1e300
                              : r > 0    ? static_cast<double>(left) / static_cast<double>(r)
                              : mine > 0 ? static_cast<double>(left) / static_cast<double>(mine)
                                         : static_cast<double>(left);
        if (finish > latest) {
            latest = finish;
            most = left;
            victim = id;
        }
    }
    if (victim < 0) return -1;
    TSegment& v = Segments[victim];
    const int64_t from = v.Pos + v.InFlight;
    const int64_t theirs = rate(v.Owner);
    if (theirs == 0) {
        // Its owner has stopped delivering: all of what is left changes hands.
        const int64_t end = v.End;
        v.End = from;
        const int64_t upto = std::min(end, from + std::max<int64_t>(size, 1));
        if (upto < end) Add({upto, end, upto, 0, -1});
        return Add({from, upto, from, 0, owner});
    }
    int64_t keep = 0;
    int64_t cut = 0;
    if (theirs > 0 && mine > 0) {
        // Where both would finish at once: the victim goes on while the taker's request travels
        // (`minSplit` is what the taker would fetch in that time), then each at its own rate. A
        // slow victim near the end thus gives up all but what it brings in that time.
        keep = static_cast<int64_t>(static_cast<double>(theirs) *
                                    static_cast<double>(minSplit + most) /
                                    static_cast<double>(theirs + mine));
        if (most - keep < SmallestCut) return -1;
        // Rounded up, but by little against what the victim keeps at its rate.
        const int64_t align = most >= 32 * Align ? Align : 4096;
        cut = (from + keep + align - 1) / align * align;
        if (v.End - cut < SmallestCut) cut = from + keep;
    } else {
        if (most < 2 * minSplit) return -1;
        keep = std::clamp(most / 2, minSplit, most - minSplit);
        cut = (from + keep + Align - 1) / Align * Align;
        if (cut - from < minSplit || v.End - cut < minSplit) cut = from + keep;
    }
    const int64_t end = v.End;
    v.End = cut;
    const int64_t upto = std::min(end, cut + size);
    if (upto < end) Add({upto, end, upto, 0, -1});
    return Add({cut, upto, cut, 0, owner});
}

int TSegmentTable::ClaimRange(int owner, int64_t from, int64_t end) {
    if (from >= end) return -1;
    for (auto& [id, s] : Segments) {
        if (s.Owner >= 0 || s.End < 0 || s.Pos > from || s.End < end) continue;
        const int64_t pieceEnd = s.End;
        if (s.Pos < from) { // the free bytes before it stay free
            s.End = from;
            Add({from, pieceEnd, from, 0, -1});
            return ClaimRange(owner, from, end);
        }
        if (end < pieceEnd) {
            s.End = end;
            Add({end, pieceEnd, end, 0, -1});
        }
        s.Owner = owner;
        return id;
    }
    return -1;
}

int TSegmentTable::ClaimAt(int64_t pos) const {
    for (const auto& [id, s] : Segments)
        if (s.Owner >= 0 && s.Start <= pos && (s.End < 0 || pos < s.End)) return id;
    return -1;
}

void TSegmentTable::StartReading(int id) {
    Segments.at(id).Reading = true;
}

bool TSegmentTable::Holds(int id, int owner) const {
    const auto it = Segments.find(id);
    return it != Segments.end() && it->second.Owner == owner;
}

void TSegmentTable::Release(int id) {
    const auto it = Segments.find(id);
    if (it == Segments.end()) return;
    TSegment& s = it->second;
    AddDone(s.Start, s.Pos);
    if (IsComplete(s)) {
        Segments.erase(it);
        return;
    }
    s.Start = s.Pos;
    s.Owner = -1;
    s.InFlight = 0;
    s.Reading = false;
}

int64_t TSegmentTable::Reserve(int id, int64_t wanted) {
    TSegment& s = Segments.at(id);
    int64_t n = wanted;
    if (s.End >= 0) n = std::min(n, s.End - s.Pos);
    n = std::max<int64_t>(n, 0);
    s.InFlight = n;
    return n;
}

void TSegmentTable::Commit(int id, int64_t bytes) {
    TSegment& s = Segments.at(id);
    s.Pos += std::clamp<int64_t>(bytes, 0, s.InFlight);
    s.InFlight = 0;
}

void TSegmentTable::Cancel(int id) {
    Segments.at(id).InFlight = 0;
}

void TSegmentTable::CloseOpenEnd(int id) {
    TSegment& s = Segments.at(id);
    if (s.End < 0) {
        s.End = s.Pos;
        Total = s.Pos;
    }
}

bool TSegmentTable::SegmentComplete(int id) const {
    const auto it = Segments.find(id);
    return it == Segments.end() || IsComplete(it->second);
}

bool TSegmentTable::Held() const {
    for (const auto& [id, s] : Segments)
        if (s.Owner >= 0) return true;
    return false;
}

bool TSegmentTable::Complete() const {
    if (Total < 0 && Segments.empty()) return false;
    for (const auto& [id, s] : Segments)
        if (!IsComplete(s)) return false;
    return true;
}

int64_t TSegmentTable::Done() const {
    int64_t done = FinishedBytes;
    for (const auto& [id, s] : Segments)
        done += s.Pos - s.Start;
    return done;
}

int64_t TSegmentTable::Free() const {
    int64_t free = 0;
    for (const auto& [id, s] : Segments) {
        if (s.Owner >= 0 || IsComplete(s)) continue;
        if (s.End < 0) return std::numeric_limits<int64_t>::max() / 2;
        free += s.End - s.Pos;
    }
    return free;
}

int64_t TSegmentTable::FreeWithin(int64_t from, int64_t to) const {
    int64_t free = 0;
    for (const auto& [id, s] : Segments) {
        if (s.Owner >= 0 || IsComplete(s)) continue;
        const int64_t end = s.End < 0 ? to : s.End;
        free += std::max<int64_t>(0, std::min(end, to) - std::max(s.Pos, from));
    }
    return free;
}

std::vector<TByteRange> TSegmentTable::DoneRanges() const {
    std::vector<TByteRange> all;
    for (const auto& [start, end] : Finished)
        all.push_back({start, end});
    for (const auto& [id, s] : Segments)
        if (s.Pos > s.Start) all.push_back({s.Start, s.Pos});
    std::sort(all.begin(), all.end(),
              [](const TByteRange& a, const TByteRange& b) { return a.Start < b.Start; });
    std::vector<TByteRange> merged;
    for (const TByteRange& r : all) {
        if (!merged.empty() && r.Start <= merged.back().End)
            merged.back().End = std::max(merged.back().End, r.End);
        else
            merged.push_back(r);
    }
    return merged;
}

int64_t TSegmentTable::WrittenPrefix() const {
    const std::vector<TByteRange> done = DoneRanges();
    return !done.empty() && done.front().Start == 0 ? done.front().End : 0;
}

std::vector<TByteRange> TSegmentTable::DoneWithin(int64_t from, int64_t to) const {
    std::vector<TByteRange> within;
    for (const TByteRange& r : DoneRanges()) {
        const int64_t start = std::max(r.Start, from);
        const int64_t end = std::min(r.End, to);
        if (start < end) within.push_back({start, end});
    }
    return within;
}

} // namespace xldl
