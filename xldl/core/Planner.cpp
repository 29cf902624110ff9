#include "xldl/core/Planner.h"

#include "xldl/core/Retry.h"

#include <algorithm>

namespace xldl {

TPlanner::TPlanner(const TPlanSettings& settings, const TUrl& start, uint64_t nowMs)
    : Settings(settings), Where(start), LastProgressMs(nowMs) {
    Segments.Reset(-1);
}

int64_t TPlanner::WindowBytes() const {
    return Guarded() ? std::min(TOverlapGuard::WindowBytes, Settings.SegmentBytes / 4) : 0;
}

void TPlanner::Resume(const TFileFacts& facts) {
    Where = facts.Location;
    Validator = facts.Validator;
    Digest = facts.Digest;
    Segments.Reset(facts.Total, facts.Done);
    Guard.Reset();
    ResumingFile = facts.Total >= 0;
    ConfirmedFile = false;
}

void TPlanner::Forget() {
    Segments.Reset(-1);
    EndUnproven = false;
    Guard.Reset();
    Validator.clear();
    Digest = {};
    ResumingFile = false;
    ConfirmedFile = true;
    AnswerCap = 0;
}

TFileFacts TPlanner::Facts() const {
    return {Where, Segments.Size(), Validator, Digest, Segments.DoneRanges(), EndUnproven};
}

void TPlanner::BeginPass(uint64_t) {
    Active = 1;
    Waiting = 0;
    PassParts = 0;
    EarlyClaims.clear();
}

TQuestion TPlanner::FirstQuestion() const {
    TQuestion q;
    q.Ask = RangesUsable ? TAsk::First : TAsk::Whole;
    q.End = q.Ask == TAsk::First ? Settings.SegmentBytes : -1;
    return q;
}

int TPlanner::Opened(int64_t total, int64_t bodyEnd, bool whole, const std::string& validator,
                     const TDigest& digest, int& parts) {
    Segments.Reset(total);
    Guard.Reset();
    Validator = validator;
    Digest = digest;
    ResumingFile = false;
    ConfirmedFile = true;
    parts = 1;
    // A whole-file answer stays one stream to its end: cut short, it would have to be drained
    // or dropped, and it proves nothing about ranges.
    if (Settings.ManyConnections && RangesUsable && !whole && total >= 0)
        parts = static_cast<int>(
            std::clamp<int64_t>(total / Settings.SegmentBytes, 1, Settings.MaxConnections));
    const int claim = Segments.Claim(0, bodyEnd >= 0 ? bodyEnd : 1, 0);
    if (claim >= 0) Segments.StartReading(claim);
    return claim;
}

int TPlanner::ResumedParts() const {
    if (!Settings.ManyConnections || !RangesUsable) return 1;
    return static_cast<int>(
        std::clamp<int64_t>(Segments.Free() / Settings.SegmentBytes, 1, Settings.MaxConnections));
}

TQuestion TPlanner::EarlyQuestion(int id) const {
    TQuestion q;
    q.Ask = TAsk::Part;
    q.From = id * Settings.SegmentBytes;
    q.End = (id + 1) * Settings.SegmentBytes;
    return q;
}

void TPlanner::PlaceEarly(int parts, bool early) {
    PassParts = parts;
    EarlyClaims.assign(static_cast<size_t>(std::max(parts, 1)), -1);
    if (!early || !Segments.Bounded()) return;
    // Under the guard the first bytes of each share are its window: the share proper begins
    // after them, and they are written by the connection before it.
    const int64_t window = WindowBytes();
    for (int id = 1; id < parts; ++id) {
        const TQuestion q = EarlyQuestion(id);
        const int64_t from = q.From + window;
        const int64_t end = std::min(q.End, Segments.Size());
        if (from < end) EarlyClaims[static_cast<size_t>(id)] = Segments.ClaimRange(id, from, end);
    }
}

int TPlanner::TakeEarly(int id, bool sent, TPlan& plan) {
    if (id < 0 || static_cast<size_t>(id) >= EarlyClaims.size()) return -1;
    const int claim = EarlyClaims[static_cast<size_t>(id)];
    EarlyClaims[static_cast<size_t>(id)] = -1;
    if (claim < 0 || !Segments.Holds(claim, id)) return -1;
    if (!sent) {
        // Nobody would ever read it: the share goes back to the others.
        Segments.Release(claim);
        return -1;
    }
    const auto& s = Segments.At(claim);
    plan.Claim = claim;
    plan.Question = EarlyQuestion(id);
    plan.Question.End = s.End; // now known: where the share ends in the file
    plan.Question.Validator = Validator;
    plan.Question.Total = Segments.Size();
    plan.Question.Named = !Validator.empty() || Digest.Kind != TDigestKind::None;
    plan.Question.MustName = true;
    plan.Url = Where;
    plan.WriteFrom = s.Pos;
    plan.WriteEnd = s.End;
    return claim;
}

TPlanner::TNext TPlanner::Next(int id, TPace& pace, bool ahead, TPlan& plan) {
    // A connection that is never idle cannot time a round trip: another's serves.
    pace.Lend(RoundTrip, FirstByte);
    const int64_t window = WindowBytes();
    int64_t most = Settings.SegmentBytes;
    if (AnswerCap > 0) most = std::min(most, AnswerCap);
    const int64_t size = std::max<int64_t>(
        std::min(pace.RequestSize(Segments.Free(), std::max(Active, 1)), most - 2 * window), 1);
    // Only free bytes are taken ahead; cutting another's claim is for an idle connection.
    const int claim = Segments.Claim(id, size, ahead ? 0 : pace.MinSplit());
    if (claim < 0) return TNext::Nothing;
    if (!RangesUsable) {
        // Bytes are missing and cannot be fetched apart: the file starts over.
        Segments.Release(claim);
        return TNext::Restart;
    }
    const auto& s = Segments.At(claim);
    int64_t left = std::min(window, s.Pos);
    int64_t right = 0;
    if (window > 0 && s.End >= 0 && s.End < Segments.Size()) {
        // Bytes after the share that are written already will never be fetched again: only
        // this answer can be compared with them.
        const int64_t r = std::min(window, Segments.Size() - s.End);
        const auto done = Segments.DoneWithin(s.End, s.End + r);
        if (done.size() == 1 && done[0].Start == s.End && done[0].End == s.End + r) right = r;
    }
    plan.Claim = claim;
    plan.Question = {};
    plan.Question.Ask = TAsk::Part;
    plan.Question.From = s.Pos - left;
    plan.Question.End = s.End >= 0 ? s.End + right : -1;
    plan.Question.Validator = Validator;
    plan.Question.Total = Segments.Size();
    plan.Question.Named = !Validator.empty() || Digest.Kind != TDigestKind::None;
    plan.Question.MustName = !ConfirmedFile;
    plan.Url = Where;
    plan.WriteFrom = s.Pos;
    plan.WriteEnd = s.End;
    return TNext::Ask;
}

void TPlanner::AnsweredShort(int64_t bytes) {
    if (bytes > 0 && (AnswerCap == 0 || bytes < AnswerCap)) AnswerCap = bytes;
}

void TPlanner::Measured(const TPace& pace) {
    if (pace.RoundTrip() && (!RoundTrip || pace.RoundTrip() < RoundTrip))
        RoundTrip = pace.RoundTrip();
    if (pace.FirstByte() >= 0) FirstByte = pace.FirstByte();
}

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
    return Guard.Written(pos, data, size);
}

TDecision TPlanner::Failed(const TFailure& f, unsigned failures, uint64_t nowMs, double jitter) {
    // A server that ends connections after so many requests has served its share: the
    // requests it left unanswered go again on a new connection, at once.
    if (f.Served) return {TRecovery::AskAgain, 0};
    if (f.Refusal && Active > 1) {
        --Active;
        return {TRecovery::Retire, 0};
    }
    const uint64_t quiet = nowMs - LastProgressMs;
    if (quiet >= Settings.GiveUpMs) return {TRecovery::GiveUp, 0};
    uint32_t delay =
        RetryDelayMs(failures, Settings.RetryBaseMs, Settings.RetryCapMs, jitter, f.RetryAfter);
    // No pause outlasts the budget: the try after it is the last.
    delay = static_cast<uint32_t>(std::min<uint64_t>(delay, Settings.GiveUpMs - quiet));
    ++Waiting;
    return {TRecovery::Wait, delay};
}

} // namespace xldl
