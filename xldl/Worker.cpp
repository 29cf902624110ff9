#include "xldl/Worker.h"

#include "engine/XLDownload.h"
#include "xldl/Trace.h"
#include "xldl/core/Retry.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace xldl {

namespace {

// The most taken from the connection in one go.
constexpr uint32_t ReadChunk = 1 << 20;
// Requests a connection may have on the wire beyond the answer it is reading.
constexpr size_t MaxAhead = 8;

int64_t NowEpoch() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<int64_t>((uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime) /
                                10000000) -
           11644473600;
}

uint32_t EngineErrorOf(uint32_t netError) {
    if (netError == NetProxyAuth) return ErrorProxyAuth;
    if (netError == NetProxyUnreachable) return ErrorProxyUnreachable;
    return netError == NetTlsUntrusted || netError == NetTlsFailed ? ErrorTls : ErrorNetwork;
}

// What the system said behind a failure: a certificate's chain or policy status, else the
// connection's own error.
uint32_t DetailOf(const TNetResult& r, const THttpConnection* connection) {
    if (connection && connection->CertificateStatus()) return connection->CertificateStatus();
    return r.Error;
}

std::string HeaderLines(const TQuestion& q) {
    std::string h = "Accept: */*\r\n";
    if (q.Ask == TAsk::Last)
        h += "Range: bytes=-" + std::to_string(q.End) + "\r\n";
    else if (q.Ask != TAsk::Whole)
        h += "Range: bytes=" + std::to_string(q.From) + "-" +
             (q.End >= 0 ? std::to_string(q.End - 1) : std::string()) + "\r\n";
    if (q.Ask == TAsk::Part && !q.Validator.empty()) h += "If-Range: " + q.Validator + "\r\n";
    if (q.Ask == TAsk::First || q.Ask == TAsk::Whole) h += "Want-Repr-Digest: sha-256=10\r\n";
    return h;
}

// Where a redirect from `from` leads: 0 and `next`, or the error that ends the task (never
// from https down to http; no more than `maxHops`).
uint32_t FollowRedirect(const TUrl& from, const std::string& location, unsigned& hops,
                        unsigned maxHops, TUrl& next) {
    const auto to = ParseUrl(ResolveReference(FormatUrl(from), location));
    if (to && from.Secure && !to->Secure) return ErrorInsecureRedirect;
    if (!to || hops++ >= maxHops) return ErrorRedirects;
    next = *to;
    return 0;
}

} // namespace

TWorker::TWorker(int id, int source, const TWorkerContext& context)
    : Id(id), Source(source), Dispatch(context.Dispatch), Settings(context.Settings),
      Proxies(context.Proxies), Families(context.Families), Part(context.Part),
      Folder(context.Folder), Program(context.Program), Hash(context.Hash),
      Abort(context.Dispatch.AbortEvent()),
      Pace(std::min<int64_t>(256 * 1024, context.Settings.SegmentBytes),
           context.Settings.SegmentBytes) {}

TNetResult TWorker::Ask(std::unique_ptr<THttpConnection>& connection, const TUrl& url,
                        const TQuestion& q) {
    if (!connection || !connection->Serves(url) || !connection->CanPipeline())
        connection = std::make_unique<THttpConnection>(
            url, Proxies, TConnectOptions{Settings.AttemptDelayMs, &Families, Id});
    return connection->Request(url, HeaderLines(q), Abort, Settings.StallMs);
}

bool TWorker::Backoff(unsigned& failures, std::optional<int64_t> retryAfter) {
    const TDecision d = Dispatch.Failed(Id, {false, false, retryAfter}, failures);
    if (d.Recovery == TRecovery::GiveUp) {
        Dispatch.Fail(ErrorNetwork);
        return false;
    }
    ++failures;
    return Dispatch.Pause(d.DelayMs, Id);
}

TWorker::TStep TWorker::Dead(uint32_t error, uint32_t detail) {
    if (Tracing()) Trace("c%d source %d dead, error %u", Id, Source, error);
    DropConnection();
    if (Dispatch.Dead(Id, error, detail) != TReaction::Drop) return TStep::Stop;
    // Over https tried first on our own: the plain http the task was given is asked instead.
    if (Tracing()) Trace("c%d source %d over plain http from now on", Id, Source);
    return TStep::Go;
}

