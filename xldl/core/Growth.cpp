#include "xldl/core/Growth.h"

#include <algorithm>
#include <cstddef>

namespace xldl {

namespace {

// Samples closer together than this are merged: bytes come in reads of a few KiB to a MiB.
constexpr uint64_t SampleMs = 5;
// History older than this is never compared.
constexpr uint64_t KeepMs = 10000;

} // namespace

void TGrowth::Reset(int sources, uint64_t nowMs) {
    Sources.assign(static_cast<size_t>(std::max(sources, 0)), TSourceGrowth{});
    BySource.assign(Sources.size(), 0);
    Total = 0;
    Samples.clear();
    Samples.push_back({nowMs, 0, BySource});
    LastChangeMs = nowMs;
    Probe = {};
}

void TGrowth::Sample(uint64_t nowMs) {
    if (!Samples.empty() && nowMs < Samples.back().Ms + SampleMs) {
        Samples.back().Total = Total;
        Samples.back().BySource = BySource;
        return;
    }
    Samples.push_back({nowMs, Total, BySource});
    size_t old = 0;
    while (old + 2 < Samples.size() && Samples[old + 1].Ms + KeepMs < nowMs)
        ++old;
    if (old) Samples.erase(Samples.begin(), Samples.begin() + static_cast<std::ptrdiff_t>(old));
}

void TGrowth::Delivered(int source, int64_t bytes, uint64_t nowMs) {
    if (source < 0 || static_cast<size_t>(source) >= Sources.size() || bytes <= 0) return;
    Total += bytes;
    BySource[static_cast<size_t>(source)] += bytes;
    Sample(nowMs);
}

int64_t TGrowth::Cumulative(uint64_t ms, int source) const {
    const auto value = [source](const TSample& s) {
        return source < 0 ? s.Total : s.BySource[static_cast<size_t>(source)];
    };
    if (Samples.empty()) return 0;
    if (ms <= Samples.front().Ms) return value(Samples.front());
    for (size_t i = 1; i < Samples.size(); ++i) {
        const TSample& b = Samples[i];
        if (ms > b.Ms) continue;
        const TSample& a = Samples[i - 1];
        // Bytes come in lumps: between two samples they are spread evenly.
        return value(a) + (value(b) - value(a)) * static_cast<int64_t>(ms - a.Ms) /
                              static_cast<int64_t>(std::max<uint64_t>(b.Ms - a.Ms, 1));
    }
    return value(Samples.back());
}

int64_t TGrowth::Rate(uint64_t fromMs, uint64_t toMs, int source) const {
    if (toMs <= fromMs) return 0;
    return (Cumulative(toMs, source) - Cumulative(fromMs, source)) * 1000 /
           static_cast<int64_t>(toMs - fromMs);
}

bool TGrowth::WindowDone(uint64_t fromMs, uint64_t nowMs) const {
    if (nowMs < fromMs + MinWindowMs) return false;
    return nowMs >= fromMs + MaxWindowMs ||
           Cumulative(nowMs, -1) - Cumulative(fromMs, -1) >= WindowBytes;
}

void TGrowth::Joined(int source, uint64_t nowMs) {
    if (source < 0 || static_cast<size_t>(source) >= Sources.size()) return;
    TSourceGrowth& s = Sources[static_cast<size_t>(source)];
    ++s.Flowing;
    LastChangeMs = nowMs;
    // Connections taken over from the start deliver without a probe having asked for them:
    // they are had, and a probe counts from them. (Counted short, a probe would wait for a
    // connection that can never start, since they fill the count it added.)
    if (Probe.Source != source) s.Target = std::max(s.Target, s.Flowing);
    if (Probe.Source < 0) return;
    if (Probe.Source != source) {
        // Another source's connection changes what the window measures: no verdict either way.
        Probe = {};
        return;
    }
    if (Probe.Joined < Probe.Added && ++Probe.Joined == Probe.Added) Probe.FlowMs = nowMs;
}

void TGrowth::Stopped(int source, uint64_t nowMs) {
    if (source < 0 || static_cast<size_t>(source) >= Sources.size()) return;
    TSourceGrowth& s = Sources[static_cast<size_t>(source)];
    s.Flowing = std::max(s.Flowing - 1, 0);
    LastChangeMs = nowMs;
    if (Probe.Source < 0) return;
    if (Probe.Source == source) s.Target = std::max(s.Target - Probe.Added, 1);
    Probe = {};
}

void TGrowth::Refused(int source, uint64_t nowMs) {
    if (source < 0 || static_cast<size_t>(source) >= Sources.size()) return;
    TSourceGrowth& s = Sources[static_cast<size_t>(source)];
    s.Target = std::max(s.Target - 1, 1);
    s.HoldUntil = nowMs + HoldMs;
    s.Strong = false;
    if (Probe.Source == source) Probe = {};
}

void TGrowth::Decide(uint64_t nowMs) {
    if (Probe.Source < 0) return;
    TSourceGrowth& s = Sources[static_cast<size_t>(Probe.Source)];
    if (Probe.Joined < Probe.Added) {
        if (nowMs < Probe.AskedMs + JoinTimeoutMs) return;
        s.Target = std::max(s.Target - Probe.Added, 1);
        s.HoldUntil = nowMs + HoldMs;
        Probe = {};
        return;
    }
    if (!WindowDone(Probe.FlowMs, nowMs)) return;
    const int64_t gain = Rate(Probe.FlowMs, nowMs, -1) - Probe.Baseline;
    const int64_t expected = Probe.Added * Probe.PerConnection;
    if (gain * 2 >= expected) {
        s.Strong = gain * 5 >= expected * 4;
        // The window just measured is the baseline of the next probe.
        LastChangeMs = Probe.FlowMs;
    } else {
        s.Target = std::max(s.Target - Probe.Added, 1);
        s.HoldUntil = nowMs + HoldMs;
        s.Strong = false;
    }
    Probe = {};
}

void TGrowth::MaybeProbe(int source, int allowed, uint64_t nowMs) {
    TSourceGrowth& s = Sources[static_cast<size_t>(source)];
    if (Probe.Source >= 0 || s.Target >= allowed || nowMs < s.HoldUntil || s.Flowing == 0) return;
    // Only from a steady state: connections lately asked for deliver, for a whole window.
    // (A source whose connections fail does not hold the others back.)
    for (const TSourceGrowth& other : Sources)
        if (other.Flowing < other.Target && nowMs < other.RaisedMs + JoinTimeoutMs) return;
    const uint64_t from = std::max(LastChangeMs, nowMs > MaxWindowMs ? nowMs - MaxWindowMs : 0);
    if (!WindowDone(from, nowMs)) return;
    const int64_t perConnection = Rate(from, nowMs, source) / s.Flowing;
    if (perConnection <= 0) return;
    // The source whose connections each give the most is probed first.
    for (size_t i = 0; i < Sources.size(); ++i) {
        const TSourceGrowth& other = Sources[i];
        if (static_cast<int>(i) == source || other.Flowing == 0 || nowMs < other.HoldUntil ||
            other.Target >= other.Allowed)
            continue;
        if (Rate(from, nowMs, static_cast<int>(i)) / other.Flowing > perConnection) return;
    }
    const int added = s.Strong && s.Target >= 2 ? std::min(2, allowed - s.Target) : 1;
    s.Target += added;
    s.RaisedMs = nowMs;
    Probe = {};
    Probe.Source = source;
    Probe.Added = added;
    Probe.Baseline = Rate(from, nowMs, -1);
    Probe.PerConnection = perConnection;
    Probe.AskedMs = nowMs;
}

int TGrowth::Target(int source, int allowed, bool far, uint64_t nowMs) {
    if (source < 0 || static_cast<size_t>(source) >= Sources.size()) return 0;
    TSourceGrowth& s = Sources[static_cast<size_t>(source)];
    s.Allowed = allowed;
    if (allowed <= 0) {
        if (Probe.Source == source) Probe = {};
        s.Target = 0;
        return 0;
    }
    Decide(nowMs);
    const int was = s.Target;
    if (far && nowMs >= s.HoldUntil) {
        if (Probe.Source == source) Probe = {};
        s.Target = allowed;
    } else {
        s.Target = std::clamp(s.Target, 1, allowed);
    }
    if (s.Target > was) s.RaisedMs = nowMs;
    if (far) return s.Target;
    MaybeProbe(source, allowed, nowMs);
    return s.Target;
}

} // namespace xldl
