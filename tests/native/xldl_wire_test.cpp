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
    EXPECT_NE(direct.find("\r\nAccept-Encoding: identity\r\n"), std::string::npos)
        << "the file's bytes as they are, never a coded body";
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

// Feeds `wire` to a head reader in pieces of `step` bytes, keeping what it did not consume as
// a connection does: the step it ended on, the status read, and the bytes left behind it.
struct THeadRun {
    THeadReader::TStep Step = THeadReader::TStep::NeedMore;
    int Status = 0;
    int Interims = 0;
    std::string Rest;
};
THeadRun ReadHead(const std::string& wire, size_t step) {
    THeadReader reader;
    THeadRun run;
    std::string pending;
    for (size_t fed = 0;;) {
        const size_t n = std::min(step, wire.size() - fed);
        pending += wire.substr(fed, n);
        fed += n;
        const auto r = reader.Next(pending);
        pending.erase(0, r.Consumed);
        run.Step = r.Step;
        run.Interims = reader.Interims();
        if (r.Step != THeadReader::TStep::NeedMore || fed == wire.size()) {
            pending += wire.substr(fed);
            break;
        }
    }
    run.Status = run.Step == THeadReader::TStep::Head ? reader.Head().Status : 0;
    run.Rest = pending;
    return run;
}

TEST(Wire, InterimAnswersAreSkippedWithinTheHeadsLimit) {
    const std::string interims = "HTTP/1.1 100 Continue\r\n\r\n"
                                 "HTTP/1.1 103 Early Hints\r\nLink: </a.css>; rel=preload\r\n\r\n";
    const std::string answer = "HTTP/1.1 206 Partial\r\nContent-Length: 4\r\n\r\nbody";
    for (size_t step : {1u, 5u, 64u, 100000u}) {
        const THeadRun run = ReadHead(interims + answer, step);
        EXPECT_EQ(run.Step, THeadReader::TStep::Head) << step;
        EXPECT_EQ(run.Status, 206) << step;
        EXPECT_EQ(run.Interims, 2) << step;
        EXPECT_EQ(run.Rest.substr(0, 4), "body") << "the body is not eaten (" << step << ")";
    }
    EXPECT_EQ(ReadHead("HTTP/1.1 101 Switching\r\n\r\n" + answer, 7).Step, THeadReader::TStep::Bad)
        << "after a 101 the connection speaks something else";
    EXPECT_EQ(ReadHead("SSH-2.0-OpenSSH\r\n\r\n", 7).Step, THeadReader::TStep::Bad);
    EXPECT_EQ(ReadHead(interims, 7).Step, THeadReader::TStep::NeedMore);

    // A server that sends interim answers without end, or one endless head, is cut off once
    // they add up to the limit, however they are split.
    std::string flood;
    while (flood.size() < MaxHeadBytes + 1000)
        flood += "HTTP/1.1 100 Continue\r\n\r\n";
    for (size_t step : {size_t{4096}, size_t{65536}, MaxHeadBytes * 2}) {
        const THeadRun run = ReadHead(flood + answer, step);
        EXPECT_EQ(run.Step, THeadReader::TStep::TooLarge) << step;
        EXPECT_LE(run.Interims * 25, static_cast<int>(MaxHeadBytes)) << step;
    }
    const std::string endless = "HTTP/1.1 200 OK\r\n" + std::string(MaxHeadBytes, 'x');
    EXPECT_EQ(ReadHead(endless, 65536).Step, THeadReader::TStep::TooLarge);
    EXPECT_EQ(ReadHead(flood.substr(0, (MaxHeadBytes - 2000) / 25 * 25) + answer, 8192).Status, 206)
        << "many interim answers within the limit are still skipped";
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

TEST(Wire, TrailersWithoutEndAreCutOffAfterTheDataIsWhole) {
    // Lines of a proper length, but no end to them: the section is cut off at its limit, and
    // by then the data is known to be whole (the last chunk came).
    std::string wire = "5\r\nhello\r\n0\r\n";
    while (wire.size() < 2 * MaxTrailerBytes)
        wire += "X-Flood: " + std::string(60, 'f') + "\r\n";
    for (size_t step : {1u, 4096u, 1u << 20}) {
        TChunkedDecoder d;
        std::string body;
        size_t at = 0;
        TChunkedDecoder::TStep last = TChunkedDecoder::TStep::NeedMore;
        while (at < wire.size()) {
            const size_t n = std::min(step, wire.size() - at);
            const auto r = d.Next(reinterpret_cast<const uint8_t*>(wire.data()) + at, n);
            if (r.Step == TChunkedDecoder::TStep::Data) body.append(wire, at + r.Offset, r.Length);
            at += r.Consumed;
            last = r.Step;
            if (r.Step == TChunkedDecoder::TStep::Error || r.Step == TChunkedDecoder::TStep::End)
                break;
        }
        EXPECT_EQ(last, TChunkedDecoder::TStep::Error) << step;
        EXPECT_TRUE(d.DataComplete()) << step;
        EXPECT_EQ(body, "hello") << step;
        EXPECT_LE(at, MaxTrailerBytes + 20) << "read no further than the limit (" << step << ")";
    }
    // A fault before the last chunk leaves the data short.
    TChunkedDecoder d;
    const std::string bad = "5\r\nhelloX";
    d.Next(reinterpret_cast<const uint8_t*>(bad.data()), bad.size());
    EXPECT_EQ(d.Next(reinterpret_cast<const uint8_t*>(bad.data()) + 8, 1).Step,
              TChunkedDecoder::TStep::Error);
    EXPECT_FALSE(d.DataComplete());
    TChunkedDecoder pending;
    pending.Next(reinterpret_cast<const uint8_t*>("5\r\nhe"), 5);
    EXPECT_FALSE(pending.DataComplete());
}

} // namespace
} // namespace xldl
