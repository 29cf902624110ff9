// The user's sealing key: made once, kept only where none is, the kept one counting for every
// process, never replaced when it cannot be read; seals compared whole.
#include "xldl/core/Hashes.h"
#include "xldl/core/SealKey.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include "xldl/UserKey.h"

#include <windows.h>
#endif

#include <optional>
#include <utility>

namespace xldl {
namespace {

const std::vector<uint8_t> Mine(SealKeyBytes, 0x11), Theirs(SealKeyBytes, 0x22);

// A store holding `Stored`; `Other` is kept by another process right after the first read.
struct TFakeStore {
    TKeptKey Stored = {};
    std::optional<TKeptKey> Other = std::nullopt;
    bool CanMake = true, CanKeep = true, ReadsBack = true;
    size_t Kept = 0;
    TKeyStore Store() {
        return {[this] {
                    const TKeptKey now = Stored;
                    if (Other) Stored = *std::exchange(Other, std::nullopt);
                    return now;
                },
                [this](std::vector<uint8_t>& key) {
                    key = Mine;
                    return CanMake;
                },
                [this](const std::vector<uint8_t>& key) {
                    if (Stored.Kept != TKeyKept::None || !CanKeep) return;
                    ++Kept;
                    Stored = ReadsBack ? TKeptKey{TKeyKept::Key, key}
                                       : TKeptKey{TKeyKept::Unreadable, {}};
                }};
    }
};

TEST(SealKey, MadeOnceKeptWhereNoneIsAndNeverReplaced) {
    const TKeptKey none{}, unreadable{TKeyKept::Unreadable, {}}, theirs{TKeyKept::Key, Theirs};
    const struct {
        const char* What;
        TFakeStore Store;
        std::vector<uint8_t> Key;
        bool Unreadable;
        size_t Kept;
    } cases[] = {
        {"kept", {.Stored = theirs}, Theirs, false, 0},
        {"kept, unreadable this run", {.Stored = unreadable}, {}, true, 0},
        {"kept, of another length",
         {.Stored = {TKeyKept::Key, std::vector<uint8_t>(16, 1)}},
         {},
         true,
         0},
        {"none: made, kept, read back", {.Stored = none}, Mine, false, 1},
        {"none, then another process's first", {.Stored = none, .Other = theirs}, Theirs, false, 0},
        {"none, and nowhere to keep one", {.Stored = none, .CanKeep = false}, {}, false, 0},
        {"none, and unreadable once kept", {.Stored = none, .ReadsBack = false}, {}, true, 1},
        {"none, and none can be made", {.Stored = none, .CanMake = false}, {}, false, 0},
    };
    for (const auto& c : cases) {
        TFakeStore store = c.Store;
        const TSealKey key = ObtainSealKey(store.Store());
        EXPECT_EQ(key.Key, c.Key) << c.What;
        EXPECT_EQ(key.Unreadable, c.Unreadable) << c.What;
        EXPECT_EQ(store.Kept, c.Kept) << c.What;
    }
}

#ifdef _WIN32
TEST(SealKey, TwoMakersInTheRegistryBothUseTheOneKept) {
    // The second, in another session, found none too and keeps its key while the first is
    // about to keep its own.
    const std::string path = "Software\\Orlenz\\SealKeyRace";
    RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
    TSealKey second;
    const TSealKey first = ObtainSealKey(
        RegistryKeyStore(path, [&] { second = ObtainSealKey(RegistryKeyStore(path)); }));
    EXPECT_EQ(first.Key.size(), SealKeyBytes);
    EXPECT_EQ(first.Key, second.Key);
    EXPECT_EQ(ObtainSealKey(RegistryKeyStore(path)).Key, first.Key) << "the one kept";
    RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
}
#endif

TEST(SealKey, SecretsAreTheSameOnlyWhole) {
    const std::string seal(64, 'a');
    for (const auto& [other, same] :
         {std::pair{seal, true}, std::pair{"b" + seal.substr(1), false},
          std::pair{seal.substr(1) + "b", false}, std::pair{seal.substr(1), false},
          std::pair{seal + "a", false}, std::pair{std::string(), false}})
        EXPECT_EQ(SameSecret(seal, other), same) << other;
}

} // namespace
} // namespace xldl
