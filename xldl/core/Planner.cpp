#include "xldl/core/Planner.h"

#include "xldl/core/EndGame.h"
#include "xldl/core/Retry.h"
#include "xldl/core/Text.h"

#include <algorithm>

namespace xldl {

namespace {

bool OwnLocation(const TUrl& location, const TUrl& start) {
    return LowerText(location.Host) == LowerText(start.Host) && location.Target == start.Target &&
           (location.Secure || !start.Secure) &&
           (location.Secure != start.Secure || location.Port == start.Port);
}

} // namespace

TPlanner::TPlanner(const TPlanSettings& settings, const std::vector<TUrl>& sources, uint64_t nowMs)
    : Settings(settings), Src(sources), EarlyAsks(settings.SegmentBytes), LastProgressMs(nowMs) {
    Segments.Reset(-1);
    Growth.Reset(Src.Count(), nowMs);
}

TPlanner::TConnection* TPlanner::Conn(int id) {
    const auto it = Connections.find(id);
    return it == Connections.end() ? nullptr : &it->second;
}

const TPlanner::TConnection* TPlanner::Conn(int id) const {
    const auto it = Connections.find(id);
    return it == Connections.end() ? nullptr : &it->second;
}

int TPlanner::SourceOf(int id) const {
    const TConnection* c = Conn(id);
    return c ? c->Source : -1;
}

bool TPlanner::Guarded(int source) const {
    return Src[source].Validator.empty() || Src.Mixed();
}

int64_t TPlanner::WindowBytes(int source) const {
    return Guarded(source) ? std::min(TOverlapGuard::WindowBytes, Settings.SegmentBytes / 4) : 0;
}

bool TPlanner::OwnAt(int source, int64_t pos) const {
    if (Src[source].Validator.empty() || pos < 0 || pos >= Segments.Size()) return false;
    int at = Written.At(pos);
    const int claim = at < 0 ? Segments.ClaimAt(pos) : -1;
    if (claim >= 0)
        if (const TConnection* holder = Conn(Segments.At(claim).Owner))
            if (Written.Vouches(claim, holder->Source)) at = holder->Source;
    return at == source;
}

int TPlanner::Preferred() const {
    for (int i = 0; i < Src.Count(); ++i)
        if (!Src[i].Dead) return i;
    return -1;
}

// --- what the file is ---

void TPlanner::Resume(const TFileFacts& facts) {
    Segments.Reset(facts.Total, facts.Done);
    Guard.Reset();
    Written.Clear();
    // The task's sources that the state knew, in the state's order (the first defined the file).
    std::vector<std::pair<int, const TSourceRecord*>> known;
    for (const TSourceRecord& r : facts.Sources)
        for (int i = 0; i < Src.Count(); ++i)
            if (FormatUrl(Src[i].Start) == r.Url &&
                std::none_of(known.begin(), known.end(),
                             [i](const auto& k) { return k.first == i; }))
                known.emplace_back(i, &r);
    Src.TakeUp({facts.Total, facts.LastModified, facts.Digest},
               known.empty() ? -1 : known[0].first);
    for (const auto& [i, r] : known) {
        TSource& s = Src[i];
        // Its validator, shown again under If-Range, proves the file; without one its answers
        // are compared with what is on disk where they meet it. Where the state says it found
        // the file counts only where that is this mirror itself (or it over https): anywhere
        // else, a redirect learned again leads there, never a state alone.
        if (OwnLocation(r->Location, s.Start)) s.Where = r->Location;
        s.Validator = r->Validator;
        if (!s.Distrusted) s.Standing = TStanding::Same;
    }
    ResumingFile = facts.Total >= 0;
}

void TPlanner::Forget() {
    Segments.Reset(-1);
    EndUnproven = false;
    Guard.Reset();
    Written.Clear();
    Src.Forget();
    ResumingFile = false;
    WholeStream = false;
}

TFileFacts TPlanner::Facts() const {
    TFileFacts f;
    f.Total = Segments.Size();
    f.Digest = Src.File().Digest;
    f.LastModified = Src.File().LastModified;
    f.Done = Segments.DoneRanges();
    f.EndUnproven = EndUnproven;
    int reference = Src.Reference();
    if (reference < 0) reference = std::max(Preferred(), 0);
    if (reference < Src.Count()) {
        f.Location = Src[reference].Where;
        f.Validator = Src[reference].Validator;
    }
    const auto record = [&](int i) {
        const TSource& s = Src[i];
        f.Sources.push_back({FormatUrl(s.Start), s.Where, s.Validator});
    };
    if (Src.Known() && reference < Src.Count()) record(reference);
    for (int i = 0; i < Src.Count(); ++i)
        if (i != reference && Src[i].Standing == TStanding::Same && !Src[i].Dead) record(i);
    return f;
}

void TPlanner::HttpsFirst(int source, const std::optional<TUrl>& twin) {
    TSource& s = Src[source];
    const bool atStart = FormatUrl(s.Where) == FormatUrl(s.Start);
    const bool atTwin = s.Where.Secure && !s.Start.Secure &&
                        LowerText(s.Where.Host) == LowerText(s.Start.Host) &&
                        s.Where.Target == s.Start.Target;
    if (!atStart && !atTwin) return;
    if (FormatUrl(s.Where) != FormatUrl(twin ? *twin : s.Start)) Written.Forget(source);
    s.Where = twin ? *twin : s.Start;
    s.HttpsFirst = twin.has_value();
}

// --- a pass ---

TPlanner::TStart TPlanner::Add(int source, TRole role, uint64_t nowMs) {
    const int id = NextId++;
    TConnection c;
    c.Source = source;
    c.Role = role;
    c.StartedMs = nowMs;
    c.SeenMs = nowMs;
    Connections[id] = c;
    return {id, source, role};
}

int TPlanner::Running(int source) const {
    int n = 0;
    for (const auto& [id, c] : Connections)
        n += c.Source == source;
    return n;
}

bool TPlanner::Far(int source, uint64_t nowMs) const {
    // Either sign will do: a connect can look near where a proxy or relay accepts for a far
    // server, and an answer's time is not known before the first one.
    uint32_t connect = 0;
    int64_t fastest = -1;
    for (const auto& [id, c] : Connections) {
        if (c.Source != source) continue;
        if (c.ConnectMs && (!connect || c.ConnectMs < connect)) connect = c.ConnectMs;
        fastest = std::max(fastest, RateOf(c, nowMs, true));
    }
    // Connections that go again every few requests idle through each reconnection: more of
    // them fill those gaps, and rates over windows short enough to probe by would mostly
    // measure where the gaps fell.
    return std::max(Src[source].RoundTrip, connect) >= FarMs ||
           (fastest > 0 && fastest < SlowConnection) || Src[source].FewPerConnection;
}

bool TPlanner::Down(int source, uint64_t nowMs) const {
    const TSource& s = Src[source];
    return s.LastFailMs > s.LastByteMs && nowMs >= s.LastByteMs + DownMs;
}

int TPlanner::Allowed(int source, uint64_t nowMs) const {
    const TSource& s = Src[source];
    if (s.Dead || WholeStream || s.Standing == TStanding::Other) return 0;
    int most = Settings.ManyConnections ? static_cast<int>(Settings.MaxConnections) : 1;
    // One connection learns whether the source serves the file before others join it.
    if (s.Standing != TStanding::Same || !s.RangesUsable) most = 1;
    if (Segments.Bounded())
        most = std::min<int>(most, static_cast<int>(std::clamp<int64_t>(
                                       Segments.Size() / Settings.SegmentBytes, 1, most)));
    // Sources on one server share its limit.
    for (int i = 0; i < Src.Count(); ++i)
        if (i != source && Src.SameServer(i, source)) most -= Running(i);
    if (Down(source, nowMs)) most = std::min(most, 1);
    return std::max(most, 0);
}

std::vector<TPlanner::TStart> TPlanner::BeginPass(int handoverSource, uint64_t nowMs) {
    PassStartMs = nowMs;
    CalledOff = false;
    EarlyAsks.Clear();
    Connections.clear();
    WholeStream = false;
    for (int i = 0; i < Src.Count(); ++i) {
        Src[i].Active = 0;
        Src[i].Waiting = 0;
    }
    Growth.Reset(Src.Count(), nowMs);
    std::vector<TStart> starts;
    if (handoverSource >= 0) {
        WholeStream = true;
        starts.push_back(Add(handoverSource, TRole::Adopt, nowMs));
        return starts;
    }
    const int preferred = Preferred();
    if (preferred < 0) return starts;
    const int most = Settings.ManyConnections ? static_cast<int>(Settings.MaxConnections) : 1;
    // Room on each source's server for connections kept ready beside its first.
    const auto ready = [&](int source) {
        int room = most;
        for (const auto& [id, c] : Connections)
            if (Src.SameServer(c.Source, source)) --room;
        for (int slot = 1; slot <= room; ++slot) {
            const TStart s = Add(source, TRole::Standby, nowMs);
            Connections[s.Id].Slot = slot;
            starts.push_back(s);
        }
    };
    for (int i = 0; i < Src.Count(); ++i) {
        const TSource& s = Src[i];
        // Whatever the preferred source serves is the file, when nothing else is known.
        if (s.Dead || (s.Standing == TStanding::Other && (Src.Known() || i != preferred))) continue;
        if (Src.Known())
            starts.push_back(Add(i, TRole::Run, nowMs));
        else if (i == preferred)
            starts.push_back(Add(i, TRole::Open, nowMs));
        else if (s.RangesUsable) {
            starts.push_back(Add(i, TRole::Candidate, nowMs));
            Connections[starts.back().Id].Slot = TEarlyShares::Last;
        } else
            continue;
        if (Src.Known() ? s.RangesUsable : true) ready(i);
    }
    return starts;
}

std::vector<TPlanner::TStart> TPlanner::Starts(uint64_t nowMs) {
    std::vector<TStart> starts;
    if (WholeStream || !Src.Known() || Segments.Complete()) return starts;
    // More connections are for bytes nobody holds; the end game is for those there are.
    const bool work = Segments.Free() > 0;
    for (int i = 0; i < Src.Count(); ++i) {
        const int allowed = Allowed(i, nowMs);
        int target = allowed;
        if (Src[i].Standing == TStanding::Same)
            target = Growth.Target(i, allowed, Far(i, nowMs), nowMs);
        else
            Growth.Target(i, 0, false, nowMs);
        const int running = Running(i);
        if (running == 0 && target > 0 && Src[i].Standing != TStanding::Same) {
            // Nobody judges it yet.
            starts.push_back(Add(i, TRole::Run, nowMs));
            continue;
        }
        if (!work) continue;
        for (int n = running; n < target; ++n)
            starts.push_back(Add(i, TRole::Run, nowMs));
    }
    return starts;
}

void TPlanner::Ended(int id, uint64_t nowMs) {
    TConnection* c = Conn(id);
    if (!c) return;
    Unwork(*c, nowMs);
    EarlyAsks.Ended(Segments, id);
    Connections.erase(id);
}

void TPlanner::Work(TConnection& c) {
    if (c.Working) return;
    c.Working = true;
    ++Src[c.Source].Active;
}

void TPlanner::Unwork(TConnection& c, uint64_t nowMs) {
    if (c.Flowing) {
        c.Flowing = false;
        Growth.Stopped(c.Source, nowMs);
    }
    if (!c.Working) return;
    c.Working = false;
    --Src[c.Source].Active;
}

// --- opening ---

TQuestion TPlanner::FirstQuestion(int source) const {
    TQuestion q;
    q.Ask = Src[source].RangesUsable ? TAsk::First : TAsk::Whole;
    q.End = q.Ask == TAsk::First ? Settings.SegmentBytes : -1;
    return q;
}

TPlanner::TCandidate TPlanner::Candidate(int id, uint64_t nowMs) const {
    const TConnection* c = Conn(id);
    if (!c) return TCandidate::Quit;
    const TSource& s = Src[c->Source];
    if (s.Dead || s.Standing == TStanding::Other) return TCandidate::Quit;
    if (Src.Known()) return WholeStream ? TCandidate::Quit : TCandidate::Run;
    const int preferred = Preferred();
    if (preferred == c->Source) return TCandidate::Open;
    // The preferred source answers first, unless it keeps failing or takes too long (a
    // failure it recovers from at once, a busy answer or a reset, still leaves it first).
    const bool failed = preferred >= 0 && Src[preferred].LastFailMs > PassStartMs;
    if (preferred < 0 || nowMs >= PassStartMs + (failed ? DownMs : GraceMs))
        return TCandidate::Open;
    return TCandidate::Wait;
}

void TPlanner::Define(int source, const TSourceFacts& facts, int64_t, bool whole) {
    Segments.Reset(facts.Total);
    Guard.Reset();
    Written.Clear();
    Src.Define(source, facts);
    ResumingFile = false;
    if (whole) {
        // A whole-file answer stays one stream to its end: cut short, it would have to be
        // drained or dropped, and it proves nothing about ranges.
        WholeStream = true;
    }
}

TPlanner::TOpened TPlanner::Opened(int id, const TSourceFacts& facts, int64_t bodyEnd, bool whole,
                                   uint64_t nowMs) {
    TOpened o;
    TConnection* c = Conn(id);
    if (!c) {
        o.Reaction = TReaction::Quit;
        return o;
    }
    const int source = c->Source;
    c->SeenMs = nowMs;
    if (!Src.Known()) {
        Define(source, facts, bodyEnd, whole);
        Work(*c);
        o.Defined = true;
        o.Claim = Segments.Claim(id, bodyEnd >= 0 ? bodyEnd : 1, 0);
        Written.Asked(o.Claim, source);
        if (o.Claim >= 0) Segments.StartReading(o.Claim);
        if (!WholeStream) PlaceEarly();
        return o;
    }
    // Another source answered first: this answer's body is what that one is reading.
    if (whole && source != Preferred()) {
        Src[source].WholeOnly = true;
        Src[source].RangesUsable = false;
        Src.Reject(source);
        o.Reaction = TReaction::Quit;
        return o;
    }
    const TReaction r = Judge(id, facts);
    o.Reaction = r == TReaction::Use ? TReaction::Drop : r;
    return o;
}

void TPlanner::CallOffEarly() {
    CalledOff = true;
}

// --- connections kept ready ---

void TPlanner::Connected(int id, uint32_t ms) {
    if (TConnection* c = Conn(id)) c->ConnectMs = std::max<uint32_t>(ms, 1);
}

void TPlanner::Unanswered(int id) {
    if (TConnection* c = Conn(id)) c->Unanswered = !Src.Known();
}

bool TPlanner::Early(const TConnection& c) const {
    const int preferred = Preferred();
    if (preferred < 0 || !Src[c.Source].RangesUsable) return false;
    if (c.Role == TRole::Candidate) {
        // Another server answers while the preferred one does: held on the wire until the
        // file is known, its answer is judged as any first answer of a mirror is.
        return c.Source != preferred && !Src.SameServer(c.Source, preferred);
    }
    // Before the first answer, a share is a guess made under no validator; it pays only where
    // waiting for that answer costs a round trip that matters.
    return c.Role == TRole::Standby && c.Slot >= 1 && !CalledOff && c.Source == preferred &&
           (c.ConnectMs >= FarMs || c.Unanswered);
}

bool TPlanner::AsksEarly(int id, TQuestion& q) const {
    const TConnection* c = Conn(id);
    if (!c || Src.Known() || !Early(*c)) return false;
    q = EarlyAsks.Question(c->Slot);
    return true;
}

void TPlanner::PlaceEarly() {
    // Under the guard the first bytes of each share are its window: the share proper begins
    // after them, and they are written by the connection before it. The preferred source's
    // shares come first, in order; another mirror's end takes what they leave.
    const int reference = Src.Reference();
    for (const bool own : {true, false})
        for (auto& [id, c] : Connections)
            if (Early(c) && (c.Role == TRole::Standby) == own && (c.Source == reference) == own)
                EarlyAsks.Place(Segments, id, c.Slot, WindowBytes(c.Source));
}

int TPlanner::TakeEarly(int id, bool sent, TPlan& plan) {
    TConnection* c = Conn(id);
    const int claim = EarlyAsks.Take(id);
    if (claim < 0 || !c || !Segments.Holds(claim, id)) return -1;
    if (!sent) {
        // Nobody would ever read it: the share goes back to the others.
        Segments.Release(claim);
        return -1;
    }
    const TSource& s = Src[c->Source];
    const auto& seg = Segments.At(claim);
    plan = {};
    plan.Claim = claim;
    Written.Asked(claim, c->Source);
    plan.Question.Ask = TAsk::Part;
    plan.Question.From = EarlyAsks.Range(c->Slot, Segments.Size()).Start;
    plan.Question.End = seg.End; // now known: where the share ends in the file
    if (c->Role == TRole::Candidate) {
        // Its source has not said what it serves: the head is judged against the file's facts.
        plan.Judging = c->Judging = c->AskedEnd = true;
    } else {
        plan.Question.Validator = s.Validator;
        plan.Question.Total = Segments.Size();
        plan.Question.Named = !s.Validator.empty() || Src.File().Digest.Kind != TDigestKind::None;
        plan.Question.MustName = true;
    }
    plan.Url = s.Where;
    plan.WriteFrom = seg.Pos;
    plan.WriteEnd = seg.End;
    Work(*c);
    return claim;
}

TPlanner::TCall TPlanner::Call(int id, uint64_t nowMs) {
    TConnection* c = Conn(id);
    if (!c) return TCall::Quit;
    const TSource& s = Src[c->Source];
    if (s.Dead || WholeStream || s.Standing == TStanding::Other) return TCall::Quit;
    if (CalledOff && !Src.Known() && c->Source == Preferred()) return TCall::Quit;
    if (nowMs >= c->StartedMs + StandbyMs) return TCall::Quit;
    if (!Src.Known() || s.Standing != TStanding::Same) return TCall::Wait;
    if (Segments.Complete() || Segments.Free() == 0) return TCall::Quit;
    const int target =
        Growth.Target(c->Source, Allowed(c->Source, nowMs), Far(c->Source, nowMs), nowMs);
    if (s.Active < target) {
        Work(*c);
        return TCall::Work;
    }
    return TCall::Wait;
}

// --- requests ---

bool TPlanner::SampleRange(int64_t& from, int64_t& end) const {
    // The end of the largest written range: past the first bytes, which many files of one
    // kind share.
    TByteRange best{};
    for (const TByteRange& r : Segments.DoneRanges())
        if (r.End - r.Start > best.End - best.Start) best = r;
    if (best.End <= best.Start) return false;
    end = best.End;
    from = std::max(best.Start, best.End - SampleBytes);
    return true;
}

TPlanner::TNext TPlanner::Next(int id, TPace& pace, bool ahead, TPlan& plan, uint64_t nowMs) {
    TConnection* c = Conn(id);
    if (!c) return TNext::Quit;
    const int source = c->Source;
    TSource& s = Src[source];
    // A connection that is never idle cannot time a round trip: another's serves.
    pace.Lend(s.RoundTrip, s.FirstByte);
    if (s.Dead || s.Standing == TStanding::Other) return TNext::Quit;
    if (!Src.Known()) return ahead ? TNext::Nothing : TNext::Wait;
    if (WholeStream) {
        // What a whole-file answer did not bring cannot be fetched apart: once nobody reads
        // it any more, the file starts over.
        if (!ahead && !Segments.Complete() && !Segments.Held()) return TNext::Restart;
        return TNext::Nothing;
    }
    const bool judging = s.Standing == TStanding::Unknown || s.Standing == TStanding::Sampling;
    if (judging) {
        // One connection at a time finds out, with nothing behind its question.
        if (ahead) return TNext::Nothing;
        for (const auto& [other, oc] : Connections)
            if (other != id && oc.Source == source && oc.Judging) return TNext::Wait;
    }
    Work(*c);
    if (s.Standing == TStanding::Sampling) {
        int64_t from = 0, end = 0;
        if (!SampleRange(from, end)) return TNext::Wait;
        plan = {};
        plan.Sample = true;
        plan.Question.Ask = TAsk::Part;
        plan.Question.From = from;
        plan.Question.End = end;
        plan.Question.Validator = s.Validator;
        plan.Question.Total = Segments.Size();
        plan.Question.Named = !s.Validator.empty();
        plan.Url = s.Where;
        plan.WriteFrom = end;
        plan.WriteEnd = end;
        c->Judging = true;
        c->Closed = false;
        return TNext::Ask;
    }
    if (!ahead && s.Standing == TStanding::Same &&
        s.Active > Growth.Target(source, Allowed(source, nowMs), Far(source, nowMs), nowMs)) {
        // One too many: what it has asked is read, then it goes.
        Unwork(*c, nowMs);
        return TNext::Nothing;
    }
    const int64_t window = WindowBytes(source);
    int64_t most = Settings.SegmentBytes;
    if (s.AnswerCap > 0) most = std::min(most, s.AnswerCap);
    // This connection's part of what is left: what it delivers among all at work.
    int64_t mine = 0, all = 0;
    int working = 0;
    for (const auto& [other, oc] : Connections) {
        if (!oc.Working) continue;
        ++working;
        const int64_t rate = std::max<int64_t>(RateOf(oc, nowMs), 0);
        all += rate;
        if (other == id) mine = rate;
    }
    const double share = mine > 0 && all > 0 ? static_cast<double>(mine) / static_cast<double>(all)
                                             : 1.0 / std::max(working, 1);
    const int64_t size =
        std::max<int64_t>(std::min(pace.RequestSize(Segments.Free(), share), most - 2 * window), 1);
    const auto rateOf = [this, nowMs](int owner) -> int64_t {
        const TConnection* o = Conn(owner);
        if (!o) return -1;
        if (nowMs >= o->SeenMs + StoppedMs) return 0;
        return RateOf(*o, nowMs);
    };
    if (Slower(id, std::min(size, Segments.Free()), nowMs)) {
        // It stays ready, in case the faster ones fail.
        Unwork(*c, nowMs);
        return ahead ? TNext::Nothing : TNext::Wait;
    }
    // Only free bytes are taken ahead; cutting another's claim is for an idle connection, and
    // one whose connection closed waits for a connect as well before its first byte.
    const int claim =
        Segments.Claim(id, size, ahead ? 0 : pace.MinSplit() * (c->Closed ? 2 : 1), rateOf);
    if (claim < 0) return TNext::Nothing;
    if (!s.RangesUsable) {
        // Bytes are missing and cannot be fetched apart: the file starts over.
        Segments.Release(claim);
        return TNext::Restart;
    }
    const auto& seg = Segments.At(claim);
    // Where the share meets bytes its own source wrote or holds, both answers name one version
    // under If-Range: a window is for the boundaries between two sources (but a source being
    // judged proves nothing yet).
    const auto own = [&](int64_t pos) { return !judging && OwnAt(source, pos); };
    const int64_t left = own(seg.Pos - 1) ? 0 : std::min(window, seg.Pos);
    int64_t right = 0;
    if (window > 0 && seg.End >= 0 && seg.End < Segments.Size() && !own(seg.End)) {
        // Bytes after the share that are written or held will never be fetched by the request
        // that meets this one there: only this answer can be compared with them. Free bytes
        // beyond those may go to a request that brings no window across (its neighbour its own
        // source's): this one's is kept until they are written.
        const int64_t r = std::min(window, Segments.Size() - seg.End);
        if (Segments.FreeWithin(seg.End, seg.End + 1) == 0) right = r;
    }
    plan = {};
    plan.Claim = claim;
    Written.Asked(claim, c->Source);
    plan.Judging = judging;
    plan.Question.Ask = TAsk::Part;
    plan.Question.From = seg.Pos - left;
    plan.Question.End = seg.End >= 0 ? seg.End + right : -1;
    if (judging) {
        // Asked of a source that has not said what it serves: its head is judged before a
        // byte is taken, against the file's facts rather than its own validator.
        plan.Question.Total = -1;
    } else {
        plan.Question.Validator = s.Validator;
        plan.Question.Total = Segments.Size();
        plan.Question.Named = !s.Validator.empty() || Src.File().Digest.Kind != TDigestKind::None;
        plan.Question.MustName = !s.Proven;
    }
    plan.Url = s.Where;
    plan.WriteFrom = seg.Pos;
    plan.WriteEnd = seg.End;
    c->Judging = judging;
    c->AskedEnd = false;
    c->Closed = false;
    return TNext::Ask;
}

bool TPlanner::Slower(int id, int64_t piece, uint64_t nowMs) const {
    const TConnection* c = Conn(id);
    // Judged only on rates sustained over a whole window: a burst, or the pause after it, says
    // nothing of who brings the last pieces sooner.
    if (!c || piece <= 0 || !Segments.Bounded() || !Proven(c->Delivery)) return false;
    std::vector<TRunner> others;
    for (const auto& [other, oc] : Connections) {
        if (other == id || !oc.Working || !Proven(oc.Delivery) || nowMs >= oc.SeenMs + StoppedMs)
            continue;
        const int64_t r = RateOf(oc, nowMs);
        if (r > 0) others.push_back({r, Src[oc.Source].RoundTrip});
    }
    // Its connection to make first costs it another round trip before the piece's first byte.
    const uint32_t trip = Src[c->Source].RoundTrip * (c->Closed ? 2 : 1);
    return StandsBack({RateOf(*c, nowMs), trip}, others, piece, Segments.Size() - Segments.Done());
}

int64_t TPlanner::RateOf(const TConnection& c, uint64_t nowMs, bool settled) const {
    const int64_t silent =
        c.Working && nowMs > c.SeenMs ? static_cast<int64_t>(nowMs - c.SeenMs) : 0;
    if (settled && !Settled(c.Delivery, silent)) return -1;
    return SustainedRate(c.Delivery, silent);
}

void TPlanner::AnsweredShort(int id, int64_t bytes) {
    const int source = SourceOf(id);
    if (source < 0) return;
    int64_t& cap = Src[source].AnswerCap;
    if (bytes > 0 && (cap == 0 || bytes < cap)) cap = bytes;
}

void TPlanner::Measured(int id, const TPace& pace, uint64_t nowMs) {
    TConnection* c = Conn(id);
    if (!c) return;
    c->SeenMs = nowMs;
    const TDelivery d = pace.Sustained();
    if (d.Bytes > 0) c->Delivery = d;
    TSource& s = Src[c->Source];
    if (pace.RoundTrip() && (!s.RoundTrip || pace.RoundTrip() < s.RoundTrip))
        s.RoundTrip = pace.RoundTrip();
    if (pace.FirstByte() >= 0) s.FirstByte = pace.FirstByte();
}

void TPlanner::Confirmed(int id) {
    const int source = SourceOf(id);
    if (source >= 0) Src[source].Proven = true;
}

// --- what sources say of the file ---

TReaction TPlanner::Judge(int id, const TSourceFacts& facts) {
    TConnection* c = Conn(id);
    if (!c) return TReaction::Quit;
    c->Judging = false;
    // Judged anew, perhaps under another validator: its earlier bytes vouch for nothing.
    Written.Forget(c->Source);
    switch (Src.Judge(c->Source, facts)) {
    case TStanding::Same:
        return TReaction::Use;
    case TStanding::Sampling:
        return TReaction::Drop;
    default:
        return c->Source == Preferred() ? TReaction::Restart : TReaction::Quit;
    }
}

TReaction TPlanner::Judged(int id, const TAnswer& answer, bool whole,
                           const TSourceFacts& facts) {
    TConnection* c = Conn(id);
    if (!c) return TReaction::Quit;
    if (c->AskedEnd && (whole || answer.Verdict != TVerdict::Ok)) {
        c->Judging = false;
        return TReaction::Drop;
    }
    if (whole) {
        // A range answered with the whole file: of no use beside a source that does ranges.
        Judge(id, facts);
        return Disagrees(id, true);
    }
    if (answer.Verdict != TVerdict::Ok) return Disagrees(id, false);
    return Judge(id, facts);
}

TReaction TPlanner::Sampled(int id, bool same) {
    TConnection* c = Conn(id);
    if (!c) return TReaction::Quit;
    c->Judging = false;
    Src.Sampled(c->Source, same);
    if (same) return TReaction::Use;
    return c->Source == Preferred() ? TReaction::Restart : TReaction::Quit;
}

TReaction TPlanner::Disagrees(int id, bool rangesBroken) {
    const int source = SourceOf(id);
    if (source < 0) return TReaction::Quit;
    if (rangesBroken) Src[source].RangesUsable = false;
    // The preferred source, or the one whose bytes are on disk, decides: the file changed.
    if (source == Preferred() || source == Src.Reference()) return TReaction::Restart;
    if (rangesBroken) Src[source].WholeOnly = true;
    Src.Reject(source);
    return TReaction::Quit;
}

TReaction TPlanner::WindowsDiffer(int id) {
    // Between two sources, the preferred one's bytes are the file's; one source alone
    // differing from itself means its file changed.
    if (Src.Mixed()) {
        const int preferred = Preferred();
        for (int i = 0; i < Src.Count(); ++i) {
            if (i == preferred || Src[i].Standing == TStanding::Other) continue;
            Src[i].Distrusted = true;
            Src.Reject(i);
        }
    }
    (void)id;
    return TReaction::Restart;
}

// --- bytes ---

std::vector<TByteRange> TPlanner::Window(int64_t pos, const uint8_t* data, size_t size) {
    const int64_t end = pos + static_cast<int64_t>(size);
    const auto done = Segments.DoneWithin(pos, end);
    int64_t at = pos;
    const auto expect = [&](int64_t to) {
        if (at < to) Guard.Expect(at, data + (at - pos), static_cast<size_t>(to - at));
    };
    for (const TByteRange& r : done) {
        expect(r.Start);
        at = r.End;
    }
    expect(end);
    return done;
}

bool TPlanner::Wrote(int claim, int64_t pos, const uint8_t* data, size_t size, uint64_t nowMs) {
    Segments.Commit(claim, static_cast<int64_t>(size));
    LastProgressMs = nowMs;
    if (TConnection* c = Conn(Segments.At(claim).Owner)) {
        TSource& s = Src[c->Source];
        s.LastByteMs = nowMs;
        s.Delivered += static_cast<int64_t>(size);
        Written.Wrote(claim, pos, static_cast<int64_t>(size), c->Source);
        c->SeenMs = nowMs;
        if (!c->Flowing) {
            c->Flowing = true;
            Growth.Joined(c->Source, nowMs);
        }
        Growth.Delivered(c->Source, static_cast<int64_t>(size), nowMs);
    }
    return Guard.Written(pos, data, size);
}

// --- failures ---

TDecision TPlanner::Failed(int id, const TFailure& f, unsigned failures, uint64_t nowMs,
                           double jitter) {
    TConnection* c = Conn(id);
    const int source = c ? c->Source : std::max(Preferred(), 0);
    TSource& s = Src[source];
    if (c) c->Judging = false;
    // However the connection ended, nothing for the whole budget ends the task.
    const uint64_t quiet = nowMs - LastProgressMs;
    if (quiet >= Settings.GiveUpMs) return {TRecovery::GiveUp, 0};
    // A server that ends connections after so many requests has served its share: the
    // requests it left unanswered go again on a new connection, at once. That is no change
    // in the connections that deliver (nor a failure of the source), so growth goes on.
    if (f.Served) {
        if (f.Answers > 0 && f.Answers <= FewRequests) s.FewPerConnection = true;
        return {TRecovery::AskAgain, 0};
    }
    if (c && c->Flowing) {
        c->Flowing = false;
        Growth.Stopped(source, nowMs);
    }
    s.LastFailMs = nowMs;
    // One connection too many for the server, or one of many to a source that delivers
    // nothing: one keeps trying, with backoff, and the others leave it their work.
    if (c && c->Working && s.Active > 1 && (f.Refusal || Down(source, nowMs))) {
        if (f.Refusal) Growth.Refused(source, nowMs);
        Unwork(*c, nowMs);
        return {TRecovery::Retire, 0};
    }
    uint32_t delay =
        RetryDelayMs(failures, Settings.RetryBaseMs, Settings.RetryCapMs, jitter, f.RetryAfter);
    // No pause outlasts the budget: the try after it is the last.
    delay = static_cast<uint32_t>(std::min<uint64_t>(delay, Settings.GiveUpMs - quiet));
    ++s.Waiting;
    return {TRecovery::Wait, delay};
}

void TPlanner::WaitEnded(int id) {
    const int source = SourceOf(id);
    TSource& s = Src[source >= 0 ? source : std::max(Preferred(), 0)];
    if (s.Waiting > 0) --s.Waiting;
}

TReaction TPlanner::Dead(int id, uint32_t error, uint32_t detail) {
    TConnection* c = Conn(id);
    const int source = c ? c->Source : std::max(Preferred(), 0);
    TSource& s = Src[source];
    if (s.HttpsFirst) {
        // Tried over https on our own, where the server says what plain http might not. Over
        // plain http it is another source: nothing https showed (its validator, that it serves
        // the file) vouches for what http brings, which is judged afresh against the file.
        s.HttpsFirst = false;
        s.Where = s.Start;
        s.Validator.clear();
        Written.Forget(source);
        s.Proven = false;
        if (s.Standing != TStanding::Other) s.Standing = TStanding::Unknown;
        if (c) {
            c->Judging = false;
            Unwork(*c, LastProgressMs);
        }
        return TReaction::Drop;
    }
    if (!s.Dead) {
        s.Dead = true;
        s.DeadError = error;
        s.DeadDetail = detail;
    }
    if (c) {
        c->Judging = false;
        Unwork(*c, LastProgressMs);
    }
    if (Src.AllDead()) return TReaction::Fail;
    bool serving = false, live = false;
    for (int i = 0; i < Src.Count(); ++i) {
        const TSource& o = Src[i];
        if (o.Dead) continue;
        live = true;
        if (o.Standing != TStanding::Other) serving = true;
    }
    if (serving || !Src.Known()) return TReaction::Quit;
    // What is left serves another file, or only whole: it becomes the file.
    return live ? TReaction::Restart : TReaction::Fail;
}

void TPlanner::Disconnected(int id) {
    if (TConnection* c = Conn(id)) c->Closed = true;
}

void TPlanner::Left(int id, uint64_t nowMs) {
    if (TConnection* c = Conn(id)) {
        c->Judging = false;
        Unwork(*c, nowMs);
    }
}

int TPlanner::ActiveConnections() const {
    int n = 0;
    for (int i = 0; i < Src.Count(); ++i)
        n += Src[i].Active;
    return n;
}

int TPlanner::WaitingConnections() const {
    int n = 0;
    for (int i = 0; i < Src.Count(); ++i)
        n += Src[i].Waiting;
    return n;
}

} // namespace xldl
