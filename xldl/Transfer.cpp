#include "xldl/Transfer.h"

#include "xldl/Locked.h"

#include "engine/XLDownload.h"
#include "xldl/Trace.h"

#include <process.h>

#include <algorithm>
#include <cstdint>

namespace xldl {

volatile LONG LiveThreads = 0;

HANDLE StartThread(unsigned(__stdcall* main)(void*), void* argument) {
    InterlockedIncrement(&LiveThreads);
    const uintptr_t thread = _beginthreadex(nullptr, 0, main, argument, 0, nullptr);
    if (!thread) InterlockedDecrement(&LiveThreads);
    return reinterpret_cast<HANDLE>(thread);
}

namespace {

// The most taken from the connection in one go.
constexpr uint32_t ReadBytes = 1 << 20;
// Requests a connection may have on the wire beyond the answer it is reading.
constexpr size_t MaxAhead = 8;
// An answer's bytes beyond a cut claim: read and dropped up to this much, rather than closing
// the connection (and losing the requests queued behind it).
constexpr int64_t DrainLimit = 512 * 1024;
// Requests asked again at once, without a pause, when a server closes before answering them.
constexpr unsigned FreeResends = 2;

int64_t NowEpoch() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<int64_t>((uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime) /
                                10000000) -
           11644473600;
}

uint32_t EngineErrorOf(uint32_t netError) {
    return netError == NetTlsUntrusted || netError == NetTlsFailed ? ErrorTls : ErrorNetwork;
}

// What the system said behind a failure: a certificate's chain or policy status, else the
// connection's own error.
uint32_t DetailOf(const TNetResult& r, const THttpConnection* connection) {
    if (connection && connection->CertificateStatus()) return connection->CertificateStatus();
    return r.Error;
}

} // namespace

struct TTransfer::TWorker {
    TWorker(int id, const TSettings& settings)
        : Id(id),
          Pace(std::min<int64_t>(256 * 1024, settings.SegmentBytes), settings.SegmentBytes) {}
    int Id;
    TPace Pace;
    std::unique_ptr<THttpConnection> Connection;
    std::deque<TAsked> Asked; // sent, answers not read yet
    bool Reading = false;     // Current's answer is being read
    TAsked Current;
    unsigned Failures = 0;
    unsigned Resends = 0;              // requests lost to closes, in a row
    unsigned Hops = 0;                 // redirects met by this connection's ranges
    uint64_t Reads = 0, ReadBytes = 0; // for the trace
    bool Retired = false;
};

struct TTransfer::TWorkerStart {
    TTransfer* Transfer;
    int Id;
    bool Early; // connects before the first answer, then waits to hear whether it is needed
};

TTransfer::TTransfer(const TUrl& url, const std::wstring& folder, bool manyConnections,
                     const TSettings& settings, const TProxyConfig& proxies, TPartFile& part,
                     HANDLE abort)
    : ManyConnections(manyConnections), Settings(settings), Proxies(proxies), Folder(folder),
      Part(part), Abort(abort), Location(url),
      Jitter(GetTickCount() ^ (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this)) << 16)) {
    InitializeCriticalSection(&Lock);
    Go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    LastProgress = GetTickCount();
    Segments.Reset(-1);
}

TTransfer::~TTransfer() {
    CloseHandle(Go);
    DeleteCriticalSection(&Lock);
}

void TTransfer::Resume(const TFileFacts& facts) {
    TLocked l(Lock);
    Location = facts.Location;
    Validator = facts.Validator;
    Digest = facts.Digest;
    Segments.Reset(facts.Total, facts.Done);
    Resuming = facts.Total >= 0 && Resumable();
    Confirmed = false;
}

void TTransfer::Forget() {
    TLocked l(Lock);
    Segments.Reset(-1);
    EndUnproven = false;
    Validator.clear();
    Digest = {};
    Resuming = false;
    Confirmed = true;
}

