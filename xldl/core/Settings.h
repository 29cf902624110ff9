// The engine's tunables and its proxy, read once at XL_Init from environment variables.
// Defaults suit real mirrors; tests shorten the waits to keep fault scenarios quick.
//
//   XLDL_STALL_MS          no byte for this long: the connection is dropped and resumed (30000)
//   XLDL_RETRY_BASE_MS     first retry delay, doubled per attempt, with jitter (1000)
//   XLDL_RETRY_CAP_MS      longest retry delay, also the cap on a server's Retry-After (60000)
//   XLDL_GIVE_UP_MS        no byte at all for this long, across every retry: the task fails
//                          (600000); answers that cannot change (404, 410) fail at once
//   XLDL_MAX_CONNECTIONS   connections per task when the server allows ranges, 1..4 (4)
//   XLDL_SEGMENT_BYTES     smallest share of the file worth an extra connection, and the most
//                          one request asks for (4194304)
//   XLDL_RENAME_WAIT_MS    how long a finished file waits for its name to come free (10000)
//   XLDL_RECORD_MS         how often the partial file is flushed and its state recorded (1000)
//   XLDL_STALE_DAYS        partial downloads left untouched this long are removed (7)
//   XLDL_ATTEMPT_DELAY_MS  the head start one address of a host gets before its next one (of
//                          the other family first) is tried too (250)
//   XLDL_TRACE             a file to write what each connection does, with times (none)
//   XLDL_PROXY_WAIT_MS     the longest a host's first connection waits for the automatic proxy
//                          settings (detection, script) before the manual ones decide (5000)
//   XLDL_HTTPS_PORTS       where an http:// mirror is tried over https first: "PLAIN:TLS"
//                          pairs of ports, comma-separated; "0" never (80:443)
//   http_proxy, https_proxy, no_proxy (or in capitals): explicit proxies, instead of the
//   system's settings (xldl/core/ProxyRules.h)
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace xldl {

struct TSettings {
    uint32_t StallMs = 30000;
    uint32_t RetryBaseMs = 1000;
    uint32_t RetryCapMs = 60000;
    uint32_t GiveUpMs = 600000;
    uint32_t MaxConnections = 4;
    int64_t SegmentBytes = 4 << 20;
    uint32_t RenameWaitMs = 10000;
    uint32_t RecordMs = 1000;
    uint32_t StaleDays = 7;
    uint32_t ProxyWaitMs = 5000;
    uint32_t AttemptDelayMs = 250;
    uint32_t MaxRedirects = 10;
    uint32_t MaxRestarts = 3;       // restarts from zero (file changed, range answers unusable)
    uint32_t MaxVerifyFailures = 2; // a file that fails its check this often is not fetched again
    std::string TracePath;
    // An http:// URL on the first port of a pair is tried as https:// on the second first.
    std::vector<std::pair<uint16_t, uint16_t>> HttpsPorts{{80, 443}};
};

// The port an http:// URL on `plainPort` is tried on over https first, or 0.
uint16_t HttpsPortFor(const TSettings& settings, uint16_t plainPort);

// `lookup` answers the value of an environment variable, or nothing. Values that are not
// plain numbers, or out of range, leave the default.
TSettings LoadSettings(const std::function<std::optional<std::string>(const char*)>& lookup);

} // namespace xldl
