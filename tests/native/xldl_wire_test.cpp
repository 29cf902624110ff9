// HTTP/1.1 on the wire: requests, where heads end, how bodies are framed, and the chunked
// coding undone across any split of the bytes.
#include "xldl/core/HttpWire.h"

#include <gtest/gtest.h>

#include <string>

namespace xldl {
namespace {

TEST(Wire, RequestsInOriginAndAbsoluteForm) {
    const TUrl url = *ParseUrl("http://dl1.orlenz.com:8080/service/setup.exe?x=1");
    const std::string direct = FormatGetRequest(url, false, "Range: bytes=0-9\r\n");
    EXPECT_EQ(
        direct.rfind("GET /service/setup.exe?x=1 HTTP/1.1\r\nHost: dl1.orlenz.com:8080\r\n", 0), 0u)
        << direct;
    EXPECT_NE(direct.find("\r\nRange: bytes=0-9\r\n\r\n"), std::string::npos) << direct;
    const std::string proxied = FormatGetRequest(url, true, "");
    EXPECT_EQ(proxied.rfind("GET http://dl1.orlenz.com:8080/service/setup.exe?x=1 HTTP/1.1\r\n", 0),
              0u);
    const TUrl tls = *ParseUrl("https://dl2.orlenz.com/a");
    EXPECT_NE(FormatGetRequest(tls, false, "").find("Host: dl2.orlenz.com\r\n"), std::string::npos)
        << "the scheme's own port is not written";
    EXPECT_EQ(FormatConnectRequest("dl2.orlenz.com", 443),
              "CONNECT dl2.orlenz.com:443 HTTP/1.1\r\nHost: dl2.orlenz.com:443\r\n"
              "User-Agent: xldl/2.0\r\n\r\n");
}

TEST(Wire, HeadEndsAtTheFirstBlankLine) {
    EXPECT_EQ(FindHeadEnd("HTTP/1.1 200 OK\r\nA: b\r\n\r\nbody"), 25u);
    EXPECT_EQ(FindHeadEnd("HTTP/1.1 200 OK\nA: b\n\nbody"), 22u);
    EXPECT_EQ(FindHeadEnd("HTTP/1.1 200 OK\r\nA: b\r\n"), 0u);
    EXPECT_EQ(FindHeadEnd("HTTP/1.1 200 OK\r\nA: b\r\n\r"), 0u);
    EXPECT_EQ(FindHeadEnd(""), 0u);
}

THeaders Head(const std::string& text) {
    return ParseHeaderBlock(text);
}

TEST(Wire, BodyFramingAndWhetherTheConnectionStays) {
    auto f = BodyFraming(Head("HTTP/1.1 206 Partial\r\nContent-Length: 42\r\n"));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Kind, TFraming::Length);
    EXPECT_EQ(f->Length, 42);
    EXPECT_TRUE(KeepsAlive(Head("HTTP/1.1 206 Partial\r\nContent-Length: 42\r\n"), *f));
    EXPECT_FALSE(KeepsAlive(Head("HTTP/1.1 200 OK\r\nConnection: Close\r\n"), *f));
    EXPECT_FALSE(KeepsAlive(Head("HTTP/1.0 200 OK\r\n"), *f));
    EXPECT_TRUE(KeepsAlive(Head("HTTP/1.0 200 OK\r\nConnection: keep-alive\r\n"), *f));

    f = BodyFraming(Head("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n"));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Kind, TFraming::Chunked) << "the coding wins over a length";
    f = BodyFraming(Head("HTTP/1.1 200 OK\r\n"));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Kind, TFraming::Close);
    EXPECT_FALSE(KeepsAlive(Head("HTTP/1.1 200 OK\r\n"), *f)) << "its end is the connection's";
    f = BodyFraming(Head("HTTP/1.1 304 Not Modified\r\nContent-Length: 99\r\n"));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Kind, TFraming::None);
    f = BodyFraming(Head("HTTP/1.1 200 OK\r\nContent-Length: 7, 7\r\n"));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Length, 7);

    for (const char* bad : {"HTTP/1.1 200 OK\r\nContent-Length: 7\r\nContent-Length: 8\r\n",
                            "HTTP/1.1 200 OK\r\nContent-Length: 7, 8\r\n",
                            "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n",
                            "HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n",
                            "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n",
                            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n",
                            "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n"})
        EXPECT_FALSE(BodyFraming(Head(bad))) << bad;
}

// Feeds `wire` to a decoder in pieces of `step` bytes (carrying unconsumed bytes over, as a
// connection does) and returns the body, or "<error>".
std::string Decode(const std::string& wire, size_t step, size_t* leftover = nullptr) {
    TChunkedDecoder d;
    std::string body, pending;
    size_t fed = 0;
    for (;;) {
        if (fed < wire.size() && (pending.empty() || step == 1)) {
            const size_t n = std::min(step, wire.size() - fed);
            pending += wire.substr(fed, n);
            fed += n;
        }
        const auto r = d.Next(reinterpret_cast<const uint8_t*>(pending.data()), pending.size());
        if (r.Step == TChunkedDecoder::TStep::Error) return "<error>";
        if (r.Step == TChunkedDecoder::TStep::Data) body.append(pending, r.Offset, r.Length);
        pending.erase(0, r.Consumed);
        if (r.Step == TChunkedDecoder::TStep::End) {
            if (leftover) *leftover = pending.size() + (wire.size() - fed);
            return body;
        }
        if (r.Step == TChunkedDecoder::TStep::NeedMore && fed == wire.size() && pending.empty())
            return "<short>";
    }
}

TEST(Wire, ChunkedBodiesDecodeWhateverTheSplit) {
    const std::string wire = "5;name=value\r\nhello\r\n1A\r\n" + std::string(26, 'x') +
                             "\r\n0\r\nTrailer: yes\r\n\r\nHTTP/1.1 206";
    for (size_t step : {1u, 2u, 3u, 7u, 64u, 4096u}) {
        size_t leftover = 0;
        EXPECT_EQ(Decode(wire, step, &leftover), "hello" + std::string(26, 'x')) << step;
        EXPECT_EQ(leftover, 12u) << "the next response's bytes are not eaten (" << step << ")";
    }
    EXPECT_EQ(Decode("0\r\n\r\n", 1), "");
    EXPECT_EQ(Decode("3\nabc\n0\n\n", 1), "abc") << "bare line feeds";
    EXPECT_EQ(Decode("5\r\nhel", 2), "<short>");
    for (const char* bad : {"x\r\n", "\r\n", "3\r\nabcX\r\n0\r\n\r\n", "1000000000000000\r\n"})
        EXPECT_EQ(Decode(bad, 1), "<error>") << bad;
    EXPECT_EQ(Decode("1;" + std::string(5000, 'e') + "\r\nA\r\n0\r\n\r\n", 64), "<error>")
        << "an endless extension";
}

} // namespace
} // namespace xldl