void TTransfer::Cancel() {
    TLocked l(Lock);
    Cancelled = true;
}

TTransfer::TProgress TTransfer::Progress() {
    TLocked l(Lock);
    TProgress p;
    p.Answered = Answered;
    p.Total = Segments.Size();
    p.Done = Segments.Done();
    p.Connections = Active - Waiting;
    p.AllWaiting = Waiting > 0 && Waiting >= Active;
    p.HttpStatus = HttpStatus;
    return p;
}

TFileFacts TTransfer::Facts() {
    TLocked l(Lock);
    return {Location, Segments.Size(), Validator, Digest, Segments.DoneRanges(), EndUnproven};
}

uint32_t TTransfer::Failure() {
    TLocked l(Lock);
    return PassError;
}

uint32_t TTransfer::FailureDetail() {
    TLocked l(Lock);
    return PassDetail;
}

bool TTransfer::Resumable() {
    return RangesUsable && (!Validator.empty() || Digest.Kind != TDigestKind::None);
}

void TTransfer::CallOffEarly() {
    {
        TLocked l(Lock);
        if (EarlyCalledOff) return;
        EarlyCalledOff = true;
        Parts = 0;
    }
    SetEvent(Go); // they wake, see they are not wanted, and close their connections
}

bool TTransfer::Stopping() {
    TLocked l(Lock);
    return Cancelled || PassEnded;
}

void TTransfer::RequestRestart(std::unique_ptr<TAnswered> handover, bool rangesBroken) {
    {
        TLocked l(Lock);
        if (rangesBroken) RangesUsable = false;
        if (PassEnded) return;
        PassEnded = true;
        PassEnd = TEnd::Restart;
        Handover = std::move(handover);
    }
    SetEvent(Abort);
}

void TTransfer::RequestFail(uint32_t error, uint32_t detail) {
    {
        TLocked l(Lock);
        if (PassEnded && PassEnd == TEnd::Fail) return;
        PassEnded = true;
        PassEnd = TEnd::Fail;
        PassError = error;
        PassDetail = detail;
        Handover.reset();
    }
    SetEvent(Abort);
}

bool TTransfer::Backoff(unsigned& failures, std::optional<int64_t> retryAfter) {
    uint32_t delay = 0;
    bool exhausted;
    {
        TLocked l(Lock);
        const DWORD quiet = GetTickCount() - LastProgress;
        exhausted = quiet >= Settings.GiveUpMs;
        if (!exhausted) {
            delay = RetryDelayMs(failures, Settings.RetryBaseMs, Settings.RetryCapMs, Jitter.Next(),
                                 retryAfter);
            // No pause outlasts the budget: the try after it is the last.
            delay = std::min<uint32_t>(delay, Settings.GiveUpMs - quiet);
            ++Waiting;
        }
    }
    if (exhausted) {
        RequestFail(ErrorNetwork);
        return false;
    }
    ++failures;
    const bool stopped = WaitForSingleObject(Abort, delay) == WAIT_OBJECT_0;
    TLocked l(Lock);
    --Waiting;
    return !stopped;
}

std::optional<TUrl> TTransfer::Redirected(const TUrl& from, const std::string& location) {
    return ParseUrl(ResolveReference(FormatUrl(from), location));
}

std::string TTransfer::HeaderLines(const TQuestion& q) const {
    std::string h = "Accept: */*\r\n";
    if (q.Ask != TAsk::Whole)
        h += "Range: bytes=" + std::to_string(q.From) + "-" +
             (q.End >= 0 ? std::to_string(q.End - 1) : std::string()) + "\r\n";
    if (q.Ask == TAsk::Part && !q.Validator.empty()) h += "If-Range: " + q.Validator + "\r\n";
    if (q.Ask != TAsk::Part) h += "Want-Repr-Digest: sha-256=10\r\n";
    return h;
}

