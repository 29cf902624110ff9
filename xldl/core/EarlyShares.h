// Requests sent before the file is known, so that no round trip is lost waiting for its first
// answer: on a far link the preferred source's connections kept ready ask for the shares after
// the first, and another mirror asks for the file's last bytes (whatever its size, they lie
// apart from the shares taken from the front). Their answers wait on the wire. Once the file
// is known, each such request gets the part of its range that nobody holds as its claim, or
// nothing (then its answer is not read). Pure logic; the planner decides who asks.
#pragma once

#include "xldl/core/Answer.h"
#include "xldl/core/Segments.h"

#include <cstdint>
#include <map>

namespace xldl {

class TEarlyShares {
public:
    // The slot of another mirror's request: the file's end. Slots 1 and up are the shares
    // after the first, in order.
    static constexpr int Last = -1;

    explicit TEarlyShares(int64_t segmentBytes) : SegmentBytes(segmentBytes) {}
    // A new pass: nothing asked yet.
    void Clear() { Claims.clear(); }
    // What a request of `slot` asks for, the file's size not known.
    TQuestion Question(int slot) const;
    // Where that request's answer lies in a file of `size` bytes.
    TByteRange Range(int slot, int64_t size) const;
    // The file is known: `id`'s request of `slot` claims its range but its first `window`
    // bytes (compared where it meets the answer before it), if nobody holds any of it.
    void Place(TSegmentTable& table, int id, int slot, int64_t window);
    // The claim placed for `id`, now the caller's to keep or release; -1 if none.
    int Take(int id);
    // Connection `id` ended: a claim still placed for it is free again.
    void Ended(TSegmentTable& table, int id);

private:
    const int64_t SegmentBytes;
    std::map<int, int> Claims; // by connection
};

} // namespace xldl
