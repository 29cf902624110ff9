// Racing a host's address families when connecting: in which order its addresses are tried,
// when each next attempt starts, and what a race teaches about the host.
//
// Many home networks hand out IPv6 addresses whose routes are broken: a connection attempt to
// one is swallowed without a word, and trying a host's addresses one after the other would cost
// every connection the whole connect timeout before IPv4 is tried. So the families alternate,
// each next attempt starts after a short head start of the one before (on a timer, not on that
// one's failure, which Windows reports late) or at once when every attempt so far has failed,
// and the first to connect wins. A family that let a host down leads for it no more until it
// has worked again, so later connections of the task do not wait out the head start again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace xldl {

enum class TFamily : uint8_t { V4, V6 };

// A set of families, as bits.
using TFamilies = uint8_t;
constexpr TFamilies FamilyBit(TFamily f) {
    return static_cast<TFamilies>(1u << static_cast<unsigned>(f));
}

// The order in which to try a host's addresses, given their families in the order the system
// listed them (its preference): indices into `listed`. The leading family's first address,
// then the other family's first, then alternately, each family keeping the system's order.
// The system's first family leads unless it is `failing` and the other is not.
std::vector<size_t> AttemptOrder(const std::vector<TFamily>& listed, TFamilies failing);

// One race of connection attempts, in the order of AttemptOrder. The caller starts what
// Start hands out, waits at most UntilNext, and reports how each attempt ends. Times are
// milliseconds on any steady clock.
class TAttemptRace {
public:
    TAttemptRace(std::vector<TFamily> attempts, uint32_t delayMs);

    // The attempt to start at `nowMs`, if one is due (it then counts as started): the first
    // at once, each next one `delayMs` after the one before, or at once when every attempt
    // started so far has failed. None once an attempt has connected.
    std::optional<size_t> Start(uint64_t nowMs);
    // How long after `nowMs` the next attempt is due; nothing when none is left to start or
    // the race is won (then only an attempt's end can change anything).
    std::optional<uint32_t> UntilNext(uint64_t nowMs) const;
    void Failed(size_t attempt);
    void Connected(size_t attempt);

    std::optional<size_t> Winner() const { return Won; }
    // Every attempt was started and has failed: the host cannot be reached now.
    bool Lost() const;
    // What the race showed, for THostFamilies: the winner's family worked; a family failed
    // when an attempt of it failed, or when it had a head start on the winner and still had
    // not connected. Families of attempts that merely lost a close race show nothing.
    TFamilies Worked() const;
    TFamilies Failing() const;

private:
    enum class TState : uint8_t { Waiting, Running, Failed, Connected };
    struct TAttempt {
        TFamily Family;
        TState State = TState::Waiting;
    };
    std::vector<TAttempt> Attempts;
    uint32_t DelayMs;
    size_t Started = 0;
    uint64_t LastStartMs = 0;
    std::optional<size_t> Won;
};

// What the connections of one task have learned of their hosts' families: which failed and
// have not worked since. Host names compare without regard to case.
class TFamilyMemory {
public:
    TFamilies Failing(const std::string& host) const;
    void Learn(const std::string& host, TFamilies worked, TFamilies failing);

private:
    std::map<std::string, TFamilies> Hosts;
};

// An http mirror is tried over https beside its plain connection. How much longer the task's
// first request waits for that try, `elapsedMs` after it began: a head start of `headStartMs`
// while the server's port says nothing (a firewall that drops, not refuses: the try would wait
// out its whole time), the try's whole time `tryMs` once the port has answered (a handshake
// under way), nothing after.
uint32_t HttpsWaitLeftMs(bool portAnswered, uint32_t elapsedMs, uint32_t headStartMs,
                         uint32_t tryMs);

} // namespace xldl