TNetResult TTransfer::Ask(std::unique_ptr<THttpConnection>& connection, const TUrl& url,
                          const TQuestion& q, HANDLE abort) {
    const auto proxy = ProxyFor(Proxies, url);
    if (!connection || !connection->Serves(url, proxy) || !connection->CanPipeline())
        connection = std::make_unique<THttpConnection>(url, proxy);
    return connection->Request(url, HeaderLines(q), abort, Settings.StallMs);
}

std::unique_ptr<TTransfer::TAnswered> TTransfer::First() {
    unsigned failures = 0;
    for (;;) {
        TQuestion q;
        TUrl url;
        {
            TLocked l(Lock);
            q.Ask = RangesUsable ? TAsk::First : TAsk::Whole;
            url = Location;
        }
        q.End = q.Ask == TAsk::First ? Settings.SegmentBytes : -1;
        std::unique_ptr<THttpConnection> c;
        for (unsigned hops = 0;;) {
            TNetResult r = Ask(c, url, q, Abort);
            if (r.Kind == TNet::Ok) r = c->ReadHead(Abort, Settings.StallMs);
            if (r.Kind == TNet::Aborted) return nullptr;
            if (r.Kind != TNet::Ok) {
                if (r.Kind == TNet::Failed && !IsTransientNetError(r.Error)) {
                    RequestFail(EngineErrorOf(r.Error), DetailOf(r, c.get()));
                    return nullptr;
                }
                // A server that turns connections away may be counting the early ones.
                CallOffEarly();
                if (!Backoff(failures, std::nullopt)) return nullptr;
                break;
            }
            const TAnswer a = JudgeAnswer(c->Head(), q, NowEpoch());
            {
                TLocked l(Lock);
                HttpStatus = static_cast<uint32_t>(c->Head().Status);
            }
            switch (a.Verdict) {
            case TVerdict::Ok: {
                if (Tracing()) Trace("c0 head 0 first answer, status %d", c->Head().Status);
                TLocked l(Lock);
                Location = url;
                auto answered = std::make_unique<TAnswered>();
                answered->Connection = std::move(c);
                answered->Question = q;
                answered->Answer = a;
                return answered;
            }
            case TVerdict::Redirect: {
                const auto next = Redirected(url, a.Location);
                if (next && url.Secure && !next->Secure) {
                    RequestFail(ErrorInsecureRedirect); // never from https down to http
                    return nullptr;
                }
                if (!next || hops++ >= Settings.MaxRedirects) {
                    RequestFail(ErrorRedirects);
                    return nullptr;
                }
                url = *next;
                c.reset();
                continue;
            }
            case TVerdict::AskWhole:
                // Dropping the refused answer costs at most one chunk.
                q.Ask = TAsk::Whole;
                q.End = -1;
                c.reset();
                continue;
            case TVerdict::Transient:
                c.reset();
                CallOffEarly();
                if (!Backoff(failures, a.RetryAfter)) return nullptr;
                break;
            case TVerdict::Restart:
            case TVerdict::Permanent:
                RequestFail(a.Error ? a.Error : ErrorHttpStatus);
                return nullptr;
            }
            break;
        }
    }
}

