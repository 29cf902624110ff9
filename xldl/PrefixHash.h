// The SHA-256 of a partial while it is written. Connections fill the partial at any offset; a
// thread of its own reads and hashes it from the first byte up to the first byte not written
// yet, following that point as it moves, so that once the last byte has come only the bytes
// written since its last look are left to read. Without it a finished download would be read
// whole a second time before it could be called finished.
//
// What is hashed is only believed while the writer has not started over: the writer numbers
// its fresh starts (TWrittenPrefix::Generation), and a new number means from zero again.
#pragma once

#include "xldl/Files.h"
#include "xldl/core/Hashes.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace xldl {

struct TWrittenPrefix {
    uint64_t Generation = 0;
    int64_t End = 0; // the bytes [0, End) are written and stay as they are
};

class TPrefixHash {
public:
    using TSource = std::function<TWrittenPrefix()>;

    // Hashes `part` as far as `source` says it is written; `source` is asked from the hash's
    // own thread and must be safe beside the writers.
    TPrefixHash(const TPartFile& part, TSource source);
    ~TPrefixHash();
    TPrefixHash(const TPrefixHash&) = delete;
    TPrefixHash& operator=(const TPrefixHash&) = delete;

    // Starts following the writers, also again after a Digest (without it, Digest reads
    // everything itself).
    void Start();
    // A writer's bytes of fresh start `generation`, just written at `pos` and counted as
    // written: hashed at once on the writer's thread when they continue what is hashed, so
    // that the front's bytes are not read back and the hash keeps in step with them. Nothing
    // happens while the hash's own thread is at work (it reads them later).
    void Feed(uint64_t generation, int64_t pos, const uint8_t* data, size_t size);
    // The SHA-256 of the partial's first `total` bytes, once the writers are done: the thread
    // stops, and what it has not hashed is read now. Nothing when reading fails or `abort` is
    // set meanwhile (`aborted` says which). The same answer again while nothing was written
    // anew; after a fresh start of the writers, hashed again from zero.
    std::optional<std::array<uint8_t, 32>> Digest(int64_t total, HANDLE abort, bool& aborted);
    // The thread stops and has ended on return (Start follows the writers again).
    void Stop();

private:
    static unsigned __stdcall HasherMain(void* hash);
    void Follow();
    // From zero, for what the writers wrote since their fresh start number `generation`.
    void Restart(uint64_t generation);
    // Hashes on up to `end`, `most` bytes read at most; false on a read error or when `stop`
    // is set first.
    bool Advance(int64_t end, HANDLE stop, int64_t most = INT64_MAX);

    const TPartFile& Part;
    const TSource Source;
    HANDLE StopEvent = nullptr;
    HANDLE Thread = nullptr;
    // Guards what follows: the thread's and the writers' (Feed) while it runs, Digest's after
    // it has ended.
    CRITICAL_SECTION Lock;
    std::unique_ptr<TSha256> Sha;
    std::vector<uint8_t> Buffer;
    uint64_t Generation = 0;
    int64_t Hashed = 0;
    std::optional<std::array<uint8_t, 32>> Finished; // the digest of the first `Hashed` bytes
};

} // namespace xldl