TWorker::TStep TWorker::After(TReaction reaction) {
    switch (Dispatch.React(reaction)) {
    case TReaction::Use:
    case TReaction::Drop:
        return TStep::Go;
    case TReaction::Quit:
        if (Tracing()) Trace("c%d source %d not used for this file", Id, Source);
        DropConnection();
        Dispatch.Locked([&](TPlanner& p) { p.Left(Id, GetTickCount64()); });
        Retired = true;
        return TStep::Retired;
    case TReaction::Restart:
    case TReaction::Fail:
        DropConnection();
        return TStep::Stop;
    }
    return TStep::Stop;
}

void TWorker::Open() {
    unsigned failures = 0;
    for (;;) {
        TQuestion q;
        TUrl url;
        bool known = false;
        Dispatch.Locked([&](TPlanner& p) {
            known = p.FileKnown();
            q = p.FirstQuestion(Source);
            url = p.Location(Source);
        });
        // Another source's first answer came meanwhile: this one asks as any connection.
        if (known) {
            Run();
            return;
        }
        std::unique_ptr<THttpConnection> c;
        for (unsigned hops = 0;;) {
            TNetResult r = Ask(c, url, q);
            const uint64_t asked = GetTickCount64();
            if (r.Kind == TNet::Ok) r = c->ReadHead(Abort, Settings.StallMs);
            if (r.Kind == TNet::Aborted) return;
            if (r.Kind != TNet::Ok) {
                if (r.Kind == TNet::Failed && !IsTransientNetError(r.Error)) {
                    if (Dead(EngineErrorOf(r.Error), DetailOf(r, c.get())) != TStep::Go) return;
                    break;
                }
                // A server that turns connections away may be counting the early ones.
                Dispatch.CallOffEarly();
                if (!Backoff(failures, std::nullopt)) return;
                break;
            }
            const TAnswer a = JudgeAnswer(c->Head(), q, NowEpoch(), Program);
            Dispatch.Status(static_cast<uint32_t>(c->Head().Status), Source);
            switch (a.Verdict) {
            case TVerdict::Ok: {
                // The first answer's time is the first sign of how far the source is, before
                // more connections are wanted (a connect alone can look near: a proxy or a
                // relay near us accepts at once, however far the server behind it).
                Pace.Answered(static_cast<uint32_t>(GetTickCount64() - asked));
                if (Tracing())
                    Trace("c%d head 0 first answer of source %d, status %d", Id, Source,
                          c->Head().Status);
                Dispatch.Locked([&](TPlanner& p) { p.MovedTo(Source, url); });
                auto answered = std::make_unique<TAnswered>();
                answered->Connection = std::move(c);
                answered->Question = q;
                answered->Answer = a;
                answered->Source = Source;
                Opening(std::move(answered));
                return;
            }
            case TVerdict::Redirect: {
                TUrl next;
                if (const uint32_t error =
                        FollowRedirect(url, a.Location, hops, Settings.MaxRedirects, next)) {
                    if (Dead(error) != TStep::Go) return;
                    break;
                }
                url = next;
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
                Dispatch.CallOffEarly();
                if (!Backoff(failures, a.RetryAfter)) return;
                break;
            case TVerdict::Restart:
            case TVerdict::Permanent:
                if (Dead(a.Error ? a.Error : ErrorHttpStatus) != TStep::Go) return;
                break;
            }
            break;
        }
    }
}

void TWorker::Opening(std::unique_ptr<TAnswered> answered) {
    const THeaders& head = answered->Connection->Head();
    const bool whole = ClassifyStatus(head.Status) == TStatusClass::Whole;
    int64_t length = -1;
    if (whole) {
        const TBodyFraming& f = answered->Connection->Framing();
        length = f.Kind == TFraming::Length ? f.Length : -1;
    }
    const TSourceFacts facts = AnswerFacts(head, whole, length);
    const int64_t bodyEnd = whole ? length : answered->Answer.BodyEnd;
    const uint64_t now = GetTickCount64();
    const TPlanner::TOpened o =
        Dispatch.Locked([&](TPlanner& p) { return p.Opened(Id, facts, bodyEnd, whole, now); });
    Connection = std::move(answered->Connection);
    if (o.Reaction != TReaction::Use) {
        // Another source's first answer came first: this one's body is what that one reads.
        if (Tracing()) Trace("c%d first answer not used (%d)", Id, static_cast<int>(o.Reaction));
        Connection.reset();
        if (After(o.Reaction) == TStep::Go) Run();
        return;
    }
    Dispatch.Answered(static_cast<uint32_t>(head.Status));
    if (facts.Total > 0) {
        const int64_t free = FreeBytes(Folder);
        if (free >= 0 && free < facts.Total) {
            Connection.reset();
            Dispatch.Fail(ErrorDiskFull);
            return;
        }
    }
    Dispatch.Go();
    Dispatch.Locked([&](TPlanner& p) {
        p.Measured(Id, Pace, now);
        Current = {};
        Current.Plan.Claim = o.Claim;
        Current.Plan.Question = answered->Question;
        // A first answer's body begins at the file's first byte, whatever was asked: the first
        // bytes, or a range that the whole file answered.
        Current.Plan.Question.From = 0;
        Current.Plan.Url = p.Location(Source);
        Current.Plan.WriteFrom = 0;
        Current.Plan.WriteEnd = o.Claim >= 0 ? p.Table().At(o.Claim).End : 0;
    });
    if (o.Claim >= 0) { // an empty file is complete without reading
        Begin(Current, answered->Answer.BodyEnd);
        AnswerBegan = now;
        Pace.BodyBegins(now, AnswerBegan);
    } else {
        Dispatch.Completed();
    }
    Run();
}

void TWorker::Adopt(std::unique_ptr<TAnswered> answered) {
    Opening(std::move(answered));
}

void TWorker::Begin(const TAsked& asked, int64_t streamEnd) {
    Current = asked;
    Reading = true;
    Holding = asked.Plan.Claim >= 0;
    Cut = false;
    At = asked.Plan.Question.From;
    StreamEnd = streamEnd;
    // A page that did not say it was one (its type): its first bytes do.
    Checking = Program && Holding && At == 0;
    PageCheck = {};
}

TWorker::TStep TWorker::Checked(const uint8_t* data, uint32_t size, bool ended) {
    if (!Checking) return Take(data, size);
    const size_t before = PageCheck.Held().size();
    const TPageCheck::TVerdict verdict = ended ? PageCheck.End() : PageCheck.Add(data, size);
    if (verdict == TPageCheck::TVerdict::Page) return Dead(ErrorSignInPage);
    if (verdict == TPageCheck::TVerdict::Undecided) return TStep::Go;
    Checking = false;
    const std::vector<uint8_t> held = PageCheck.Held();
    const auto taken = static_cast<uint32_t>(held.size() - before);
    const TStep step = Take(held.data(), static_cast<uint32_t>(held.size()));
    return step == TStep::Go ? Take(data + taken, size - taken) : step;
}

void TWorker::Run() {
    TStep step;
    do
        step = Step();
    while (step == TStep::Go);
    if (Tracing())
        Trace("c%d ends after %llu reads of %llu bytes on average", Id,
              static_cast<unsigned long long>(Reads),
              static_cast<unsigned long long>(Reads ? ReadBytes / Reads : 0));
    DropConnection();
    if (!Retired) Dispatch.Locked([&](TPlanner& p) { p.Left(Id, GetTickCount64()); });
}

void TWorker::DropConnection() {
    Dispatch.Locked([&](TPlanner& p) {
        if (Reading && Holding) p.Table().Release(Current.Plan.Claim);
        for (const TAsked& a : Asked)
            if (p.Table().Holds(a.Plan.Claim, Id)) p.Table().Release(a.Plan.Claim);
        if (Connection) p.Disconnected(Id);
    });
    Reading = false;
    Holding = false;
    Asked.clear();
    Connection.reset();
}

TWorker::TStep TWorker::Step() {
    if (Dispatch.Stopping()) return TStep::Stop;
    if (Reading) return ReadBody();
    TStep step = TStep::Go;
    if (Asked.empty() && !SendNext(false, step)) return step;
    return ReadAnswer();
}

bool TWorker::SendNext(bool ahead, TStep& step) {
    step = TStep::Stop;
    if (Dispatch.Stopping()) return false;
    TPlan plan;
    const uint64_t now = GetTickCount64();
    const TPlanner::TNext next =
        Dispatch.Locked([&](TPlanner& p) { return p.Next(Id, Pace, ahead, plan, now); });
    switch (next) {
    case TPlanner::TNext::Ask:
        break;
    case TPlanner::TNext::Restart:
        // Picking up in the middle needs ranges that can be put together.
        Dispatch.Restart(nullptr);
        return false;
    case TPlanner::TNext::Nothing:
        return false;
    case TPlanner::TNext::Quit:
        if (!ahead) step = After(TReaction::Quit);
        return false;
    case TPlanner::TNext::Wait:
        // Nothing to ask yet (what this source sends is still being judged): a moment later.
        if (!ahead) step = Dispatch.Pause(30) ? TStep::Go : TStep::Stop;
        return false;
    }
    const bool alone = !Connection || Connection->Unanswered() == 0;
    const TNetResult r = Ask(Connection, plan.Url, plan.Question);
    if (r.Kind != TNet::Ok) {
        Dispatch.Locked([&](TPlanner& p) {
            if (plan.Claim >= 0) p.Table().Release(plan.Claim);
        });
        // Sent ahead, the failure shows when the current answer is read.
        if (!ahead) step = Failed(r, true, std::nullopt, false);
        return false;
    }
    TAsked asked;
    asked.Plan = plan;
    asked.SentAt = GetTickCount64();
    asked.Alone = alone;
    Asked.push_back(asked);
    if (Tracing())
        Trace("c%d ask %lld-%lld (share %lld-%lld)%s%s%s queue=%u rate=%lld rtt=%u fb=%lld", Id,
              static_cast<long long>(plan.Question.From), static_cast<long long>(plan.Question.End),
              static_cast<long long>(plan.WriteFrom), static_cast<long long>(plan.WriteEnd),
              ahead ? " ahead" : "", plan.Judging ? " judging" : "", plan.Sample ? " sample" : "",
              static_cast<unsigned>(Asked.size()), static_cast<long long>(Pace.Rate()),
              Pace.RoundTrip(), static_cast<long long>(Pace.FirstByte()));
    return true;
}

TWorker::TStep TWorker::ReadAnswer() {
    // From here on this claim is read here, and never changes hands.
    const bool taken = Dispatch.Locked([&](TPlanner& p) {
        const int claim = Asked.front().Plan.Claim;
        if (claim < 0) return false; // a sample: nothing to hold
        if (!p.Table().Holds(claim, Id)) return true;
        p.Table().StartReading(claim);
        return false;
    });
    if (taken) {
        // An idle connection took this request's claim over (and every later one's): the
        // answers still to come are not ours, and nothing else is on this connection.
        if (Tracing()) Trace("c%d gave its last requests away", Id);
        DropConnection();
        return TStep::Go;
    }
    const TNetResult r = Connection->ReadHead(Abort, Settings.StallMs);
    // No answer at all (reset, closed or silent) is how some servers turn away a connection
    // too many; one that answered others before has only reached the server's limit.
    if (r.Kind != TNet::Ok) return Failed(r, true, std::nullopt, true);
    const TAsked asked = Asked.front();
    const TQuestion& q = asked.Plan.Question;
    const THeaders& head = Connection->Head();
    const TAnswer a = JudgeAnswer(head, q, NowEpoch(), Program);
    if (asked.Early && !asked.Plan.Judging && a.Verdict != TVerdict::Ok &&
        a.Verdict != TVerdict::Transient) {
        // Asked before anything was known: an answer that is not exactly the share of this
        // very file proves nothing, and costs nothing but this connection.
        if (Tracing()) Trace("c%d early answer %d not used", Id, head.Status);
        DropConnection();
        return TStep::Go;
    }
    Dispatch.Status(static_cast<uint32_t>(head.Status), Source);
    if (asked.Plan.Judging && (a.Verdict == TVerdict::Ok || a.Verdict == TVerdict::Restart)) {
        // What the source serves, before a byte of it is taken: the same file or not.
        const bool whole = ClassifyStatus(head.Status) == TStatusClass::Whole;
        const TBodyFraming& f = Connection->Framing();
        const TSourceFacts facts =
            AnswerFacts(head, whole, f.Kind == TFraming::Length ? f.Length : -1);
        const TReaction verdict =
            Dispatch.Locked([&](TPlanner& p) { return p.Judged(Id, a, whole, facts); });
        if (Tracing())
            Trace("c%d source %d judged: %d (length %lld, date %s)", Id, Source,
                  static_cast<int>(verdict), static_cast<long long>(facts.Total),
                  facts.LastModified.c_str());
        if (verdict != TReaction::Use) {
            Asked.pop_front();
            Dispatch.Locked([&](TPlanner& p) {
                if (p.Table().Holds(asked.Plan.Claim, Id)) p.Table().Release(asked.Plan.Claim);
            });
            DropConnection();
            return After(verdict);
        }
    }
    switch (a.Verdict) {
    case TVerdict::Ok: {
        const TBodyFraming& f = Connection->Framing();
        if (f.Kind == TFraming::Length && a.BodyEnd >= 0 && f.Length != a.BodyEnd - q.From)
            return Failed({TNet::Failed, NetBadResponse, 0}, false, std::nullopt, true);
        const uint64_t now = GetTickCount64();
        if (asked.TripMs) {
            Pace.Answered(asked.TripMs);
        } else if (asked.Alone) {
            Pace.Answered(static_cast<uint32_t>(now - asked.SentAt));
        } else if (LastBodyEnd && asked.SentAt + Pace.RoundTrip() <= LastBodyEnd) {
            // Its request waited at the server while the answer before it came: from that
            // answer's end to this head is the server's own time.
            Pace.Followed(static_cast<uint32_t>(now - LastBodyEnd));
        }
        if (a.BodyEnd >= 0 && q.End >= 0 && a.BodyEnd < q.End) {
            if (Tracing())
                Trace("c%d answered %lld-%lld of %lld-%lld", Id, static_cast<long long>(q.From),
                      static_cast<long long>(a.BodyEnd), static_cast<long long>(q.From),
                      static_cast<long long>(q.End));
        }
        Dispatch.Locked([&](TPlanner& p) {
            p.Measured(Id, Pace, now);
            p.Confirmed(Id);
            // A server that caps its ranges: taken as it is, the rest asked for after it.
            if (a.BodyEnd >= 0 && q.End >= 0 && a.BodyEnd < q.End)
                p.AnsweredShort(Id, a.BodyEnd - q.From);
        });
        if (!Dispatch.RoomConfirmed()) return TStep::Stop;
        AnswerBegan = std::max(asked.SentAt, LastBodyEnd);
        Pace.BodyBegins(now, AnswerBegan);
        if (Tracing())
            Trace("c%d head %lld after %llu ms%s", Id, static_cast<long long>(q.From),
                  static_cast<unsigned long long>(now - asked.SentAt), asked.Alone ? " alone" : "");
        Asked.pop_front();
        Begin(asked, a.BodyEnd);
        return TStep::Go;
    }
    case TVerdict::Redirect: {
        const TUrl from = Dispatch.Locked([&](TPlanner& p) { return p.Location(Source); });
        TUrl next;
        if (const uint32_t error =
                FollowRedirect(from, a.Location, Hops, Settings.MaxRedirects, next))
            return Dead(error);
        Dispatch.Locked([&](TPlanner& p) { p.MovedTo(Source, next); });
        DropConnection(); // the ranges are asked again where the file is now
        return TStep::Go;
    }
    case TVerdict::Restart: {
        Asked.pop_front();
        Dispatch.Locked([&](TPlanner& p) {
            if (asked.Plan.Claim >= 0) p.Table().Release(asked.Plan.Claim);
        });
        const TReaction reaction =
            Dispatch.Locked([&](TPlanner& p) { return p.Disagrees(Id, a.RangesBroken); });
        if (reaction != TReaction::Restart) {
            DropConnection();
            return After(reaction);
        }
        // A whole file in answer is the new start: the next pass reads it from its first byte.
        // Any other (a range not asked for, "not satisfiable") starts with a new request.
        std::unique_ptr<TAnswered> handover;
        if (ClassifyStatus(head.Status) == TStatusClass::Whole) {
            handover = std::make_unique<TAnswered>();
            handover->Connection = std::move(Connection);
            handover->Question = q;
            handover->Answer = a;
            handover->Source = Source;
        }
        DropConnection();
        Dispatch.Restart(std::move(handover));
        return TStep::Stop;
    }
    case TVerdict::Transient:
        return Failed({TNet::Failed, 0, 0}, a.Refusal, a.RetryAfter, true);
    case TVerdict::AskWhole:
    case TVerdict::Permanent:
        return Dead(a.Error ? a.Error : ErrorHttpStatus);
    }
    return TStep::Stop;
}

bool TWorker::Compare(int64_t pos, const uint8_t* data, uint32_t size, TStep& step) {
    const auto written = Dispatch.Locked([&](TPlanner& p) { return p.Window(pos, data, size); });
    std::vector<uint8_t> disk;
    for (const TByteRange& r : written) {
        const auto n = static_cast<uint32_t>(r.End - r.Start);
        disk.resize(n);
        if (const DWORD error = Part.ReadAt(r.Start, disk.data(), n)) {
            Dispatch.Fail(ErrorFile, error);
            step = TStep::Stop;
            return false;
        }
        if (std::memcmp(disk.data(), data + (r.Start - pos), n) != 0) {
            if (Tracing())
                Trace("c%d %s at %lld differs", Id, Current.Plan.Sample ? "sample" : "window",
                      static_cast<long long>(r.Start));
            // A source whose sample differs serves another file; windows that differ mean the
            // file changed, or two sources disagree: from zero, never a mixture.
            step = After(Dispatch.Locked([&](TPlanner& p) {
                return Current.Plan.Sample ? p.Sampled(Id, false) : p.WindowsDiffer(Id);
            }));
            if (step == TStep::Go) step = TStep::Stop;
            return false;
        }
    }
    return true;
}

TWorker::TStep TWorker::Take(const uint8_t* data, uint32_t size) {
    const TPlan& plan = Current.Plan;
    uint32_t off = 0;
    TStep step = TStep::Go;
    while (off < size) {
        const uint32_t rest = size - off;
        if (At < plan.WriteFrom) { // the window before the share
            const auto n = static_cast<uint32_t>(std::min<int64_t>(rest, plan.WriteFrom - At));
            if (!Compare(At, data + off, n, step)) return step;
            At += n;
            off += n;
            continue;
        }
        if (Holding) {
            const int64_t take =
                Dispatch.Locked([&](TPlanner& p) { return p.Table().Reserve(plan.Claim, rest); });
            bool complete = false;
            if (take > 0) {
                const DWORD error = Part.WriteAt(At, data + off, static_cast<uint32_t>(take));
                bool same = true;
                bool all = false, first = false;
                uint64_t generation = 0;
                const uint64_t now = GetTickCount64();
                Dispatch.Locked([&](TPlanner& p) {
                    if (error) {
                        p.Table().Cancel(plan.Claim);
                        return;
                    }
                    same = p.Wrote(plan.Claim, At, data + off, static_cast<size_t>(take), now);
                    first = p.Table().Done() == take;
                    generation = p.Table().Generation();
                    // A long answer's rate counts while it lasts, not only from the next head:
                    // cuts and shares near the end depend on it.
                    p.Measured(Id, Pace, now);
                    complete = p.Table().SegmentComplete(plan.Claim);
                    if (complete) p.Table().Release(plan.Claim);
                    all = complete && p.Table().Complete();
                });
                if (same && !error && Hash)
                    Hash->Feed(generation, At, data + off, static_cast<size_t>(take));
                if (first && Tracing()) Trace("c%d first byte written", Id);
                if (all && same) Dispatch.Completed();
                if (error) {
                    Dispatch.Fail(IsDiskFull(error) ? ErrorDiskFull : ErrorFile);
                    return TStep::Stop;
                }
                if (!same) {
                    if (Tracing())
                        Trace("c%d bytes at %lld differ from a window", Id,
                              static_cast<long long>(At));
                    After(Dispatch.Locked([&](TPlanner& p) { return p.WindowsDiffer(Id); }));
                    return TStep::Stop;
                }
                Failures = 0;
                At += take;
                off += static_cast<uint32_t>(take);
            } else {
                // Nothing more to write: the claim is complete, perhaps cut short by another.
                complete = Dispatch.Locked([&](TPlanner& p) {
                    if (!p.Table().SegmentComplete(plan.Claim)) return false;
                    p.Table().Release(plan.Claim);
                    return true;
                });
            }
            if (complete) {
                Holding = false;
                Cut = plan.WriteEnd >= 0 && At < plan.WriteEnd;
            } else if (take == 0) {
                break; // cannot be: a claim with no room left is complete
            }
            continue;
        }
        if (!Cut && plan.WriteEnd >= 0 && At >= plan.WriteEnd &&
            (StreamEnd < 0 || At < StreamEnd)) { // the window after the share
            const int64_t until = StreamEnd >= 0 ? StreamEnd : At + rest;
            const auto n = static_cast<uint32_t>(std::min<int64_t>(rest, until - At));
            if (!Compare(At, data + off, n, step)) return step;
            At += n;
            off += n;
            continue;
        }
        At += rest; // beyond a cut share: another connection's
        off = size;
    }
    return step;
}

TWorker::TStep TWorker::ReadBody() {
    // The next requests go while this answer still has enough to come to cover their trip.
    if (Connection->CanPipeline() && Asked.size() < MaxAhead) {
        int64_t left = Connection->BodyRemaining();
        if (left >= 0) {
            for (const TAsked& a : Asked)
                left += a.Plan.Question.End - a.Plan.Question.From;
            TStep ignored;
            if (Pace.SendAhead(left)) SendNext(true, ignored);
        }
    }
    const uint8_t* data = nullptr;
    const TNetResult r = Connection->ReadBody(data, ReadChunk, Abort, Settings.StallMs);
    if (r.Kind == TNet::Ok) {
        ++Reads;
        ReadBytes += r.Bytes;
        Pace.Arrived(GetTickCount64(), r.Bytes); // first: what Take reports holds a pause
        const TStep step = Checked(data, r.Bytes);
        if (step != TStep::Go) return step;
        const bool windowLeft = !Cut && StreamEnd >= 0 && At < StreamEnd;
        if (Holding || windowLeft) return TStep::Go;
        Reading = false;
        // The claim is complete, perhaps cut short by another connection: the rest of this
        // answer is not ours. A little is read and dropped; more costs the connection.
        const int64_t surplus = Connection->BodyRemaining();
        if (Tracing() && surplus)
            Trace("c%d cut, %lld left unread", Id, static_cast<long long>(surplus));
        if (!Pace.Drains(surplus)) {
            DropConnection();
            return TStep::Go;
        }
        while (Connection->BodyRemaining() > 0) {
            const TNetResult d = Connection->ReadBody(data, ReadChunk, Abort, Settings.StallMs);
            if (d.Kind != TNet::Ok) {
                DropConnection();
                return d.Kind == TNet::Aborted ? TStep::Stop : TStep::Go;
            }
        }
        LastBodyEnd = GetTickCount64();
        Pace.AnswerEnds(LastBodyEnd, At - Current.Plan.Question.From, AnswerBegan);
        // The server's limit of requests per connection ends it here: what was asked on it
        // behind this answer goes again on a new one, at once.
        if (!Connection->CanPipeline()) DropConnection();
        return AnswerDone();
    }
    if (r.Kind == TNet::Eof) {
        if (Checking) { // too short to tell: no page
            const TStep step = Checked(nullptr, 0, true);
            if (step != TStep::Go) return step;
        }
        LastBodyEnd = GetTickCount64();
        Pace.AnswerEnds(LastBodyEnd, At - Current.Plan.Question.From, AnswerBegan);
        const int claim = Current.Plan.Claim;
        const bool whole = StreamEnd < 0 || At >= StreamEnd;
        bool complete = true;
        if (Holding) {
            complete = Dispatch.Locked([&](TPlanner& p) {
                // A stream of unknown length ends where it ends.
                if (p.Table().At(claim).End < 0) {
                    p.Table().CloseOpenEnd(claim);
                    p.EndIsUnproven(Connection->EndUnproven());
                }
                // An answer shorter than the claim (a server that caps its ranges) is taken
                // as it is: the rest of the claim is free for the next request.
                const bool done = p.Table().SegmentComplete(claim);
                if (done || (whole && StreamEnd >= 0)) p.Table().Release(claim);
                return done || (whole && StreamEnd >= 0);
            });
        } else if (!whole) {
            complete = false;
        }
        if (!complete) // framed as complete, yet short of what it said it held
            return Failed({TNet::Failed, NetBadResponse, 0}, false, std::nullopt, true);
        Holding = false;
        Reading = false;
        // A server's limit of requests per connection ends it here: what was asked on it
        // behind this answer goes again on a new one. Answers to requests of an earlier pass
        // may also still be on their way: not ours to read.
        if (!Connection->CanPipeline() || (Asked.empty() && Connection->Unanswered() > 0))
            DropConnection();
        return AnswerDone();
    }
    return Failed(r, false, std::nullopt, true);
}

TWorker::TStep TWorker::AnswerDone() {
    if (!Current.Plan.Sample) return TStep::Go;
    // Every byte of the sample matched what is on disk: the source serves the file.
    if (Tracing()) Trace("c%d sample of source %d matches", Id, Source);
    Current.Plan.Sample = false;
    return After(Dispatch.Locked([&](TPlanner& p) { return p.Sampled(Id, true); }));
}

TWorker::TStep TWorker::Failed(const TNetResult& r, bool refusal, std::optional<int64_t> retryAfter,
                               bool established) {
    if (Tracing()) Trace("c%d failed kind=%d error=%u", Id, static_cast<int>(r.Kind), r.Error);
    // Closed after answering others, before answering this: the server's limit of requests
    // per connection, not a refusal. A server that closes with our pipelined requests unread
    // resets the connection rather than ending it, which is the same limit.
    const bool cutOff = r.Error == NetNotAnswered ||
                        (refusal && (r.Error == WSAECONNRESET || r.Error == WSAECONNABORTED));
    const bool served = r.Kind == TNet::Failed && cutOff && Connection && Connection->HasAnswered();
    const int answers = Connection ? Connection->AnswerCount() : 0;
    const uint32_t detail = DetailOf(r, Connection.get());
    DropConnection();
    if (r.Kind == TNet::Aborted) return TStep::Stop;
    // A record that fails to decrypt on a connection that was up is damage on the way, like
    // a reset; a handshake or certificate that fails is the server's identity.
    const bool transient = r.Kind != TNet::Failed || IsTransientNetError(r.Error) ||
                           (established && r.Error == NetTlsFailed);
    if (!transient) return Dead(EngineErrorOf(r.Error), detail);
    TFailure f;
    f.Refusal = refusal && !served;
    f.Served = served;
    f.RetryAfter = retryAfter;
    f.Answers = answers;
    const TDecision d = Dispatch.Failed(Id, f, Failures);
    switch (d.Recovery) {
    case TRecovery::AskAgain:
        return TStep::Go;
    case TRecovery::Retire:
        Retired = true;
        return TStep::Retired;
    case TRecovery::GiveUp:
        Dispatch.Fail(ErrorNetwork);
        return TStep::Stop;
    case TRecovery::Wait:
        break;
    }
    ++Failures;
    return Dispatch.Pause(d.DelayMs, Id) ? TStep::Go : TStep::Stop;
}

} // namespace xldl