TTransfer::TEnd TTransfer::RunPass() {
    std::unique_ptr<TAnswered> first;
    bool resuming;
    {
        TLocked l(Lock);
        if (Cancelled) return TEnd::Aborted;
        ResetEvent(Abort);
        ResetEvent(Go);
        PassEnded = false;
        PassEnd = TEnd::Complete;
        PassError = ErrorNone;
        Active = 1;
        Waiting = 0;
        Parts = 0;
        first = std::move(Handover);
        resuming = !first && Resuming && Resumable();
    }
    // The other connections connect while the first request is on its way, so that they are
    // ready to ask the moment its answer shows that ranges work.
    std::vector<HANDLE> threads;
    const auto spawn = [&](int from, int to, bool early) {
        int started = 0;
        for (int id = from; id < to; ++id) {
            const HANDLE t = StartThread(WorkerMain, new TWorkerStart{this, id, early});
            if (!t) continue;
            threads.push_back(t);
            ++started;
        }
        return started;
    };
    bool early = !first && !resuming && ManyConnections && Settings.MaxConnections > 1;
    {
        TLocked l(Lock);
        EarlyCalledOff = !early;
    }
    int ready = early ? spawn(1, static_cast<int>(Settings.MaxConnections), true) : 0;
    uint32_t firstTrip = 0;
    if (!resuming && !first) {
        const DWORD asked = GetTickCount();
        first = First();
        firstTrip = GetTickCount() - asked;
    }
    {
        TLocked l(Lock);
        if (early && EarlyCalledOff) {
            early = false; // they have gone: the others start as they would without them
            ready = 0;
        }
    }

    int parts = 1;
    int firstClaim = -1;
    int64_t need = 0;
    bool go = false;
    if (first) {
        const THeaders& head = first->Connection->Head();
        const bool whole = ClassifyStatus(head.Status) == TStatusClass::Whole;
        int64_t total = -1;
        int64_t firstEnd = -1;
        if (whole) {
            const TBodyFraming& f = first->Connection->Framing();
            total = f.Kind == TFraming::Length ? f.Length : -1;
            firstEnd = total;
        } else {
            total = ParseContentRange(head.Get("content-range").value_or(""))->Total;
            firstEnd = first->Answer.BodyEnd;
        }
        TLocked l(Lock);
        Segments.Reset(total);
        Validator = RangeValidator(head);
        Digest = AdvertisedDigest(head, whole);
        Answered = true;
        Resuming = false;
        // A whole-file answer stays one stream to its end: cut short, it would have to be
        // drained or dropped, and it proves nothing about ranges.
        if (ManyConnections && RangesUsable && !whole && !Validator.empty() &&
            total >= 2 * Settings.SegmentBytes)
            parts = static_cast<int>(
                std::min<int64_t>(Settings.MaxConnections, total / Settings.SegmentBytes));
        firstClaim = Segments.Claim(0, firstEnd >= 0 ? firstEnd : 1, 0);
        if (firstClaim >= 0) Segments.StartReading(firstClaim);
        need = total;
        go = true;
    } else if (resuming) {
        TLocked l(Lock);
        Answered = true;
        const int64_t free = Segments.Free();
        if (ManyConnections && RangesUsable)
            parts = static_cast<int>(
                std::clamp<int64_t>(free / Settings.SegmentBytes, 1, Settings.MaxConnections));
        need = free;
        go = true;
    }
    if (go && need > 0) {
        const int64_t free = FreeBytes(Folder);
        if (free >= 0 && free < need) {
            first.reset();
            RequestFail(ErrorDiskFull);
            go = false;
        }
    }

    if (go && !early) ready = spawn(1, parts, false);
    {
        TLocked l(Lock);
        // The early ones beyond what the file wants end unused; the ones that did not start
        // leave their share to the others.
        Parts = go ? parts : 0;
        Active = go ? 1 + std::min(ready, parts - 1) : 1;
        // The ranges the early connections asked for are theirs, as far as the file goes.
        EarlyClaims.assign(static_cast<size_t>(std::max(parts, 1)), -1);
        if (go && early && Segments.Bounded())
            for (int id = 1; id < parts; ++id) {
                const int64_t from = id * Settings.SegmentBytes;
                const int64_t end = std::min((id + 1) * Settings.SegmentBytes, Segments.Size());
                if (from < end)
                    EarlyClaims[static_cast<size_t>(id)] = Segments.ClaimRange(id, from, end);
            }
    }
    SetEvent(Go);
    if (go) {
        TWorker w(0, Settings);
        if (first) {
            // The first answer came two round trips after the start: one to connect.
            if (firstTrip) {
                w.Pace.Answered(firstTrip / 2);
                TLocked l(Lock);
                RoundTrip = firstTrip / 2;
            }
            w.Connection = std::move(first->Connection);
            w.Current = TAsked{firstClaim, first->Question, 0, false};
            w.Reading = firstClaim >= 0; // an empty file is complete without reading
        }
        Work(w);
    }
    if (!threads.empty())
        WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE t : threads)
        CloseHandle(t);

    TLocked l(Lock);
    Active = 0;
    if (Cancelled) return TEnd::Aborted;
    if (PassEnded && PassEnd == TEnd::Fail) return TEnd::Fail;
    if (PassEnded && PassEnd == TEnd::Restart) return TEnd::Restart;
    if (Segments.Complete()) return TEnd::Complete;
    PassError = ErrorNetwork;
    return TEnd::Fail;
}

