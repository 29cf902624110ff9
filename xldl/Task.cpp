#include "xldl/Task.h"

#include <process.h>

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
    s.Task->Worker(s.Id, nullptr, -1);
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

TTask::TOpenResult TTask::Open(int64_t from, int64_t end, bool ranged) {
    TUrl at;
    std::string validator;
    int64_t total;
    {
        TLocked l(Lock);
        at = Location;
        validator = Validator;
        total = Total;
    }
    std::string headers = "Accept: */*\r\n";
    if (ranged) {
        headers += "Range: bytes=" + std::to_string(from) + "-" +
                   (end >= 0 ? std::to_string(end - 1) : std::string()) + "\r\n";
        if (!validator.empty()) headers += "If-Range: " + validator + "\r\n";
    } else {
        headers += "Want-Repr-Digest: sha-256=10\r\n";
    }

    TOpenResult result;
    for (uint32_t hop = 0;; ++hop) {
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
            if (!next || hop >= Settings.MaxRedirects) {
                result.Kind = TOpen::Permanent;
                result.Error = ErrorRedirects;
                return result;
            }
            at = *next;
            continue;
        }
        case TStatusClass::Whole:
            if (!ranged) {
                TLocked l(Lock);
                Location = at;
                result.Kind = TOpen::Ok;
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
            const bool matches = ranged && range && !range->Unsatisfied && range->First == from &&
                                 (end < 0 || range->Last <= end - 1) &&
                                 (total < 0 || range->Total == total);
            if (!matches) {
                result.Kind = ranged ? TOpen::Restart : TOpen::Permanent;
                result.RangesBroken = true;
                result.Error = ErrorHttpStatus;
                return result;
            }
            result.Kind = TOpen::Ok;
            result.Request = std::move(request);
            return result;
        }
        case TStatusClass::RangeRefused:
            // The range lies beyond the file as it is now: it changed.
            result.Kind = ranged ? TOpen::Restart : TOpen::Permanent;
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
        TOpenResult r = Open(0, -1, false);
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
    if (first) {
        const THeaders& head = first->Head();
        const bool chunked = head.Get("transfer-encoding").has_value();
        const auto length =
            chunked ? std::nullopt : ParseByteCount(head.Get("content-length").value_or("x"));
        total = length ? *length : -1;
        TLocked l(Lock);
        Total = total;
        Validator = RangeValidator(head);
        Digest = AdvertisedDigest(head, true);
        Phase = StateDownloading;
        if (ManyConnections && RangesUsable && AcceptsByteRanges(head) && !Validator.empty() &&
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
        Worker(0, std::move(first), segment);
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

void TTask::Worker(int id, std::unique_ptr<THttpRequest> connection, int segment) {
    const int64_t minSplit = std::max<int64_t>(Settings.SegmentBytes / 2, THttpRequest::BufferSize);
    unsigned failures = 0;
    TStep step;
    do
        step = Fetch(id, connection, segment, failures, minSplit);
    while (step == TStep::Go);
    connection.reset();
    TLocked l(Lock);
    if (segment >= 0) Segments.Release(segment);
    if (step != TStep::Retired) --Active;
}

TTask::TStep TTask::Fetch(int id, std::unique_ptr<THttpRequest>& connection, int& segment,
                          unsigned& failures, int64_t minSplit) {
    if (segment < 0) {
        connection.reset();
        TLocked l(Lock);
        if (Cancelled || PassEnd != TPassEnd::None) return TStep::Stop;
        segment = Segments.Claim(id, minSplit);
        return segment >= 0 ? TStep::Go : TStep::Stop;
    }

    if (!connection) {
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
        TOpenResult r = Open(share.Pos, share.End, true);
        switch (r.Kind) {
        case TOpen::Ok:
            connection = std::move(r.Request);
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

    int64_t wanted, offset;
    {
        TLocked l(Lock);
        if (Cancelled || PassEnd != TPassEnd::None) return TStep::Stop;
        wanted = Segments.Reserve(segment, THttpRequest::BufferSize);
        offset = Segments.At(segment).Pos;
        if (wanted == 0) { // the share is complete (perhaps cut short by a split)
            Segments.Cancel(segment);
            segment = -1;
            return TStep::Go;
        }
    }
    const TNetResult r = connection->Read(static_cast<uint32_t>(wanted), Abort, Settings.StallMs);
    if (r.Kind == TNet::Ok) {
        const DWORD error = Part.WriteAt(offset, connection->Data(), r.Bytes);
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
    connection.reset();
    if (r.Kind == TNet::Aborted) return TStep::Stop;
    if (r.Kind == TNet::Failed && !IsTransientNetError(r.Error)) {
        RequestFail(ErrorNetwork);
        return TStep::Stop;
    }
    // Dropped, stalled, or ended short of its length: resume after a pause.
    return Backoff(failures, std::nullopt) ? TStep::Go : TStep::Stop;
}

} // namespace xldl
