#include "xldl/Task.h"

#include <process.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace xldl {

volatile LONG LiveThreads = 0;

namespace {

constexpr int64_t SegmentAlign = 64 * 1024;

// The lock of a task, held for a scope.
class TLocked {
public:
    explicit TLocked(CRITICAL_SECTION& lock) : Lock(lock) { EnterCriticalSection(&Lock); }
    ~TLocked() { LeaveCriticalSection(&Lock); }
    TLocked(const TLocked&) = delete;
    TLocked& operator=(const TLocked&) = delete;

private:
    CRITICAL_SECTION& Lock;
};

std::wstring WithBackslash(std::wstring folder) {
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    return folder;
}

// A thread of the engine, counted from before it starts until its last instruction.
HANDLE StartThread(unsigned(__stdcall* main)(void*), void* argument) {
    InterlockedIncrement(&LiveThreads);
    const uintptr_t thread = _beginthreadex(nullptr, 0, main, argument, 0, nullptr);
    if (!thread) InterlockedDecrement(&LiveThreads);
    return reinterpret_cast<HANDLE>(thread);
}

} // namespace

struct TTask::TWorkerStart {
    TTask* Task;
    int Id;
};

TTask::TTask(std::string url, std::wstring folder, std::wstring fileName, bool manyConnections,
             const TSettings& settings)
    : Url(std::move(url)), Folder(WithBackslash(std::move(folder))), FileName(std::move(fileName)),
      Target(Folder + FileName), PartPath(Target + L".part"), ManyConnections(manyConnections),
      Settings(settings),
      Jitter(GetTickCount() ^ (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this)) << 16)) {
    InitializeCriticalSection(&Lock);
    Abort = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

TTask::~TTask() {
    if (Thread) CloseHandle(Thread);
    CloseHandle(Abort);
    DeleteCriticalSection(&Lock);
}

bool TTask::Start() {
    {
        TLocked l(Lock);
        if (Thread || Cancelled) return false;
        Phase = StateConnecting;
    }
    Thread = StartThread(CoordinatorMain, this);
    if (!Thread) {
        TLocked l(Lock);
        Phase = StateCreated;
        return false;
    }
    return true;
}

void TTask::Cancel() {
    {
        TLocked l(Lock);
        Cancelled = true;
    }
    SetEvent(Abort);
}

bool TTask::WaitEnded(DWORD ms) {
    return !Thread || WaitForSingleObject(Thread, ms) == WAIT_OBJECT_0;
}

void TTask::Snapshot(DownloadTaskInfo& info) {
    std::memset(&info, 0, sizeof info);
    TLocked l(Lock);
    uint8_t state = Phase;
    const bool working = Phase == StateConnecting || Phase == StateDownloading;
    if (working && Waiting > 0 && Waiting >= Active) state = StateWaiting;
    info.State = state;
    info.TotalSize = Total >= 0 ? Total : 0;
    info.DoneSize = Segments.Done();
    SetInfoField(info, InfoErrorOffset, Error);
    SetInfoField(info, InfoHttpStatusOffset, HttpStatus);
    SetInfoField(info, InfoConnectionsOffset,
                 working ? static_cast<uint32_t>(Active - Waiting) : 0);
    SetInfoField(info, InfoRestartsOffset, Restarts);
}

unsigned __stdcall TTask::CoordinatorMain(void* task) {
    static_cast<TTask*>(task)->Run();
    InterlockedDecrement(&LiveThreads);
    return 0;
}

unsigned __stdcall TTask::WorkerMain(void* start) {
    const TWorkerStart s = *static_cast<TWorkerStart*>(start);
    delete static_cast<TWorkerStart*>(start);
    s.Task->Worker(s.Id, TConnection{}, -1);
    InterlockedDecrement(&LiveThreads);
    return 0;
}

void TTask::Finish(uint8_t phase, uint32_t error) {
    TLocked l(Lock);
    Phase = phase;
    Error = error;
}

void TTask::Discard() {
    Part.Close();
    DeleteFileW(PartPath.c_str());
}

bool TTask::Stopping() {
    TLocked l(Lock);
    return Cancelled || PassEnd != TPassEnd::None;
}

void TTask::Run() {
    const auto start = ParseUrl(Url);
    if (!start || FileName.empty() || Folder.empty()) {
        Finish(StateFailed, ErrorBadUrl);
        return;
    }
    Location = *start;
    CreateDirectoryW(Folder.c_str(), nullptr); // usually there already
    if (const DWORD error = Part.Create(PartPath)) {
        Finish(StateFailed, IsDiskFull(error) ? ErrorDiskFull : ErrorFile);
        return;
    }

    std::unique_ptr<THttpRequest> handover;
    for (;;) {
        const TPassEnd end = RunPass(handover);
        if (end == TPassEnd::Aborted) {
            Discard();
            return;
        }
        if (end == TPassEnd::Fail) {
            Discard();
            TLocked l(Lock);
            Phase = StateFailed;
            Error = PassError;
            return;
        }
        if (end == TPassEnd::Restart) {
            if (!StartOver(ErrorUnstable)) return;
            continue;
        }

        // All bytes are in: the file must have the length and digest the server announced.
        int64_t total, done;
        TDigest digest;
        {
            TLocked l(Lock);
            Phase = StateVerifying;
            if (Total < 0) Total = Segments.Done(); // the stream's end told the size
            total = Total;
            done = Segments.Done();
            digest = Digest;
        }
        bool good = Part.Size() == total && done == total;
        if (good && digest.Kind != TDigestKind::None) {
            bool aborted = false;
            DWORD error = 0;
            good = Part.Matches(digest, Abort, aborted, error);
            if (aborted) {
                Discard();
                return;
            }
            if (error) {
                Discard();
                Finish(StateFailed, ErrorFile);
                return;
            }
        }
        if (good) break;
        // Bytes from different versions of the file, or damaged on the way: from zero again.
        if (!StartOver(ErrorVerify)) return;
    }

    Part.Close();
    const DWORD moved = MoveIntoPlace(PartPath, Target, Settings.RenameWaitMs, Abort);
    if (moved) {
        DeleteFileW(PartPath.c_str());
        if (moved != ERROR_OPERATION_ABORTED) Finish(StateFailed, ErrorRename);
        return;
    }
    Finish(StateFinished, ErrorNone);
}

bool TTask::StartOver(uint32_t errorWhenExhausted) {
    bool exhausted, cancelled;
    {
        TLocked l(Lock);
        cancelled = Cancelled;
        exhausted = ++Restarts > Settings.MaxRestarts;
        if (!cancelled && !exhausted) {
            Segments.Reset(-1, 1, 1); // done is back to zero
            Total = -1;
            Digest = {};
            Validator.clear();
        }
    }
    if (cancelled) {
        Discard();
        return false;
    }
    if (exhausted) {
        Discard();
        Finish(StateFailed, errorWhenExhausted);
        return false;
    }
    if (Part.Truncate()) {
        Discard();
        Finish(StateFailed, ErrorFile);
        return false;
    }
    return true;
}

void TTask::RequestRestart(std::unique_ptr<THttpRequest> handover, bool rangesBroken) {
    {
        TLocked l(Lock);
        if (rangesBroken) RangesUsable = false;
        if (PassEnd != TPassEnd::None) return;
        PassEnd = TPassEnd::Restart;
        Handover = std::move(handover);
    }
    SetEvent(Abort);
}

void TTask::RequestFail(uint32_t error) {
    {
        TLocked l(Lock);
        if (PassEnd == TPassEnd::Fail) return;
        PassEnd = TPassEnd::Fail;
        PassError = error;
        Handover.reset();
    }
    SetEvent(Abort);
}

bool TTask::Backoff(unsigned& failures, std::optional<int64_t> retryAfter) {
    if (failures >= Settings.Retries) {
        RequestFail(ErrorNetwork);
        return false;
    }
    uint32_t delay;
    {
        TLocked l(Lock);
        delay = RetryDelayMs(failures, Settings.RetryBaseMs, Settings.RetryCapMs, Jitter.Next(),
                             retryAfter);
        ++Waiting;
    }
    ++failures;
    const bool stopped = WaitForSingleObject(Abort, delay) == WAIT_OBJECT_0;
    TLocked l(Lock);
    --Waiting;
    return !stopped;
}

TTask::TOpenResult TTask::Open(int64_t from, int64_t end, TAsk ask) {
    TUrl at;
    std::string validator;
    int64_t total;
    bool named; // the file has something to tell it from another
    {
        TLocked l(Lock);
        at = Location;
        validator = Validator;
        total = Total;
        named = !Validator.empty() || Digest.Kind != TDigestKind::None;
    }
    if (ask == TAsk::Probe) {
        from = 0;
        end = Settings.SegmentBytes;
    }
    const auto headersFor = [&](TAsk a) {
        std::string h = "Accept: */*\r\n";
        if (a != TAsk::Whole)
            h += "Range: bytes=" + std::to_string(from) + "-" +
                 (end >= 0 ? std::to_string(end - 1) : std::string()) + "\r\n";
        if (a == TAsk::Part && !validator.empty()) h += "If-Range: " + validator + "\r\n";
        if (a != TAsk::Part) h += "Want-Repr-Digest: sha-256=10\r\n";
        return h;
    };
    std::string headers = headersFor(ask);
    // A probe the server could not answer with a usable part asks again for the whole file;
    // dropping the refused answer costs at most one chunk.
    const auto wholeInstead = [&] {
        ask = TAsk::Whole;
        headers = headersFor(ask);
    };

    TOpenResult result;
    for (uint32_t hops = 0;;) {
        auto request = std::make_unique<THttpRequest>();
        const TNetResult sent = request->Send(at, headers, Abort, Settings.StallMs);
        if (sent.Kind == TNet::Aborted) {
            result.Kind = TOpen::Aborted;
            return result;
        }
        if (sent.Kind != TNet::Ok) {
            result.Error = sent.Error;
            if (sent.Kind == TNet::Failed && !IsTransientNetError(sent.Error)) {
                result.Kind = TOpen::Permanent;
                result.Error = ErrorNetwork;
                return result;
            }
            result.Kind = TOpen::Transient;
            result.Refusal = true; // no answer at all: reset, refused, or silent
            return result;
        }
        const THeaders& head = request->Head();
        {
            TLocked l(Lock);
            HttpStatus = static_cast<uint32_t>(head.Status);
        }
        switch (ClassifyStatus(head.Status)) {
        case TStatusClass::Redirect: {
            const auto location = head.Get("location");
            std::optional<TUrl> next;
            if (location) next = ParseUrl(ResolveReference(FormatUrl(at), *location));
            if (!next || hops++ >= Settings.MaxRedirects) {
                result.Kind = TOpen::Permanent;
                result.Error = ErrorRedirects;
                return result;
            }
            at = *next;
            continue;
        }
        case TStatusClass::Whole:
            if (ask != TAsk::Part) {
                TLocked l(Lock);
                Location = at;
                result.Kind = TOpen::Ok;
            } else if (named && RangeValidator(head).empty() &&
                       AdvertisedDigest(head, true).Kind == TDigestKind::None) {
                // Not the file at all, though it reads as a whole answer: nothing in it says
                // which file it is, when the server named this one before (such as bytes a
                // faulty server left on the reused connection). Ask again on a fresh one.
                result.Kind = TOpen::Transient;
                return result;
            } else {
                // The whole file instead of a part: the server ignores ranges (same validator)
                // or the file changed (the If-Range failed). Either way this answer is the
                // new start.
                result.Kind = TOpen::Restart;
                result.RangesBroken = !validator.empty() && RangeValidator(head) == validator;
            }
            result.Request = std::move(request);
            return result;
        case TStatusClass::Partial: {
            const auto range = ParseContentRange(head.Get("content-range").value_or(""));
            if (ask == TAsk::Probe) {
                // Continuing past the first chunk needs the file's size and proof that later
                // chunks come from the same file.
                const bool usable = range && !range->Unsatisfied && range->First == 0 &&
                                    range->Last < end && range->Total > range->Last &&
                                    (!RangeValidator(head).empty() ||
                                     AdvertisedDigest(head, false).Kind != TDigestKind::None);
                if (!usable) {
                    wholeInstead();
                    continue;
                }
                TLocked l(Lock);
                Location = at;
            } else {
                const bool matches = ask == TAsk::Part && range && !range->Unsatisfied &&
                                     range->First == from && range->Last >= from &&
                                     (end < 0 || range->Last <= end - 1) &&
                                     (total < 0 || range->Total == total);
                if (!matches) {
                    result.Kind = ask == TAsk::Part ? TOpen::Restart : TOpen::Permanent;
                    result.RangesBroken = true;
                    result.Error = ErrorHttpStatus;
                    return result;
                }
            }
            result.Kind = TOpen::Ok;
            result.End = range->Last + 1;
            result.Request = std::move(request);
            return result;
        }
        case TStatusClass::RangeRefused:
            if (ask == TAsk::Probe) { // an empty file has no first byte to give
                wholeInstead();
                continue;
            }
            // The range lies beyond the file as it is now: it changed.
            result.Kind = ask == TAsk::Part ? TOpen::Restart : TOpen::Permanent;
            result.Error = ErrorHttpStatus;
            return result;
        case TStatusClass::Transient: {
            result.Kind = TOpen::Transient;
            result.Refusal = IsRefusal(head.Status);
            if (const auto after = head.Get("retry-after")) {
                FILETIME now;
                GetSystemTimeAsFileTime(&now);
                const int64_t epoch =
                    static_cast<int64_t>((uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime) /
                                         10000000) -
                    11644473600;
                result.RetryAfter = ParseRetryAfter(*after, epoch);
            }
            return result;
        }
        case TStatusClass::Permanent:
            result.Kind = TOpen::Permanent;
            result.Error = ErrorHttpStatus;
            return result;
        }
    }
}

std::unique_ptr<THttpRequest> TTask::Probe() {
    unsigned failures = 0;
    for (;;) {
        bool ranges;
        {
            TLocked l(Lock);
            ranges = RangesUsable;
        }
        TOpenResult r = Open(0, -1, ranges ? TAsk::Probe : TAsk::Whole);
        switch (r.Kind) {
        case TOpen::Ok:
            return std::move(r.Request);
        case TOpen::Aborted:
            return nullptr;
        case TOpen::Permanent:
        case TOpen::Restart:
            RequestFail(r.Error ? r.Error : ErrorHttpStatus);
            return nullptr;
        case TOpen::Transient:
            if (!Backoff(failures, r.RetryAfter)) return nullptr;
            break;
        }
    }
}

TTask::TPassEnd TTask::RunPass(std::unique_ptr<THttpRequest>& handover) {
    {
        TLocked l(Lock);
        if (Cancelled) return TPassEnd::Aborted;
        ResetEvent(Abort);
        PassEnd = TPassEnd::None;
        Active = 1;
        Waiting = 0;
    }
    std::unique_ptr<THttpRequest> first = std::move(handover);
    if (!first) first = Probe();

    int parts = 1;
    int64_t total = -1;
    int64_t firstEnd = -1;
    if (first) {
        const THeaders& head = first->Head();
        const bool whole = ClassifyStatus(head.Status) == TStatusClass::Whole;
        if (whole) {
            const bool chunked = head.Get("transfer-encoding").has_value();
            const auto length =
                chunked ? std::nullopt : ParseByteCount(head.Get("content-length").value_or("x"));
            total = length ? *length : -1;
            firstEnd = total;
        } else { // the first chunk; Open made sure the range tells the size
            const auto range = ParseContentRange(head.Get("content-range").value_or(""));
            total = range->Total;
            firstEnd = range->Last + 1;
        }
        TLocked l(Lock);
        Total = total;
        Validator = RangeValidator(head);
        Digest = AdvertisedDigest(head, whole);
        Phase = StateDownloading;
        // A whole-file answer stays one stream to its end: a connection that stopped partway
        // through it would have to wait for the rest of the file to drain on closing.
        if (ManyConnections && RangesUsable && !whole && !Validator.empty() &&
            total >= 2 * Settings.SegmentBytes)
            parts = static_cast<int>(
                std::min<int64_t>(Settings.MaxConnections, total / Settings.SegmentBytes));
    }
    if (first && total > 0) {
        const int64_t free = FreeBytes(Folder);
        if (free >= 0 && free < total) {
            first.reset();
            RequestFail(ErrorDiskFull);
        }
    }

    if (first) {
        int segment;
        {
            TLocked l(Lock);
            Segments.Reset(total, parts, SegmentAlign);
            segment = Segments.Claim(0, 0);
            Active = parts;
        }
        std::vector<HANDLE> threads;
        for (int id = 1; id < parts; ++id) {
            const HANDLE t = StartThread(WorkerMain, new TWorkerStart{this, id});
            if (t) {
                threads.push_back(t);
            } else {
                TLocked l(Lock);
                --Active; // its share goes to the others
            }
        }
        Worker(0, TConnection{std::move(first), firstEnd}, segment);
        if (!threads.empty())
            WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE,
                                   INFINITE);
        for (HANDLE t : threads)
            CloseHandle(t);
    }

    TLocked l(Lock);
    Active = 0;
    if (Cancelled) return TPassEnd::Aborted;
    if (PassEnd == TPassEnd::Fail) return TPassEnd::Fail;
    if (PassEnd == TPassEnd::None && Segments.Count() > 0 && Segments.Complete())
        return TPassEnd::Complete;
    if (PassEnd == TPassEnd::Restart) {
        handover = std::move(Handover);
        return TPassEnd::Restart;
    }
    if (Segments.Count() > 0 && Segments.Complete()) return TPassEnd::Complete;
    PassError = ErrorNetwork;
    return TPassEnd::Fail;
}