unsigned __stdcall TTransfer::WorkerMain(void* start) {
    const TWorkerStart s = *static_cast<TWorkerStart*>(start);
    delete static_cast<TWorkerStart*>(start);
    s.Transfer->Connection(s.Id, s.Early);
    InterlockedDecrement(&LiveThreads);
    return 0;
}

void TTransfer::Connection(int id, bool early) {
    TWorker w(id, Settings);
    if (early) {
        // Connect, and ask at once for the share this connection would have if the file is
        // large: its answer waits on the wire until the first one shows whether it is.
        TUrl url;
        {
            TLocked l(Lock);
            url = Location;
        }
        TAsked asked;
        asked.Early = true;
        asked.Question.Ask = TAsk::Part;
        asked.Question.From = id * Settings.SegmentBytes;
        asked.Question.End = (id + 1) * Settings.SegmentBytes;
        if (Ask(w.Connection, url, asked.Question, Abort).Kind == TNet::Ok) {
            asked.SentAt = GetTickCount();
            w.Asked.push_back(asked);
            if (Tracing())
                Trace("c%d ask %lld-%lld early", id, static_cast<long long>(asked.Question.From),
                      static_cast<long long>(asked.Question.End));
        } else {
            w.Connection.reset();
        }
        const HANDLE events[2] = {Go, Abort};
        WaitForMultipleObjects(2, events, FALSE, INFINITE);
        TLocked l(Lock);
        // Not needed after all, or called off while the first request met a refusal.
        if (Cancelled || PassEnded || EarlyCalledOff || id >= Parts) return;
        const int claim = EarlyClaims[static_cast<size_t>(id)];
        if (claim < 0 || w.Asked.empty()) {
            w.Asked.clear(); // its answer is of no use: the next request goes on a new one
            w.Connection.reset();
        } else {
            // Now known: the share's end in the file, and what names the file.
            TAsked& a = w.Asked.front();
            a.Claim = claim;
            a.Question.End = Segments.At(claim).End;
            a.Question.Validator = Validator;
            a.Question.Total = Segments.Size();
            a.Question.Named = true;
            a.Question.MustName = true;
        }
    }
    Work(w);
}

void TTransfer::Work(TWorker& w) {
    TStep step;
    do
        step = Step(w);
    while (step == TStep::Go);
    if (Tracing())
        Trace("c%d ends after %llu reads of %llu bytes on average", w.Id,
              static_cast<unsigned long long>(w.Reads),
              static_cast<unsigned long long>(w.Reads ? w.ReadBytes / w.Reads : 0));
    DropConnection(w);
    TLocked l(Lock);
    if (!w.Retired) --Active;
}

void TTransfer::DropConnection(TWorker& w) {
    {
        TLocked l(Lock);
        if (w.Reading && w.Current.Claim >= 0) Segments.Release(w.Current.Claim);
        for (const TAsked& a : w.Asked)
            if (Segments.Holds(a.Claim, w.Id)) Segments.Release(a.Claim);
    }
    w.Reading = false;
    w.Asked.clear();
    w.Connection.reset();
}

TTransfer::TStep TTransfer::Step(TWorker& w) {
    if (Stopping()) return TStep::Stop;
    if (w.Reading) return ReadBody(w);
    TStep step = TStep::Go;
    if (w.Asked.empty() && !SendNext(w, false, step)) return step;
    return ReadAnswer(w);
}

