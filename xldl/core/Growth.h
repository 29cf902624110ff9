// How many connections each source gets. Connections compete for what they share (the path
// to the user, a server's own limits, and our two cores when the link is fast), so one is
// added only while added ones raise the task's throughput: a probe adds one (later two) to a
// source, waits until they deliver, and compares the task's rate over a window with the rate
// over the window before; a gain of at least half of what one of that source's connections
// gave keeps them and allows the next probe, less retires them and holds the source at that
// count for a while. One probe runs at a time, for the whole task, so that two sources behind
// one bottleneck cannot each take the other's share for a gain.
//
// Where a round trip is long, waiting for a measurement before each step would cost round
// trips that dwarf what a connection too many costs there (a few idle slots on the server,
// nothing on our CPU at such rates): such a source gets its connections at once. So does one
// whose connections each carry only a few MB/s (the planner says which), where an extra one
// costs our CPU next to nothing and a server that paces in ticks would need windows of seconds,
// and one whose server ends connections after a few requests each.
//
// A server that turns a connection away gets one fewer, and no new one before a hold-down
// has passed; then probing begins again, so that refusals never shrink the count for good.
// Pure arithmetic on a clock passed in; tested natively.
#pragma once

#include <cstdint>
#include <vector>

namespace xldl {

class TGrowth {
public:
    // A window over which rates are compared: at least this long...
    static constexpr uint32_t MinWindowMs = 120;
    // ...and until this many bytes came, but no longer than this.
    static constexpr int64_t WindowBytes = 512 * 1024;
    static constexpr uint32_t MaxWindowMs = 400;
    // How long a source is held at its count after a probe gained nothing or a refusal.
    static constexpr uint32_t HoldMs = 15000;
    // Added connections that have not delivered by then count as having added nothing.
    static constexpr uint32_t JoinTimeoutMs = 3000;

    void Reset(int sources, uint64_t nowMs);

    // `bytes` of `source` were written.
    void Delivered(int source, int64_t bytes, uint64_t nowMs);
    // A connection of `source` began to deliver.
    void Joined(int source, uint64_t nowMs);
    // A delivering connection of `source` stopped (ended, failed or retired).
    void Stopped(int source, uint64_t nowMs);
    // The server of `source` turned a connection away.
    void Refused(int source, uint64_t nowMs);

    // The connections `source` should have now. `allowed`: the most it may have (0 when it may
    // not be used); `far`: its round trip is long (connections at once).
    int Target(int source, int allowed, bool far, uint64_t nowMs);
    // Whether a probe is measuring now (a connection that would join meanwhile spoils it).
    bool Probing() const { return Probe.Source >= 0; }

private:
    struct TSourceGrowth {
        int Target = 1;
        int Allowed = 0;       // as last said
        int Flowing = 0;       // connections delivering
        uint64_t RaisedMs = 0; // when Target last grew
        uint64_t HoldUntil = 0;
        bool Strong = false; // the last probe gained about a whole connection per connection
    };
    struct TProbe {
        int Source = -1;
        int Added = 0;
        int Joined = 0;
        int64_t Baseline = 0; // the task's bytes per second before
        int64_t PerConnection = 0;
        uint64_t AskedMs = 0;
        uint64_t FlowMs = 0; // when all the added ones delivered
    };
    struct TSample {
        uint64_t Ms;
        int64_t Total;
        std::vector<int64_t> BySource;
    };

    // Bytes per second over [fromMs, toMs] (-1 for `source`: the task's).
    int64_t Rate(uint64_t fromMs, uint64_t toMs, int source) const;
    int64_t Cumulative(uint64_t ms, int source) const;
    // Whether [fromMs, nowMs] is long enough and held enough bytes to compare.
    bool WindowDone(uint64_t fromMs, uint64_t nowMs) const;
    void Sample(uint64_t nowMs);
    void Decide(uint64_t nowMs);
    void MaybeProbe(int source, int allowed, uint64_t nowMs);

    std::vector<TSourceGrowth> Sources;
    std::vector<TSample> Samples; // cumulative bytes over time, oldest first
    int64_t Total = 0;
    std::vector<int64_t> BySource;
    uint64_t LastChangeMs = 0; // when the set of delivering connections last changed
    TProbe Probe;
};

} // namespace xldl
