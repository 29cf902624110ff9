// Which statuses are worth another try, and how long to wait before it.
#include "xldl/core/Retry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace xldl {
namespace {

TEST(Retry, StatusesFallIntoTheirClasses) {
    EXPECT_EQ(ClassifyStatus(200), TStatusClass::Whole);
    EXPECT_EQ(ClassifyStatus(206), TStatusClass::Partial);
    for (int s : {301, 302, 303, 307, 308})
        EXPECT_EQ(ClassifyStatus(s), TStatusClass::Redirect) << s;
    EXPECT_EQ(ClassifyStatus(416), TStatusClass::RangeRefused);
    for (int s : {408, 425, 429, 500, 502, 503, 504, 599})
        EXPECT_EQ(ClassifyStatus(s), TStatusClass::Transient) << s;
    for (int s : {204, 304, 400, 401, 403, 404, 410, 501, 505})
        EXPECT_EQ(ClassifyStatus(s), TStatusClass::Permanent) << s;
    EXPECT_TRUE(IsRefusal(503));
    EXPECT_TRUE(IsRefusal(429));
    EXPECT_FALSE(IsRefusal(500));
}

TEST(Retry, DelaysDoubleWithinTheirJitterBandUpToTheCap) {
    for (double unit : {0.0, 0.5, 0.999}) {
        for (unsigned attempt = 0; attempt < 12; ++attempt) {
            const uint64_t full = std::min<uint64_t>(100ull << attempt, 5000);
            const uint32_t d = RetryDelayMs(attempt, 100, 5000, unit);
            EXPECT_GE(d, full / 2) << attempt;
            EXPECT_LE(d, full) << attempt;
        }
    }
    EXPECT_EQ(RetryDelayMs(0, 100, 5000, 0.0), 50u);
    EXPECT_EQ(RetryDelayMs(3, 100, 5000, 0.0), 400u);
    EXPECT_EQ(RetryDelayMs(200, 100, 5000, 0.0), 2500u) << "no overflow for late attempts";
}

TEST(Retry, RetryAfterLengthensButStaysCapped) {
    EXPECT_EQ(RetryDelayMs(0, 100, 60000, 0.0, 3), 3000u);
    EXPECT_EQ(RetryDelayMs(0, 100, 60000, 0.0, 0), 50u) << "zero: just the backoff";
    EXPECT_EQ(RetryDelayMs(0, 100, 60000, 0.0, int64_t{1} << 40), 60000u);
    EXPECT_EQ(RetryDelayMs(10, 1000, 60000, 0.0, 1), 30000u) << "backoff longer than asked";
}

TEST(Retry, JitterIsDeterministicPerSeedAndInRange) {
    TJitter a(42), b(42), c(43);
    bool differs = false;
    double low = 1, high = 0;
    for (int i = 0; i < 1000; ++i) {
        const double x = a.Next();
        EXPECT_EQ(x, b.Next());
        if (x != c.Next()) differs = true;
        ASSERT_GE(x, 0.0);
        ASSERT_LT(x, 1.0);
        low = std::min(low, x);
        high = std::max(high, x);
    }
    EXPECT_TRUE(differs);
    EXPECT_LT(low, 0.05);
    EXPECT_GT(high, 0.95);
}

} // namespace
} // namespace xldl