bool TTransfer::SendNext(TWorker& w, bool ahead, TStep& step) {
    step = TStep::Stop;
    TQuestion q;
    TUrl url;
    int claim;
    bool resumable;
    {
        TLocked l(Lock);
        if (Cancelled || PassEnded) return false;
        resumable = Resumable();
        // A connection that is never idle cannot time a round trip: another's serves.
        if (!w.Pace.RoundTrip() && RoundTrip) w.Pace.Answered(RoundTrip);
        const int64_t size = w.Pace.RequestSize(Segments.Free(), std::max(Active, 1));
        // Only free bytes are taken ahead; cutting another's claim is for an idle connection.
        claim = Segments.Claim(w.Id, size, ahead ? 0 : w.Pace.MinSplit());
        if (claim < 0) return false;
        if (resumable) {
            const auto& s = Segments.At(claim);
            q.Ask = TAsk::Part;
            q.From = s.Pos;
            q.End = s.End;
            q.Validator = Validator;
            q.Total = Segments.Size();
            q.Named = true;
            q.MustName = !Confirmed;
            url = Location;
        } else {
            Segments.Release(claim);
        }
    }
    if (!resumable) {
        // Picking up in the middle needs proof that it is still the same file.
        RequestRestart(nullptr, false);
        return false;
    }
    const bool alone = !w.Connection || w.Connection->Unanswered() == 0;
    const TNetResult r = Ask(w.Connection, url, q, Abort);
    if (r.Kind != TNet::Ok) {
        {
            TLocked l(Lock);
            Segments.Release(claim);
        }
        // Sent ahead, the failure shows when the current answer is read.
        if (!ahead) step = Failed(w, r, true, std::nullopt);
        return false;
    }
    w.Asked.push_back({claim, q, GetTickCount(), alone});
    if (Tracing())
        Trace("c%d ask %lld-%lld%s queue=%u rate=%lld rtt=%u", w.Id, static_cast<long long>(q.From),
              static_cast<long long>(q.End), ahead ? " ahead" : "",
              static_cast<unsigned>(w.Asked.size()), static_cast<long long>(w.Pace.Rate()),
              w.Pace.RoundTrip());
    return true;
}

