// The first line of an answer: either an HTTP/1.x version and a status the engine knows how to
// treat, or nothing at all; a head whose first line is that line says the same.
#include "FuzzCheck.h"

#include "xldl/core/HttpHeaders.h"

using namespace xldl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line = fuzz::Text(data, size);
    const auto status = ParseStatusLine(line);
    if (line.find('\n') == std::string_view::npos && (line.empty() || line.back() != '\r')) {
        const THeaders head = ParseHeaderBlock(std::string(line) + "\r\nA: b\r\n\r\n");
        FUZZ_CHECK(head.Status == (status ? status->Status : 0));
    }
    if (!status) return 0;
    FUZZ_CHECK(status->Status >= 100 && status->Status <= 599);
    FUZZ_CHECK(status->Version.size() == 8 && status->Version.compare(0, 7, "HTTP/1.") == 0);
    FUZZ_CHECK(line.compare(0, 8, status->Version) == 0);
    const auto again = ParseStatusLine(status->Version + " " + std::to_string(status->Status));
    FUZZ_CHECK(again && again->Status == status->Status && again->Version == status->Version);
    return 0;
}
