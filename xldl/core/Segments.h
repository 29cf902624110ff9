// How a file is shared among connections. The file is cut into segments, each fetched by one
// connection at a time from its own position to its end. A connection that finishes takes a
// segment nobody holds, or else splits the largest unfinished one and takes its upper half,
// so all connections stay busy until the end. Bytes count as done once written; a segment's
// bytes in flight (read but not yet written) are reserved so that a split never lands on them.
// No locking here: the caller serialises access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace xldl {

class TSegmentTable {
public:
    struct TSegment {
        int64_t Start = 0;
        int64_t End = -1; // exclusive; -1: up to the end of the stream (size unknown)
        int64_t Pos = 0;  // next byte to write
        int64_t InFlight = 0;
        int Owner = -1;
    };

    // `total` bytes (-1: unknown, one open segment) in `parts` segments of equal size, cut at
    // multiples of `align` where the size allows.
    void Reset(int64_t total, int parts, int64_t align);

    // A segment for `worker`: one that nobody holds, else the upper half of the largest held
    // one if both halves keep at least `minSplit` bytes; -1 when nothing is left to take.
    int Claim(int worker, int64_t minSplit);

    // The worker gives its segment back unfinished (it stops, another may take it over).
    void Release(int index);

    // Reserves up to `wanted` bytes at the segment's position for writing; returns how many
    // may be written (0 once the segment, perhaps shortened by a split, is complete).
    int64_t Reserve(int index, int64_t wanted);
    // `bytes` of the reservation were written (`Commit`), or none (`Cancel`); either ends it.
    void Commit(int index, int64_t bytes);
    void Cancel(int index);

    // An open segment whose stream ended: its end is where it stands.
    void CloseOpenEnd(int index);

    bool SegmentComplete(int index) const;
    bool Complete() const;
    int64_t Done() const;
    const TSegment& At(int index) const { return Segments[static_cast<size_t>(index)]; }
    int Count() const { return static_cast<int>(Segments.size()); }

private:
    std::vector<TSegment> Segments;
    int64_t Align = 1;
};

} // namespace xldl
