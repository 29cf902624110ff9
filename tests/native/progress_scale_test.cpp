#include "app/ProgressScale.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(ProgressValues, SizesThatFitGoToTheBarAsTheyAre) {
    const TProgressValues v = ProgressValues(3670016, 524288);
    EXPECT_EQ(v.Max, 3670016);
    EXPECT_EQ(v.Position, 524288);
    const TProgressValues last = ProgressValues(INT32_MAX, INT32_MAX - 1);
    EXPECT_EQ(last.Max, INT32_MAX);
    EXPECT_EQ(last.Position, INT32_MAX - 1);
}

TEST(ProgressValues, LargeSizesKeepTheirProportionWithinThirtyTwoBits) {
    struct Case {
        int64_t Total, Done;
    };
    for (const Case c :
         {Case{INT64_C(2147483648), INT64_C(1073741824)}, Case{INT64_C(5) << 30, INT64_C(1) << 30},
          Case{INT64_C(0x7FFFFFFFFFFF), INT64_C(0x3FFFFFFFFFFF)}, Case{INT64_MAX, INT64_MAX / 4}}) {
        const TProgressValues v = ProgressValues(c.Total, c.Done);
        EXPECT_GT(v.Max, INT32_MAX / 2) << c.Total; // no precision thrown away
        const double shown = static_cast<double>(v.Position) / v.Max;
        const double real = static_cast<double>(c.Done) / static_cast<double>(c.Total);
        EXPECT_NEAR(shown, real, 1e-6) << c.Total;
    }
}

TEST(ProgressValues, EdgesOfTheRange) {
    // A total of 0: empty bar, whatever has arrived.
    EXPECT_EQ(ProgressValues(0, 3072).Max, 0);
    EXPECT_EQ(ProgressValues(0, 3072).Position, 3072);
    // More received than announced: the position stays above the maximum (a full bar), even
    // when it no longer fits 32 bits.
    const TProgressValues over = ProgressValues(1000, INT64_C(1) << 40);
    EXPECT_EQ(over.Max, 1000);
    EXPECT_EQ(over.Position, INT32_MAX);
    // No total known: an empty bar rather than a reversed range.
    EXPECT_EQ(ProgressValues(-1, 500).Max, 0);
}
