// Several connections for a file that names no version of itself (no ETag, no Last-Modified):
// nothing in a range's answer says it comes from the same file as the bytes beside it, so each
// answer also brings a few bytes on either side of its own share (a window) that another answer
// brings or brought as its share, and the two must agree. Windows sit at every boundary between
// two answers, so the answers of a download form one chain in which each is compared with its
// neighbours; if the file was replaced between two of them, some neighbouring pair comes from
// the two versions and their window differs, unless the versions agree on those very bytes.
//
// A window's bytes are compared with what is written already (read back from the partial by
// the caller) or, where nothing is written yet, kept here until the bytes are written and then
// compared with them. No locking here: the caller serialises access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace xldl {

class TOverlapGuard {
public:
    // Bytes of a window on each side of a share.
    static constexpr int64_t WindowBytes = 16 * 1024;

    // Nothing kept any more (the download starts over).
    void Reset() { Windows.clear(); }
    // A window's bytes at `pos` that are not written yet, kept until they are.
    void Expect(int64_t pos, const uint8_t* data, size_t size);
    // `size` bytes were written at `pos`: false when they differ from a window kept for them.
    // The compared part of each window is let go.
    bool Written(int64_t pos, const uint8_t* data, size_t size);
    // Windows' bytes still waiting for theirs.
    int64_t Waiting() const;

private:
    struct TWindow {
        int64_t Start = 0;
        std::vector<uint8_t> Bytes;
    };
    std::vector<TWindow> Windows;
};

} // namespace xldl