TTransfer::TStep TTransfer::ReadAnswer(TWorker& w) {
    bool taken;
    {
        // From here on this claim is read here, and never changes hands.
        TLocked l(Lock);
        taken = !Segments.Holds(w.Asked.front().Claim, w.Id);
        if (!taken) Segments.StartReading(w.Asked.front().Claim);
    }
    if (taken) {
        // An idle connection took this request's claim over (and every later one's): the
        // answers still to come are not ours, and nothing else is on this connection.
        if (Tracing()) Trace("c%d gave its last requests away", w.Id);
        DropConnection(w);
        return TStep::Go;
    }
    const TNetResult r = w.Connection->ReadHead(Abort, Settings.StallMs);
    // No answer at all (reset, closed or silent) is how some servers turn away a connection
    // too many.
    if (r.Kind != TNet::Ok) return Failed(w, r, true, std::nullopt);
    const TAsked asked = w.Asked.front();
    const THeaders& head = w.Connection->Head();
    TAnswer a = JudgeAnswer(head, asked.Question, NowEpoch());
    if (asked.Early && a.Verdict != TVerdict::Ok && a.Verdict != TVerdict::Transient) {
        // Asked before anything was known: an answer that is not exactly the share of this
        // very file proves nothing, and costs nothing but this connection.
        if (Tracing()) Trace("c%d early answer %d not used", w.Id, head.Status);
        DropConnection(w);
        return TStep::Go;
    }
    {
        TLocked l(Lock);
        HttpStatus = static_cast<uint32_t>(head.Status);
    }
    switch (a.Verdict) {
    case TVerdict::Ok: {
        const TBodyFraming& f = w.Connection->Framing();
        if (f.Kind == TFraming::Length && a.BodyEnd >= 0 &&
            f.Length != a.BodyEnd - asked.Question.From)
            return Failed(w, {TNet::Failed, NetBadResponse, 0}, false, std::nullopt);
        if (asked.Alone) {
            w.Pace.Answered(GetTickCount() - asked.SentAt);
            TLocked l(Lock);
            if (!RoundTrip || w.Pace.RoundTrip() < RoundTrip) RoundTrip = w.Pace.RoundTrip();
        }
        w.Pace.BodyBegins(GetTickCount());
        if (Tracing())
            Trace("c%d head %lld after %lu ms%s", w.Id, static_cast<long long>(asked.Question.From),
                  GetTickCount() - asked.SentAt, asked.Alone ? " alone" : "");
        {
            TLocked l(Lock);
            Confirmed = true;
        }
        w.Asked.pop_front();
        w.Current = asked;
        w.Reading = true;
        w.Resends = 0;
        return TStep::Go;
    }
    case TVerdict::Redirect: {
        TUrl from;
        {
            TLocked l(Lock);
            from = Location;
        }
        const auto next = Redirected(from, a.Location);
        if (next && from.Secure && !next->Secure) {
            RequestFail(ErrorInsecureRedirect);
            return TStep::Stop;
        }
        if (!next || ++w.Hops > Settings.MaxRedirects) {
            RequestFail(ErrorRedirects);
            return TStep::Stop;
        }
        {
            TLocked l(Lock);
            Location = *next;
        }
        DropConnection(w); // the ranges are asked again where the file is now
        return TStep::Go;
    }
    case TVerdict::Restart: {
        // A whole file in answer is the new start: the next pass reads it from its first byte.
        // Any other (a range not asked for, "not satisfiable") starts with a new request.
        std::unique_ptr<TAnswered> handover;
        if (ClassifyStatus(head.Status) == TStatusClass::Whole) {
            handover = std::make_unique<TAnswered>();
            handover->Connection = std::move(w.Connection);
            handover->Question = asked.Question;
            handover->Answer = a;
        }
        w.Asked.pop_front();
        {
            TLocked l(Lock);
            Segments.Release(asked.Claim);
        }
        DropConnection(w);
        RequestRestart(std::move(handover), a.RangesBroken);
        return TStep::Stop;
    }
    case TVerdict::Transient:
        return Failed(w, {TNet::Failed, 0, 0}, a.Refusal, a.RetryAfter);
    case TVerdict::AskWhole:
    case TVerdict::Permanent:
        RequestFail(a.Error ? a.Error : ErrorHttpStatus);
        return TStep::Stop;
    }
    return TStep::Stop;
}

