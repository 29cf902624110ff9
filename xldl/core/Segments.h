// How a file is shared among connections. The bytes still wanted are handed out as claims, one
// per request, from the front of what nobody holds, each of the size its connection asks for.
// When nothing is free, a claim is cut from the upper part of the held claim that would be
// finished last, so idle connections take over a slow one's bytes until the very end. Bytes count
// as done once written; bytes in flight (read, not yet written) are reserved so that no cut ever
// lands on them. Claims have stable numbers; a finished claim joins the done ranges when its
// holder lets it go. No locking here: the caller serialises access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace xldl {

struct TByteRange {
    int64_t Start = 0;
    int64_t End = 0; // exclusive
    bool operator==(const TByteRange&) const = default;
};

class TSegmentTable {
public:
    struct TSegment {
        int64_t Start = 0;
        int64_t End = -1; // exclusive; -1: up to the end of the stream (size unknown)
        int64_t Pos = 0;  // next byte to write
        int64_t InFlight = 0;
        int Owner = -1;
        bool Reading = false; // its answer has begun to come
    };

    // A file of `total` bytes (-1: unknown, one open segment) of which `done` (sorted, apart)
    // is on disk already.
    void Reset(int64_t total, const std::vector<TByteRange>& done = {});

    // Bytes per second an owner delivers (0: none lately), -1 when unknown.
    using TRateOf = std::function<int64_t(int owner)>;
    // A claim for `owner` of at most `size` bytes: the first bytes nobody holds; else, when
    // `minSplit` > 0, the last claim another owner has asked for but not begun to read while
    // it holds others (it changes hands whole); else the upper part of the held claim that
    // would be finished last at its owner's rate, cut where both would finish together (at
    // the half when rates are unknown), if both parts keep at least `minSplit` bytes (a
    // claim whose owner delivers nothing is taken whole). -1 when there is nothing.
    int Claim(int owner, int64_t size, int64_t minSplit, const TRateOf& rateOf = nullptr);
    // Exactly [from, end) for `owner`, when nobody holds or has written any of it; -1 if not.
    int ClaimRange(int owner, int64_t from, int64_t end);
    // The claim that holds the byte at `pos` (-1: none).
    int ClaimAt(int64_t pos) const;
    // The owner begins to read the claim's answer: from now on it is never taken whole.
    void StartReading(int id);
    // Whether `owner` still holds the claim (it may have changed hands).
    bool Holds(int id, int owner) const;

    // The holder lets the claim go: finished, it joins the done ranges; unfinished, what is
    // left of it is free for anyone.
    void Release(int id);

    // Reserves up to `wanted` bytes at the claim's position for writing; returns how many may
    // be written (0 once the claim, perhaps shortened by a cut, is complete).
    int64_t Reserve(int id, int64_t wanted);
    // `bytes` of the reservation were written (`Commit`), or none (`Cancel`); either ends it.
    void Commit(int id, int64_t bytes);
    void Cancel(int id);

    // An open claim whose stream ended: its end is where it stands.
    void CloseOpenEnd(int id);

    bool SegmentComplete(int id) const;
    // Whether anyone holds a claim now.
    bool Held() const;
    bool Complete() const;
    int64_t Done() const;
    // Bytes that nobody holds and nobody has written.
    int64_t Free() const;
    // The same within [from, to).
    int64_t FreeWithin(int64_t from, int64_t to) const;
    // Every written byte, as sorted ranges apart from each other.
    std::vector<TByteRange> DoneRanges() const;
    // Where the written bytes from the file's start end (0 when its first byte is missing).
    int64_t WrittenPrefix() const;
    // Counts the resets: bytes written under another number may be of another file.
    uint64_t Generation() const { return Resets; }
    // The written bytes within [from, to), as sorted ranges apart from each other.
    std::vector<TByteRange> DoneWithin(int64_t from, int64_t to) const;
    const TSegment& At(int id) const { return Segments.at(id); }
    // Claims and free pieces now listed (finished and released ones are not).
    int Count() const { return static_cast<int>(Segments.size()); }
    // Whether the size is known, and what it is (-1 unknown).
    bool Bounded() const { return Total >= 0; }
    int64_t Size() const { return Total; }

private:
    void AddDone(int64_t start, int64_t end);
    int Add(TSegment s);
    std::map<int, TSegment> Segments;
    std::map<int64_t, int64_t> Finished; // start -> end, merged
    int64_t FinishedBytes = 0;
    int64_t Total = -1;
    int NextId = 0;
    uint64_t Resets = 0;
};

} // namespace xldl
