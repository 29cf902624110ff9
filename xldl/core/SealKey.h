// The rule of the user's sealing key (xldl/UserKey keeps it on Windows): made once and then
// only ever read. It is written only where none is kept, then read back, so that every process
// uses the one kept, whichever made it; and a key that is kept but cannot be read (the system's
// protection failed this once, the value is damaged) is never replaced: that would make every
// state and record sealed with it worthless. Apart from the store, so that it is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace xldl {

constexpr size_t SealKeyBytes = 32;

enum class TKeyKept {
    None,       // none is kept
    Unreadable, // one is kept and could not be read
    Key,
};

struct TKeptKey {
    TKeyKept Kept = TKeyKept::None;
    std::vector<uint8_t> Key;
};

// Where the key is kept, and how a new one is made.
struct TKeyStore {
    std::function<TKeptKey()> Read;
    // A new random key; false when the system cannot make one.
    std::function<bool(std::vector<uint8_t>& key)> Make;
    // Keeps `key` only where none is kept: never over one, readable or not, and of several
    // makers at once (whatever their sessions), one alone keeps its key.
    std::function<void(const std::vector<uint8_t>& key)> KeepIfNone;
};

struct TSealKey {
    std::vector<uint8_t> Key; // empty: nothing is sealed with a key of the user's
    // A key is kept but could not be read: this run seals nothing, believes no state or record
    // and writes or removes none of those it finds, so that they are good again once it reads.
    bool Unreadable = false;
};

TSealKey ObtainSealKey(const TKeyStore& store);

} // namespace xldl