TTransfer::TStep TTransfer::ReadBody(TWorker& w) {
    const int claim = w.Current.Claim;
    // The next requests go while this answer still has enough to come to cover their trip.
    if (w.Connection->CanPipeline() && w.Asked.size() < MaxAhead && w.Resends == 0) {
        int64_t left = w.Connection->BodyRemaining();
        if (left >= 0) {
            for (const TAsked& a : w.Asked)
                left += a.Question.End - a.Question.From;
            TStep ignored;
            if (w.Pace.SendAhead(left)) SendNext(w, true, ignored);
        }
    }
    const uint8_t* data = nullptr;
    const TNetResult r = w.Connection->ReadBody(data, ReadBytes, Abort, Settings.StallMs);
    if (r.Kind == TNet::Ok) {
        ++w.Reads;
        w.ReadBytes += r.Bytes;
        int64_t pos, take;
        {
            TLocked l(Lock);
            if (Cancelled || PassEnded) return TStep::Stop;
            pos = Segments.At(claim).Pos;
            take = Segments.Reserve(claim, r.Bytes);
        }
        if (take > 0) {
            const DWORD error = Part.WriteAt(pos, data, static_cast<uint32_t>(take));
            {
                TLocked l(Lock);
                if (error) {
                    Segments.Cancel(claim);
                } else {
                    Segments.Commit(claim, take);
                    LastProgress = GetTickCount();
                }
            }
            if (error) {
                RequestFail(IsDiskFull(error) ? ErrorDiskFull : ErrorFile);
                return TStep::Stop;
            }
            w.Failures = 0;
        }
        w.Pace.Arrived(GetTickCount(), r.Bytes);
        bool complete;
        {
            TLocked l(Lock);
            complete = Segments.SegmentComplete(claim);
            if (complete) Segments.Release(claim);
        }
        if (!complete) return TStep::Go;
        w.Reading = false;
        // The claim is complete, perhaps cut short by another connection: the rest of this
        // answer is not ours. A little is read and dropped; more costs the connection.
        const int64_t surplus = w.Connection->BodyRemaining();
        if (Tracing() && surplus)
            Trace("c%d cut, %lld left unread", w.Id, static_cast<long long>(surplus));
        if (surplus < 0 || surplus > DrainLimit) {
            DropConnection(w);
            return TStep::Go;
        }
        while (w.Connection->BodyRemaining() > 0) {
            const TNetResult d = w.Connection->ReadBody(data, ReadBytes, Abort, Settings.StallMs);
            if (d.Kind != TNet::Ok) {
                DropConnection(w);
                return d.Kind == TNet::Aborted ? TStep::Stop : TStep::Go;
            }
        }
        return TStep::Go;
    }
    if (r.Kind == TNet::Eof) {
        bool complete;
        {
            TLocked l(Lock);
            // A stream of unknown length ends where it ends.
            if (Segments.At(claim).End < 0) {
                Segments.CloseOpenEnd(claim);
                EndUnproven = w.Connection->EndUnproven();
            }
            complete = Segments.SegmentComplete(claim);
            if (complete) Segments.Release(claim);
        }
        if (!complete) // framed as complete, yet short of what it said it held
            return Failed(w, {TNet::Failed, NetBadResponse, 0}, false, std::nullopt);
        w.Reading = false;
        // Answers to requests of an earlier pass may still be on their way: not ours to read.
        if (w.Asked.empty() && w.Connection->Unanswered() > 0) DropConnection(w);
        return TStep::Go;
    }
    return Failed(w, r, false, std::nullopt);
}

TTransfer::TStep TTransfer::Failed(TWorker& w, const TNetResult& r, bool refusal,
                                   std::optional<int64_t> retryAfter) {
    if (Tracing()) Trace("c%d failed kind=%d error=%u", w.Id, static_cast<int>(r.Kind), r.Error);
    const bool served = w.Connection && w.Connection->HasAnswered();
    const uint32_t detail = DetailOf(r, w.Connection.get());
    DropConnection(w);
    if (r.Kind == TNet::Aborted) return TStep::Stop;
    bool alone;
    {
        TLocked l(Lock);
        alone = Active <= 1;
    }
    if (r.Kind == TNet::Failed && r.Error == NetNotAnswered && served && alone &&
        w.Resends < FreeResends) {
        // The one connection left was closed with requests unanswered, after answering
        // others (the server keeps connections for so many requests only): ask again on a new
        // one, one request at a time until one is answered. With others beside it, the same
        // close is more likely the server turning away one connection too many.
        ++w.Resends;
        return TStep::Go;
    }
    if (r.Kind == TNet::Failed && !IsTransientNetError(r.Error)) {
        RequestFail(EngineErrorOf(r.Error), detail);
        return TStep::Stop;
    }
    if (refusal) {
        TLocked l(Lock);
        if (Active > 1) {
            // One connection too many for this server: leave the work to the others.
            --Active;
            w.Retired = true;
            return TStep::Retired;
        }
    }
    return Backoff(w.Failures, retryAfter) ? TStep::Go : TStep::Stop;
}

} // namespace xldl
