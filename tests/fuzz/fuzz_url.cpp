// URLs as a caller gives them (UTF-16), as a server's Location names them, and as they go into
// our request lines: a URL we take has nothing in it that could break a request, written out
// it reads back the same, and a request for it is a well-formed one.
#include "FuzzCheck.h"

#include "xldl/core/HttpWire.h"
#include "xldl/core/Url.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace xldl;

namespace {

void CheckUrl(const TUrl& u) {
    FUZZ_CHECK(!u.Host.empty() && u.Port != 0);
    FUZZ_CHECK(!u.Target.empty() && u.Target.front() == '/');
    for (const std::string* part : {&u.Host, &u.Target})
        for (char c : *part)
            FUZZ_CHECK(static_cast<unsigned char>(c) > 0x20 &&
                       static_cast<unsigned char>(c) < 0x7F);
    FUZZ_CHECK(u.Target.find('#') == std::string::npos);
    const auto again = ParseUrl(FormatUrl(u));
    FUZZ_CHECK(again && again->Secure == u.Secure && again->Host == u.Host &&
               again->Port == u.Port && again->Target == u.Target);
    for (bool proxy : {false, true})
        FUZZ_CHECK(fuzz::WellFormedRequest(FormatGetRequest(u, proxy, "Range: bytes=0-9\r\n")));
    FUZZ_CHECK(fuzz::WellFormedRequest(FormatConnectRequest(u.Host, u.Port)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string base = in.ConsumeRandomLengthString(512);
    const std::string reference = in.ConsumeRandomLengthString(512);
    const std::string wide = in.ConsumeRemainingBytesAsString();

    const auto u = ParseUrl(base);
    if (u) CheckUrl(*u);
    // A redirect is followed only to a URL we would take from a caller.
    const std::string from = u ? FormatUrl(*u) : base;
    if (const auto next = ParseUrl(ResolveReference(from, reference))) CheckUrl(*next);

    std::u16string text;
    for (size_t i = 0; i + 1 < wide.size(); i += 2)
        text += static_cast<char16_t>(static_cast<uint8_t>(wide[i]) |
                                      static_cast<uint8_t>(wide[i + 1]) << 8);
    const std::string ascii = UrlFromUtf16(text);
    for (char c : ascii)
        FUZZ_CHECK(static_cast<unsigned char>(c) < 0x80 && c != ' ');
    if (const auto given = ParseUrl(ascii)) CheckUrl(*given);
    return 0;
}
