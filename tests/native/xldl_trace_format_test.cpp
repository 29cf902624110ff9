// The traces' own formatter against the C library's printf, for what the traces use, and what
// it does at a conversion it does not know.
#include "xldl/core/TraceFormat.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

template <class... A> void Same(const char* format, A... args) {
    char ours[64], theirs[64];
    xldl::FormatTraceArgs(ours, sizeof ours, format, args...);
    std::snprintf(theirs, sizeof theirs, format, args...);
    EXPECT_STREQ(ours, theirs) << format;
}

} // namespace

TEST(TraceFormat, WritesWhatPrintfWrites) {
    Same("c%d source %d dead, error %u", 3, -1, 4000000000u);
    Same("%d %i %d", INT_MIN, INT_MAX, 0);
    Same("%lld of %llu, %lu", LLONG_MIN, ULLONG_MAX, 4294967295ul);
    Same("%zu %x %X %hhu %hd", SIZE_MAX, 0xbeefu, 0xbeefu, 300, 70000);
    Same("[%5d|%-5d|%05d|%05d|%-3s|%4s|%c]", 42, 42, 42, -42, "a", "abcdef", 'z');
    Same("100%% %s", "done");
    Same("%5lld.%03lld ", 12LL, 7LL);
}

TEST(TraceFormat, CutsToFitAndStopsAtWhatItDoesNotKnow) {
    char text[8];
    EXPECT_EQ(xldl::FormatTraceArgs(text, sizeof text, "%s", "0123456789"), 7u);
    EXPECT_STREQ(text, "0123456");
    char more[64];
    xldl::FormatTraceArgs(more, sizeof more, "a %d %.2f %s", 1, 2.5, "never read");
    EXPECT_STREQ(more, "a 1 %.2f %s");
}