void TTask::Worker(int id, TConnection connection, int segment) {
    const int64_t minSplit = std::max<int64_t>(Settings.SegmentBytes / 2, THttpRequest::BufferSize);
    unsigned failures = 0;
    TStep step;
    do
        step = Fetch(id, connection, segment, failures, minSplit);
    while (step == TStep::Go);
    connection.Request.reset();
    TLocked l(Lock);
    if (segment >= 0) Segments.Release(segment);
    if (step != TStep::Retired) --Active;
}

TTask::TStep TTask::Fetch(int id, TConnection& connection, int& segment, unsigned& failures,
                          int64_t minSplit) {
    if (segment < 0) {
        connection.Request.reset();
        TLocked l(Lock);
        if (Cancelled || PassEnd != TPassEnd::None) return TStep::Stop;
        segment = Segments.Claim(id, minSplit);
        return segment >= 0 ? TStep::Go : TStep::Stop;
    }

    if (!connection.Request) {
        TSegmentTable::TSegment share;
        bool resumable;
        {
            TLocked l(Lock);
            if (Cancelled || PassEnd != TPassEnd::None) return TStep::Stop;
            share = Segments.At(segment);
            // Picking up in the middle needs proof that it is still the same file.
            resumable = RangesUsable && (!Validator.empty() || Digest.Kind != TDigestKind::None);
        }
        if (share.End >= 0 && share.Pos >= share.End) {
            segment = -1;
            return TStep::Go;
        }
        if (!resumable) {
            RequestRestart(nullptr, false);
            return TStep::Stop;
        }
        // At most a chunk per request: a request dropped before the end of its body (a
        // cancel, a stall, a split) leaves only the rest of that chunk to drain. A share of
        // unknown end is one stream; it cannot be cut.
        const int64_t end =
            share.End >= 0 ? std::min(share.End, share.Pos + Settings.SegmentBytes) : -1;
        TOpenResult r = Open(share.Pos, end, TAsk::Part);
        switch (r.Kind) {
        case TOpen::Ok:
            // An open share reads on to the stream's end, however much the answer announced.
            connection = TConnection{std::move(r.Request), end >= 0 ? r.End : -1};
            return TStep::Go;
        case TOpen::Aborted:
            return TStep::Stop;
        case TOpen::Permanent:
            RequestFail(r.Error);
            return TStep::Stop;
        case TOpen::Restart:
            RequestRestart(std::move(r.Request), r.RangesBroken);
            return TStep::Stop;
        case TOpen::Transient:
            if (r.Refusal) {
                TLocked l(Lock);
                if (Active > 1) {
                    // One connection too many for this server: leave the share to the others.
                    --Active;
                    return TStep::Retired;
                }
            }
            return Backoff(failures, r.RetryAfter) ? TStep::Go : TStep::Stop;
        }
        return TStep::Stop;
    }

    int64_t wanted = 0, offset;
    bool chunkDone;
    {
        TLocked l(Lock);
        if (Cancelled || PassEnd != TPassEnd::None) return TStep::Stop;
        offset = Segments.At(segment).Pos;
        chunkDone = connection.End >= 0 && offset >= connection.End;
        if (!chunkDone) {
            const int64_t left = connection.End >= 0 ? connection.End - offset : INT64_MAX;
            wanted = Segments.Reserve(segment, std::min<int64_t>(THttpRequest::BufferSize, left));
            if (wanted == 0) { // the share is complete (perhaps cut short by a split)
                Segments.Cancel(segment);
                segment = -1;
                return TStep::Go;
            }
        }
    }
    if (chunkDone) {
        // The request's body is read to its end: the next chunk comes on a new request (over
        // the same socket), with no pause, since nothing failed.
        connection.Request.reset();
        return TStep::Go;
    }
    const TNetResult r =
        connection.Request->Read(static_cast<uint32_t>(wanted), Abort, Settings.StallMs);
    if (r.Kind == TNet::Ok) {
        const DWORD error = Part.WriteAt(offset, connection.Request->Data(), r.Bytes);
        {
            TLocked l(Lock);
            if (!error) {
                Segments.Commit(segment, r.Bytes);
                failures = 0;
                return TStep::Go;
            }
            Segments.Cancel(segment);
        }
        RequestFail(IsDiskFull(error) ? ErrorDiskFull : ErrorFile);
        return TStep::Stop;
    }
    {
        TLocked l(Lock);
        Segments.Cancel(segment);
        if (r.Kind == TNet::Eof && Segments.At(segment).End < 0) {
            // A stream of unknown length ends where it ends.
            Segments.CloseOpenEnd(segment);
            segment = -1;
            return TStep::Go;
        }
    }
    connection.Request.reset();
    if (r.Kind == TNet::Aborted) return TStep::Stop;
    if (r.Kind == TNet::Failed && !IsTransientNetError(r.Error)) {
        RequestFail(ErrorNetwork);
        return TStep::Stop;
    }
    // Dropped, stalled, or ended short of its length: resume after a pause.
    return Backoff(failures, std::nullopt) ? TStep::Go : TStep::Stop;
}

} // namespace xldl
