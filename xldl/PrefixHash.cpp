#include "xldl/PrefixHash.h"

#include "xldl/Locked.h"
#include "xldl/Threads.h"
#include "xldl/Trace.h"

#include <algorithm>

namespace xldl {

namespace {

constexpr uint32_t ChunkBytes = 1 << 20;
// How often the thread looks again when it has caught up with the writers.
constexpr DWORD LookMs = 50;

bool Set(HANDLE event) {
    return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

} // namespace

TPrefixHash::TPrefixHash(const TPartFile& part, TSource source)
    : Part(part), Source(std::move(source)) {
    InitializeCriticalSection(&Lock);
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

TPrefixHash::~TPrefixHash() {
    Stop();
    CloseHandle(StopEvent);
    DeleteCriticalSection(&Lock);
}

void TPrefixHash::Feed(uint64_t generation, int64_t pos, const uint8_t* data, size_t size) {
    // Never waits: a writer has better things to do than queue behind the thread's read.
    if (!TryEnterCriticalSection(&Lock)) return;
    if (Sha && !Finished && generation == Generation && pos == Hashed) {
        Sha->Update(data, size);
        Hashed += static_cast<int64_t>(size);
    }
    LeaveCriticalSection(&Lock);
}

void TPrefixHash::Start() {
    if (Thread || !StopEvent) return;
    ResetEvent(StopEvent);
    // At the connections' own priority: a hash left behind is what the end waits for.
    Thread = StartThread(HasherMain, this);
}

unsigned __stdcall TPrefixHash::HasherMain(void* hash) {
    static_cast<TPrefixHash*>(hash)->Follow();
    InterlockedDecrement(&LiveThreads);
    return 0;
}

void TPrefixHash::Follow() {
    while (!Set(StopEvent)) {
        const TWrittenPrefix now = Source();
        bool behind;
        {
            TLocked l(Lock);
            if (now.Generation != Generation || !Sha || Finished) Restart(now.Generation);
            behind = now.End > Hashed;
        }
        // A chunk at a time, so that a fresh start of the writers is seen soon. A read that
        // fails (the partial emptied under us) is tried again at the next look.
        if (behind && Advance(now.End, StopEvent, 4 * int64_t{ChunkBytes})) continue;
        WaitForSingleObject(StopEvent, LookMs);
    }
}

void TPrefixHash::Restart(uint64_t generation) {
    Sha = std::make_unique<TSha256>();
    Generation = generation;
    Hashed = 0;
    Finished.reset();
}

bool TPrefixHash::Advance(int64_t end, HANDLE stop, int64_t most) {
    if (Buffer.empty()) Buffer.resize(ChunkBytes);
    int64_t read = 0;
    for (;;) {
        if (Set(stop)) return false;
        // A chunk under the lock: the writers' bytes at the front wait for it, or come after.
        TLocked l(Lock);
        if (Hashed >= end || read >= most) return true;
        const auto n = static_cast<uint32_t>(std::min<int64_t>(ChunkBytes, end - Hashed));
        if (Part.ReadAt(Hashed, Buffer.data(), n) != 0) return false;
        Sha->Update(Buffer.data(), n);
        Hashed += n;
        read += n;
    }
}

void TPrefixHash::Stop() {
    SetEvent(StopEvent);
    if (Thread) {
        WaitForSingleObject(Thread, INFINITE);
        CloseHandle(Thread);
        Thread = nullptr;
    }
}

std::optional<std::array<uint8_t, 32>> TPrefixHash::Digest(int64_t total, HANDLE abort,
                                                           bool& aborted) {
    aborted = false;
    Stop();
    const TWrittenPrefix now = Source();
    if (Finished && now.Generation == Generation && Hashed == total) return Finished;
    if (now.Generation != Generation || !Sha || Finished || Hashed > total) Restart(now.Generation);
    const int64_t before = Hashed;
    const uint64_t started = GetTickCount64();
    const bool read = Advance(total, abort);
    if (Tracing())
        Trace("hash: %lld of %lld bytes read at the end, %llu ms",
              static_cast<long long>(Hashed - before), static_cast<long long>(total),
              static_cast<unsigned long long>(GetTickCount64() - started));
    if (!read) {
        aborted = Set(abort);
        // What was hashed may be incomplete: the next question starts from zero.
        Sha.reset();
        return std::nullopt;
    }
    Finished = Sha->Final();
    return Finished;
}

} // namespace xldl
