#include "xldl/core/Eyeballs.h"

#include "xldl/core/Text.h"

#include <algorithm>

namespace xldl {

namespace {

TFamily OtherFamily(TFamily f) {
    return f == TFamily::V4 ? TFamily::V6 : TFamily::V4;
}

} // namespace

std::vector<size_t> AttemptOrder(const std::vector<TFamily>& listed, TFamilies failing) {
    if (listed.empty()) return {};
    TFamily lead = listed.front();
    const TFamily other = OtherFamily(lead);
    const bool hasOther = std::find(listed.begin(), listed.end(), other) != listed.end();
    if ((failing & FamilyBit(lead)) && hasOther && !(failing & FamilyBit(other))) lead = other;
    std::vector<size_t> first, second;
    for (size_t i = 0; i < listed.size(); ++i)
        (listed[i] == lead ? first : second).push_back(i);
    std::vector<size_t> order;
    order.reserve(listed.size());
    for (size_t i = 0; i < first.size() || i < second.size(); ++i) {
        if (i < first.size()) order.push_back(first[i]);
        if (i < second.size()) order.push_back(second[i]);
    }
    return order;
}

TAttemptRace::TAttemptRace(std::vector<TFamily> attempts, uint32_t delayMs) : DelayMs(delayMs) {
    Attempts.reserve(attempts.size());
    for (TFamily f : attempts)
        Attempts.push_back({f});
}

std::optional<uint32_t> TAttemptRace::UntilNext(uint64_t nowMs) const {
    if (Won || Started == Attempts.size()) return std::nullopt;
    if (Started == 0) return 0;
    const bool allFailed = std::all_of(Attempts.begin(), Attempts.begin() + Started,
                                       [](const TAttempt& a) { return a.State == TState::Failed; });
    if (allFailed) return 0;
    const uint64_t due = LastStartMs + DelayMs;
    return nowMs >= due ? 0 : static_cast<uint32_t>(due - nowMs);
}

std::optional<size_t> TAttemptRace::Start(uint64_t nowMs) {
    const auto wait = UntilNext(nowMs);
    if (!wait || *wait > 0) return std::nullopt;
    Attempts[Started].State = TState::Running;
    LastStartMs = nowMs;
    return Started++;
}

void TAttemptRace::Failed(size_t attempt) {
    if (attempt < Started && Attempts[attempt].State == TState::Running)
        Attempts[attempt].State = TState::Failed;
}

void TAttemptRace::Connected(size_t attempt) {
    if (Won || attempt >= Started || Attempts[attempt].State != TState::Running) return;
    Attempts[attempt].State = TState::Connected;
    Won = attempt;
}

bool TAttemptRace::Lost() const {
    return !Won && std::all_of(Attempts.begin(), Attempts.end(),
                               [](const TAttempt& a) { return a.State == TState::Failed; });
}

TFamilies TAttemptRace::Worked() const {
    return Won ? FamilyBit(Attempts[*Won].Family) : TFamilies{0};
}

TFamilies TAttemptRace::Failing() const {
    TFamilies failing = 0;
    for (size_t i = 0; i < Started; ++i) {
        const TAttempt& a = Attempts[i];
        // Attempts start in their order, so one before the winner had a head start on it.
        const bool behind = Won && i < *Won && a.State == TState::Running;
        if (a.State == TState::Failed || behind) failing |= FamilyBit(a.Family);
    }
    return failing & static_cast<TFamilies>(~Worked());
}

TFamilies TFamilyMemory::Failing(const std::string& host) const {
    const auto it = Hosts.find(LowerText(host));
    return it == Hosts.end() ? TFamilies{0} : it->second;
}

void TFamilyMemory::Learn(const std::string& host, TFamilies worked, TFamilies failing) {
    if (!worked && !failing) return;
    TFamilies& known = Hosts[LowerText(host)];
    known = static_cast<TFamilies>((known | failing) & ~worked);
}

uint32_t HttpsWaitLeftMs(bool portAnswered, uint32_t elapsedMs, uint32_t headStartMs,
                         uint32_t tryMs) {
    const uint32_t bound = portAnswered ? tryMs : headStartMs;
    return elapsedMs < bound ? bound - elapsedMs : 0;
}

} // namespace xldl
