// A connection's life before the file is known: a mirror that is not preferred waiting for the
// preferred one's first answer, and the connections kept ready. Each may have asked already;
// its answer waits on the wire until that first answer shows whether it is wanted.
#include "xldl/Worker.h"

#include "xldl/Trace.h"

#include <algorithm>

namespace xldl {

bool TWorker::SendEarly(const TUrl& url, TAsked& early) {
    early.Early = true;
    if (Ask(Connection, url, early.Plan.Question).Kind != TNet::Ok) {
        Connection.reset();
        return false;
    }
    early.SentAt = GetTickCount64();
    if (Tracing()) {
        const TQuestion& q = early.Plan.Question;
        if (q.Ask == TAsk::Last)
            Trace("c%d ask the last %lld early", Id, static_cast<long long>(q.End));
        else
            Trace("c%d ask %lld-%lld early", Id, static_cast<long long>(q.From),
                  static_cast<long long>(q.End));
    }
    return true;
}

bool TWorker::KeepEarly(bool sent, TAsked& early) {
    const int claim =
        Dispatch.Locked([&](TPlanner& p) { return p.TakeEarly(Id, sent, early.Plan); });
    if (claim >= 0) {
        Asked.push_back(early);
        return true;
    }
    if (sent && Tracing()) Trace("c%d early answer not wanted", Id);
    Connection.reset(); // its answer is of no use: the next request goes on a new one
    return false;
}

void TWorker::Candidate() {
    TAsked early;
    TUrl url;
    const bool asks = Dispatch.Locked([&](TPlanner& p) {
        url = p.Location(Source);
        return p.AsksEarly(Id, early.Plan.Question);
    });
    const bool sent = asks && SendEarly(url, early);
    bool arrived = !sent;
    const HANDLE events[2] = {Dispatch.GoEvent(), Abort};
    for (;;) {
        if (Dispatch.Stopping()) return;
        const uint64_t now = GetTickCount64();
        switch (Dispatch.Locked([&](TPlanner& p) { return p.Candidate(Id, now); })) {
        case TPlanner::TCandidate::Open:
            Connection.reset(); // what it asked early is no first request
            Open();
            return;
        case TPlanner::TCandidate::Run:
            KeepEarly(sent, early);
            Run();
            return;
        case TPlanner::TCandidate::Quit:
            return;
        case TPlanner::TCandidate::Wait:
            break;
        }
        if (!arrived && WaitForSingleObject(Dispatch.GoEvent(), 0) != WAIT_OBJECT_0) {
            // When its answer begins to come is the mirror's round trip, which decides whether
            // its connections come at once: watched for while the file is not known.
            const TNetResult r = Connection->Await(Dispatch.GoEvent(), 50);
            if (r.Kind == TNet::Ok)
                early.TripMs =
                    std::max<uint32_t>(static_cast<uint32_t>(GetTickCount64() - early.SentAt), 1);
            arrived = r.Kind != TNet::Stalled && r.Kind != TNet::Aborted;
            continue;
        }
        WaitForMultipleObjects(2, events, FALSE, 50);
    }
}

void TWorker::Standby() {
    TUrl url;
    Dispatch.Locked([&](TPlanner& p) { url = p.Location(Source); });
    Connection = std::make_unique<THttpConnection>(
        url, Proxies, TConnectOptions{Settings.AttemptDelayMs, &Families, Id});
    const uint64_t start = GetTickCount64();
    if (Connection->Open(Abort, Settings.StallMs).Kind != TNet::Ok) {
        // Not there, or not for one more: the others manage without.
        Connection.reset();
        return;
    }
    const uint64_t connected = GetTickCount64();
    TAsked early;
    bool asks = Dispatch.Locked([&](TPlanner& p) {
        p.Connected(Id, static_cast<uint32_t>(connected - start));
        return p.AsksEarly(Id, early.Plan.Question);
    });
    const HANDLE events[2] = {Dispatch.GoEvent(), Abort};
    // A proxy or relay accepts at once for a far server: its distance shows only in how long
    // the first answer takes.
    if (!asks && WaitForMultipleObjects(2, events, FALSE, TPlanner::FarMs) == WAIT_TIMEOUT)
        asks = Dispatch.Locked([&](TPlanner& p) {
            p.Unanswered(Id);
            return p.AsksEarly(Id, early.Plan.Question);
        });
    if (asks) {
        const bool sent = SendEarly(url, early);
        // Until the first answer is in; but a pass that ends with the file unknown (its
        // source gone, nobody left to learn it) may never say so.
        while (WaitForMultipleObjects(2, events, FALSE, 50) == WAIT_TIMEOUT)
            if (Dispatch.Locked([&](TPlanner& p) { return p.Call(Id, GetTickCount64()); }) ==
                TPlanner::TCall::Quit)
                return;
        // Not needed after all, or called off while the first request met a refusal.
        if (Dispatch.Stopping() || Dispatch.EarlyCalledOff()) return;
        if (KeepEarly(sent, early)) {
            Run();
            return;
        }
    }
    for (;;) {
        if (Dispatch.Stopping()) return;
        const uint64_t now = GetTickCount64();
        switch (Dispatch.Locked([&](TPlanner& p) { return p.Call(Id, now); })) {
        case TPlanner::TCall::Work:
            // A connection kept idle for long may have been closed by the server meanwhile:
            // its first request would read as a refusal.
            if (now > connected + 2000) Connection.reset();
            Run();
            return;
        case TPlanner::TCall::Quit:
            return;
        case TPlanner::TCall::Wait:
            break;
        }
        WaitForMultipleObjects(2, events, FALSE, 30);
    }
}

} // namespace xldl
