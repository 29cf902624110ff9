#include "xldl/core/SealKey.h"

namespace xldl {

TSealKey ObtainSealKey(const TKeyStore& store) {
    TKeptKey kept = store.Read();
    if (kept.Kept == TKeyKept::None) {
        std::vector<uint8_t> made;
        if (!store.Make(made) || made.size() != SealKeyBytes) return {}; // nothing to seal with
        store.KeepIfNone(made);
        volatile uint8_t* wipe = made.data();
        for (size_t i = 0; i < made.size(); ++i)
            wipe[i] = 0;
        // Another process may have kept one first: whichever is kept counts.
        kept = store.Read();
    }
    switch (kept.Kept) {
    case TKeyKept::None: // nowhere to keep one: nothing sealed
        return {};
    case TKeyKept::Key:
        if (kept.Key.size() == SealKeyBytes) return {kept.Key, false};
        break;
    case TKeyKept::Unreadable:
        break;
    }
    return {{}, true};
}

} // namespace xldl
