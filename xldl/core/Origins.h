// Which source wrote which bytes of the file since it was defined (bytes taken up from an
// earlier run have no known source), and which claims were asked of it under what it serves
// now. Two answers of one source that names its version (its validator, under If-Range) are
// of the same file wherever they meet; only where bytes of two sources meet must a window show
// it. Pure logic; the caller serialises access.
#pragma once

#include <cstdint>
#include <map>

namespace xldl {

class TOrigins {
public:
    // Nothing written or asked yet (a new file, or the file from zero again).
    void Clear() {
        Ranges.clear();
        Claims.clear();
    }
    // `size` bytes at `pos` were written from `source`.
    void Add(int64_t pos, int64_t size, int source);
    // `claim` was just asked of `source`.
    void Asked(int claim, int source);
    // Whether `claim` was asked of `source` under what it serves now.
    bool Vouches(int claim, int source) const;
    // Bytes of `claim` written from `source`: its own, if the claim vouches for them.
    void Wrote(int claim, int64_t pos, int64_t size, int source) {
        if (Vouches(claim, source)) Add(pos, size, source);
    }
    // What `source` wrote or was asked before no longer counts as its own: what it serves now
    // is judged afresh, or comes another way.
    void Forget(int source);
    // The source whose bytes are at `pos`; -1 when no known source wrote them.
    int At(int64_t pos) const;

private:
    struct TRun {
        int64_t End = 0;
        int Source = -1;
    };
    std::map<int64_t, TRun> Ranges; // by start; apart, or meeting where the source changes
    // How often each source was forgotten, and how often its claims' source had been when
    // each was asked.
    std::map<int, uint32_t> Forgotten, Claims;
};

} // namespace xldl
