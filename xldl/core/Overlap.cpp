#include "xldl/core/Overlap.h"

#include <algorithm>
#include <cstring>

namespace xldl {

void TOverlapGuard::Expect(int64_t pos, const uint8_t* data, size_t size) {
    if (size == 0) return;
    Windows.push_back({pos, std::vector<uint8_t>(data, data + size)});
}

bool TOverlapGuard::Written(int64_t pos, const uint8_t* data, size_t size) {
    const int64_t end = pos + static_cast<int64_t>(size);
    bool same = true;
    std::vector<TWindow> kept;
    for (TWindow& w : Windows) {
        const int64_t wEnd = w.Start + static_cast<int64_t>(w.Bytes.size());
        const int64_t from = std::max(pos, w.Start);
        const int64_t to = std::min(end, wEnd);
        if (from >= to) {
            kept.push_back(std::move(w));
            continue;
        }
        if (std::memcmp(w.Bytes.data() + (from - w.Start), data + (from - pos),
                        static_cast<size_t>(to - from)) != 0)
            same = false;
        // What the write did not reach stays, on either side.
        if (w.Start < from)
            kept.push_back({w.Start, std::vector<uint8_t>(w.Bytes.begin(),
                                                          w.Bytes.begin() + (from - w.Start))});
        if (to < wEnd)
            kept.push_back(
                {to, std::vector<uint8_t>(w.Bytes.begin() + (to - w.Start), w.Bytes.end())});
    }
    Windows = std::move(kept);
    return same;
}

int64_t TOverlapGuard::Waiting() const {
    int64_t n = 0;
    for (const TWindow& w : Windows)
        n += static_cast<int64_t>(w.Bytes.size());
    return n;
}

} // namespace xldl
