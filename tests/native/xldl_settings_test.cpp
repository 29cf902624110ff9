// Tunables from the environment: numbers in range take effect, the rest is ignored.
#include "xldl/core/Settings.h"

#include <gtest/gtest.h>

#include <map>

namespace xldl {
namespace {

TSettings From(const std::map<std::string, std::string>& env) {
    return LoadSettings([&](const char* name) -> std::optional<std::string> {
        const auto it = env.find(name);
        if (it == env.end()) return std::nullopt;
        return it->second;
    });
}

TEST(Settings, NumbersInRangeOverrideTheDefaults) {
    const TSettings d = From({});
    const TSettings s = From({{"XLDL_STALL_MS", "500"},
                              {"XLDL_RETRY_BASE_MS", "20"},
                              {"XLDL_RETRY_CAP_MS", "400"},
                              {"XLDL_GIVE_UP_MS", "3000"},
                              {"XLDL_MAX_CONNECTIONS", "2"},
                              {"XLDL_SEGMENT_BYTES", "6000000000"},
                              {"XLDL_RENAME_WAIT_MS", "0"},
                              {"XLDL_ATTEMPT_DELAY_MS", "100"}});
    EXPECT_EQ(s.StallMs, 500u);
    EXPECT_EQ(s.RetryBaseMs, 20u);
    EXPECT_EQ(s.RetryCapMs, 400u);
    EXPECT_EQ(s.GiveUpMs, 3000u);
    EXPECT_EQ(s.MaxConnections, 2u);
    EXPECT_EQ(s.SegmentBytes, 6000000000);
    EXPECT_EQ(s.RenameWaitMs, 0u);
    EXPECT_EQ(s.AttemptDelayMs, 100u);
    EXPECT_NE(d.StallMs, s.StallMs);
    EXPECT_NE(d.MaxConnections, s.MaxConnections);
}

TEST(Settings, BadValuesLeaveTheDefaults) {
    const TSettings d = From({});
    const TSettings s = From({{"XLDL_STALL_MS", "fast"},
                              {"XLDL_MAX_CONNECTIONS", "5"},
                              {"XLDL_GIVE_UP_MS", "-1"},
                              {"XLDL_SEGMENT_BYTES", ""},
                              {"XLDL_RETRY_BASE_MS", "2000"},
                              {"XLDL_RETRY_CAP_MS", "100"},
                              {"XLDL_ATTEMPT_DELAY_MS", "0"}});
    EXPECT_EQ(s.StallMs, d.StallMs);
    EXPECT_EQ(s.MaxConnections, d.MaxConnections);
    EXPECT_EQ(s.GiveUpMs, d.GiveUpMs);
    EXPECT_EQ(s.SegmentBytes, d.SegmentBytes);
    EXPECT_EQ(s.AttemptDelayMs, d.AttemptDelayMs) << "a race needs a head start";
    EXPECT_EQ(s.RetryCapMs, 2000u) << "the cap is never below the base";
}

TEST(Settings, HttpsIsTriedFirstOnThePortsNamed) {
    struct {
        const char* Value; // nullptr: not set
        uint16_t Plain, Expected;
    } cases[] = {
        {nullptr, 80, 443},   {nullptr, 8080, 0}, {"0", 80, 0},     {"8080:8443", 8080, 8443},
        {"8080:8443", 80, 0}, {"1:2,3:4", 3, 4},  {"80:", 80, 443}, {"80:99999", 80, 443},
        {"x:1", 80, 443},     {"", 80, 443}};
    for (const auto& c : cases) {
        const TSettings s = c.Value ? From({{"XLDL_HTTPS_PORTS", c.Value}}) : From({});
        EXPECT_EQ(HttpsPortFor(s, c.Plain), c.Expected) << (c.Value ? c.Value : "(unset)");
    }
}

} // namespace
} // namespace xldl
