// HTTP dates (Last-Modified, Retry-After) in their three forms: a date is a real one of years
// 0 to 9999, written out again it reads back the same, and nothing overflows on the way.
#include "FuzzCheck.h"

#include "xldl/core/HttpHeaders.h"

#include <algorithm>
#include <cinttypes>

using namespace xldl;

namespace {

// The IMF-fixdate of `epoch` (days from civil, the other way round).
std::string Format(int64_t epoch) {
    int64_t days = epoch / 86400, seconds = epoch % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2);
    static const char* const names[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text,
                  "%s, %02" PRId64 " %s %04" PRId64 " %02" PRId64 ":%02" PRId64 ":%02" PRId64
                  " GMT",
                  names[((days % 7) + 7) % 7], day, months[month - 1], year, seconds / 3600,
                  seconds / 60 % 60, seconds % 60);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = fuzz::Text(data, size);
    const auto when = ParseHttpDate(text);
    if (when) {
        // 0000-01-01 to 9999-12-31 23:59:60.
        FUZZ_CHECK(*when >= -62167219200 && *when <= 253402300800);
        const std::string again = Format(*when);
        FUZZ_CHECK(ParseHttpDate(again) == when);
    }
    for (int64_t now : {int64_t{0}, int64_t{1700000000}, int64_t{253402300800}}) {
        const auto wait = ParseRetryAfter(text, now);
        if (wait) FUZZ_CHECK(*wait >= 0);
        if (when && wait && !ParseByteCount(text))
            FUZZ_CHECK(*wait == std::max<int64_t>(0, *when - now));
    }
    return 0;
}
