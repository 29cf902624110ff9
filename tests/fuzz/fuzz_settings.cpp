// The tunables as the environment gives them: any text leaves every value within its range.
#include "FuzzCheck.h"

#include "xldl/core/Settings.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <map>

using namespace xldl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    std::map<std::string, std::string> env;
    for (const char* name :
         {"XLDL_STALL_MS", "XLDL_RETRY_BASE_MS", "XLDL_RETRY_CAP_MS", "XLDL_GIVE_UP_MS",
          "XLDL_MAX_CONNECTIONS", "XLDL_SEGMENT_BYTES", "XLDL_RENAME_WAIT_MS", "XLDL_RECORD_MS",
          "XLDL_STALE_DAYS", "XLDL_TRACE"})
        if (in.ConsumeBool()) env[name] = in.ConsumeRandomLengthString(24);
    const TSettings s = LoadSettings([&env](const char* name) -> std::optional<std::string> {
        const auto it = env.find(name);
        if (it == env.end()) return std::nullopt;
        return it->second;
    });
    FUZZ_CHECK(s.StallMs >= 50 && s.StallMs <= 3600000);
    FUZZ_CHECK(s.RetryBaseMs >= 1 && s.RetryBaseMs <= 600000);
    FUZZ_CHECK(s.RetryCapMs >= s.RetryBaseMs && s.RetryCapMs <= 3600000);
    FUZZ_CHECK(s.GiveUpMs <= 86400000);
    FUZZ_CHECK(s.MaxConnections >= 1 && s.MaxConnections <= 4);
    FUZZ_CHECK(s.SegmentBytes >= 65536 && s.SegmentBytes <= int64_t{1} << 40);
    FUZZ_CHECK(s.RenameWaitMs <= 600000);
    FUZZ_CHECK(s.RecordMs >= 50 && s.RecordMs <= 600000);
    FUZZ_CHECK(s.StaleDays >= 1 && s.StaleDays <= 3650);
    return 0;
}
