// Reading response heads: lengths and ranges beyond 4 GiB, dates, validators, digests.
#include "xldl/core/HttpHeaders.h"

#include <gtest/gtest.h>

namespace xldl {
namespace {

TEST(ResponseHead, FieldsAreFoundByLowerCaseNameAndRepeatsJoin) {
    const THeaders h = ParseHeaderBlock("HTTP/1.1 206 Partial Content\r\n"
                                        "Content-Length: 10\r\n"
                                        "X-Note: one\r\n"
                                        "  continued\r\n"
                                        "no colon here\r\n"
                                        "x-note: two\r\n"
                                        "\r\n"
                                        "Body: not a field\r\n");
    EXPECT_EQ(h.Status, 206);
    EXPECT_EQ(h.Get("content-length"), "10");
    EXPECT_EQ(h.Get("x-note"), "one continued, two");
    EXPECT_FALSE(h.Get("body"));
    EXPECT_FALSE(h.Get("no colon here"));
    EXPECT_EQ(ParseHeaderBlock("HTTP/1.0 503\nRetry-After: 5\n").Get("retry-after"), "5");
    EXPECT_EQ(ParseHeaderBlock("garbage\r\n").Status, 0);
    // Found by fuzzing: a line of a bare CR and a colon made a field without a name. Lines
    // whose name is no token are not fields.
    const THeaders odd = ParseHeaderBlock("HTTP/1.1 200 OK\r\n\r: x\r\n: y\r\nA B: z\r\n"
                                          "Content\x01Length: 5\r\nX-Ok : w\r\n\r\n");
    ASSERT_EQ(odd.Fields.size(), 1u);
    EXPECT_EQ(odd.Get("x-ok"), "w");
}

TEST(ResponseHead, StatusLinesAreHttpOneWithThreeDigits) {
    struct {
        const char* Line;
        int Status; // 0: not a status line
    } cases[] = {
        {"HTTP/1.1 206 Partial Content", 206},
        {"HTTP/1.0 200 OK", 200},
        {"HTTP/1.1 404", 404},
        {"HTTP/1.1  503  Busy", 503},
        {"HTTP/1.1 100 Continue", 100},
        {"HTTP/1.1 599 x", 599},
        {"HTTP/1.1 099 Low", 0},
        {"HTTP/1.1 600 High", 0},
        {"HTTP/1.1 2000 OK", 0},
        {"HTTP/1.1 20 OK", 0},
        {"HTTP/1.1 200OK", 0},
        {"HTTP/1.1 +20 OK", 0},
        {"HTTP/2 200 OK", 0},
        {"HTTP/1.x 200 OK", 0},
        {"http/1.1 200 OK", 0},
        {"ICY 200 OK", 0},
        {" HTTP/1.1 200 OK", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        const auto line = ParseStatusLine(c.Line);
        EXPECT_EQ(line ? line->Status : 0, c.Status) << c.Line;
        EXPECT_EQ(ParseHeaderBlock(std::string(c.Line) + "\r\nA: b\r\n").Status, c.Status)
            << c.Line;
    }
    EXPECT_EQ(ParseStatusLine("HTTP/1.0 200 OK")->Version, "HTTP/1.0");
    for (int interim : {100, 102, 103, 199})
        EXPECT_TRUE(IsInterimStatus(interim)) << interim;
    for (int final : {101, 200, 99, 0})
        EXPECT_FALSE(IsInterimStatus(final)) << final << ": after a 101 no answer follows";
}

TEST(ResponseHead, ByteCountsAreDecimalAndSixtyThreeBit) {
    EXPECT_EQ(ParseByteCount(" 5368709127 "), 5368709127);
    EXPECT_EQ(ParseByteCount("9223372036854775807"), INT64_MAX);
    EXPECT_FALSE(ParseByteCount("9223372036854775808"));
    EXPECT_FALSE(ParseByteCount("-1"));
    EXPECT_FALSE(ParseByteCount("12a"));
    EXPECT_FALSE(ParseByteCount(""));
}

TEST(ResponseHead, ContentRangeFormsAndTheirLimits) {
    auto r = ParseContentRange("bytes 4294967296-5368709119/5368709120");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->First, 4294967296);
    EXPECT_EQ(r->Last, 5368709119);
    EXPECT_EQ(r->Total, 5368709120);
    EXPECT_FALSE(r->Unsatisfied);

    r = ParseContentRange("Bytes 0-9/*");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Total, -1);

    r = ParseContentRange("bytes */1000");
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->Unsatisfied);
    EXPECT_EQ(r->Total, 1000);

    EXPECT_FALSE(ParseContentRange("bytes 10-9/100")) << "last before first";
    EXPECT_FALSE(ParseContentRange("bytes 0-100/100")) << "last beyond the file";
    EXPECT_FALSE(ParseContentRange("bytes */*"));
    EXPECT_FALSE(ParseContentRange("items 0-9/10"));
    EXPECT_FALSE(ParseContentRange("bytes 0-9"));
    EXPECT_FALSE(ParseContentRange("bytes 0-9223372036854775807/*"))
        << "no room for the length of a range that ends at the last position";
    EXPECT_TRUE(ParseContentRange("bytes 0-9223372036854775806/*"));
}

TEST(ResponseHead, HttpDatesInAllThreeForms) {
    const int64_t expected = 784111777; // Sun, 06 Nov 1994 08:49:37 GMT
    EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), expected);
    EXPECT_EQ(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), expected);
    EXPECT_EQ(ParseHttpDate("Sun Nov  6 08:49:37 1994"), expected);
    EXPECT_EQ(ParseHttpDate("Thu, 01 Jan 1970 00:00:00 GMT"), 0);
    EXPECT_EQ(ParseHttpDate("Tue, 01 Mar 2100 00:00:00 GMT"), 4107542400);
    EXPECT_FALSE(ParseHttpDate("Sun, 06 Nov 1994 25:49:37 GMT"));
    EXPECT_FALSE(ParseHttpDate("Sun, 06 Foo 1994 08:49:37 GMT"));
    EXPECT_FALSE(ParseHttpDate("yesterday"));
    EXPECT_EQ(ParseHttpDate("Thu, 29 Feb 2024 12:00:00 GMT"), 1709208000);
    EXPECT_EQ(ParseHttpDate("Sunday, 06-Nov-1994 08:49:37 GMT"), expected) << "a long year";
    EXPECT_EQ(ParseHttpDate("sun, 06 nov 1994 08:49:37 GMT"), expected);
    EXPECT_EQ(ParseHttpDate("Tuesday, 01-Jan-69 00:00:00 GMT"), 3124224000) << "2069";
}

TEST(ResponseHead, DatesThatCannotBeAreNoDates) {
    // Years no clock shows, with as many digits as a count allows: nothing to overflow on.
    for (const char* absurd :
         {"Sun Nov  6 08:49:37 9223372036854775807", "Sun Nov  6 08:49:37 999999999999999",
          "Sunday, 06-Nov-9223372036854775807 08:49:37 GMT", "Sunday, 06-Nov-99999 08:49:37 GMT",
          "Sun, 06 Nov 99999 08:49:37 GMT", "Sun Nov  6 08:49:37 -1994",
          "Sun, 06 Nov 94 08:49:37 GMT", "Sun Nov  6 08:49:37 94"})
        EXPECT_FALSE(ParseHttpDate(absurd)) << absurd;
    EXPECT_FALSE(ParseRetryAfter("Sun Nov  6 08:49:37 9223372036854775807", INT64_MIN));
    // Days no month has, and parts out of place.
    for (const char* wrong : {"Sat, 29 Feb 2025 00:00:00 GMT", "Mon, 29 Feb 2100 00:00:00 GMT",
                              "Thu, 31 Apr 2026 00:00:00 GMT", "Sun, 00 Nov 1994 08:49:37 GMT",
                              "Sun, 006 Nov 1994 08:49:37 GMT", "Sun, 32 Jan 1994 08:49:37 GMT",
                              "Sun Nov 31 08:49:37 1994", "Sun, 06 Nov 1994 08:49:37 UTC",
                              "Sun, 06 Nov 1994 8:49:37 GMT"})
        EXPECT_FALSE(ParseHttpDate(wrong)) << wrong;
}

TEST(ResponseHead, AValidatorIsSentBackOnlyIfItCannotBreakOurLine) {
    // Whatever stands in a Last-Modified that is sent back in If-Range must be the date: a
    // CR in it would end our header line there (a header injected into our own request, to a
    // proxy too), and the state file could not record it.
    for (const char* modified :
         {"Sun\rX-Injected: 1, 06 Nov 1994 08:49:37 GMT", "Sun\nX: 1, 06 Nov 1994 08:49:37 GMT",
          "Sun\r, 06 Nov 1994 08:49:37 GMT", "Sun\x7f, 06 Nov 1994 08:49:37 GMT",
          "Sun\t, 06 Nov 1994 08:49:37 GMT", "Caturday, 06 Nov 1994 08:49:37 GMT",
          "X, 06 Nov 1994 08:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 GMT\x01"}) {
        THeaders h = ParseHeaderBlock("HTTP/1.1 200 OK\r\n");
        h.Fields.emplace_back("last-modified", modified);
        EXPECT_EQ(RangeValidator(h), "") << modified;
    }
    // The block parser takes a bare CR inside a line as part of the value.
    const THeaders wire = ParseHeaderBlock("HTTP/1.1 200 OK\r\nLast-Modified: Sun\rX-Evil: 1, "
                                           "06 Nov 1994 08:49:37 GMT\r\n\r\n");
    ASSERT_TRUE(wire.Get("last-modified"));
    EXPECT_EQ(RangeValidator(wire), "");
    for (const char* tag : {"\"a\x7f\"", "\"a\rb\"", "\"a\tb\"", "W/\"a\nb\""})
        EXPECT_FALSE(ParseEntityTag(tag)) << tag;
    EXPECT_TRUE(ParseEntityTag("\"caf\xc3\xa9\"")) << "bytes above ASCII are allowed in tags";
}

TEST(ResponseHead, OnlyTheBytesAsTheyAreAreTheFile) {
    const auto coded = [](const std::string& field) {
        return IsContentCoded(ParseHeaderBlock("HTTP/1.1 200 OK\r\n" + field + "\r\n"));
    };
    EXPECT_FALSE(coded("X-None: 1"));
    EXPECT_FALSE(coded("Content-Encoding: identity"));
    EXPECT_FALSE(coded("Content-Encoding: Identity, identity"));
    EXPECT_FALSE(coded("Content-Encoding:"));
    EXPECT_TRUE(coded("Content-Encoding: gzip"));
    EXPECT_TRUE(coded("Content-Encoding: identity, br"));
    EXPECT_TRUE(coded("content-encoding: deflate"));
}

TEST(ResponseHead, RetryAfterAsDelayOrDate) {
    EXPECT_EQ(ParseRetryAfter("120", 0), 120);
    EXPECT_EQ(ParseRetryAfter("Sun, 06 Nov 1994 08:49:37 GMT", 784111777 - 30), 30);
    EXPECT_EQ(ParseRetryAfter("Sun, 06 Nov 1994 08:49:37 GMT", 784111777 + 30), 0)
        << "a date in the past means now";
    EXPECT_FALSE(ParseRetryAfter("-5", 0));
    EXPECT_FALSE(ParseRetryAfter("soon", 0));
}

TEST(ResponseHead, OnlyStrongValidatorsGuardARange) {
    auto tag = ParseEntityTag(" \"abc\" ");
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->Text, "\"abc\"");
    EXPECT_FALSE(tag->Weak);
    tag = ParseEntityTag("W/\"abc\"");
    ASSERT_TRUE(tag);
    EXPECT_TRUE(tag->Weak);
    EXPECT_FALSE(ParseEntityTag("abc"));
    EXPECT_FALSE(ParseEntityTag("\"a\"b\""));

    const char* date = "Sun, 06 Nov 1994 08:49:37 GMT";
    EXPECT_EQ(RangeValidator(ParseHeaderBlock("HTTP/1.1 200 OK\nETag: \"v1\"\nLast-Modified: "
                                              "Sun, 06 Nov 1994 08:49:37 GMT\n")),
              "\"v1\"");
    EXPECT_EQ(RangeValidator(ParseHeaderBlock(std::string("HTTP/1.1 200 OK\nETag: W/\"v1\"\n"
                                                          "Last-Modified: ") +
                                              date + "\n")),
              date);
    EXPECT_EQ(RangeValidator(ParseHeaderBlock("HTTP/1.1 200 OK\nETag: W/\"v1\"\n")), "");
    EXPECT_EQ(RangeValidator(ParseHeaderBlock("HTTP/1.1 200 OK\nLast-Modified: never\n")), "");
}

TEST(ResponseHead, ByteRangesMustBeAnnounced) {
    EXPECT_TRUE(AcceptsByteRanges(ParseHeaderBlock("HTTP/1.1 200 OK\nAccept-Ranges: bytes\n")));
    EXPECT_TRUE(AcceptsByteRanges(ParseHeaderBlock("HTTP/1.1 200 OK\nAccept-Ranges: x, Bytes\n")));
    EXPECT_FALSE(AcceptsByteRanges(ParseHeaderBlock("HTTP/1.1 200 OK\nAccept-Ranges: none\n")));
    EXPECT_FALSE(AcceptsByteRanges(ParseHeaderBlock("HTTP/1.1 200 OK\n")));
}

// sha-256 and md5 of "abc".
const char* AbcSha256 = "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=";
const char* AbcMd5 = "kAFQmDzST7DWlj99KOF/cg==";

TEST(ResponseHead, DigestsArePickedStrongestFirstAndChecked) {
    const std::string both = std::string("HTTP/1.1 200 OK\nContent-MD5: ") + AbcMd5 +
                             "\nRepr-Digest: sha-512=:AAAA:, sha-256=:" + AbcSha256 + ":\n";
    TDigest d = AdvertisedDigest(ParseHeaderBlock(both), true);
    ASSERT_EQ(d.Kind, TDigestKind::Sha256);
    ASSERT_EQ(d.Bytes.size(), 32u);
    EXPECT_EQ(d.Bytes[0], 0xba);
    EXPECT_EQ(d.Bytes[31], 0xad);

    d = AdvertisedDigest(ParseHeaderBlock(std::string("HTTP/1.1 200 OK\nDigest: MD5=") + AbcMd5 +
                                          ", SHA-256=" + AbcSha256 + "\n"),
                         false);
    EXPECT_EQ(d.Kind, TDigestKind::Sha256) << "SHA-256 wins over MD5 in Digest";

    d = AdvertisedDigest(
        ParseHeaderBlock(std::string("HTTP/1.1 200 OK\ndigest: md5=") + AbcMd5 + "\n"), false);
    ASSERT_EQ(d.Kind, TDigestKind::Md5);
    EXPECT_EQ(d.Bytes[0], 0x90);

    const std::string md5Only = std::string("HTTP/1.1 206 Partial\nContent-MD5: ") + AbcMd5 + "\n";
    EXPECT_EQ(AdvertisedDigest(ParseHeaderBlock(md5Only), false).Kind, TDigestKind::None)
        << "Content-MD5 of a part says nothing about the whole file";
    EXPECT_EQ(AdvertisedDigest(ParseHeaderBlock(md5Only), true).Kind, TDigestKind::Md5);

    EXPECT_EQ(
        AdvertisedDigest(ParseHeaderBlock("HTTP/1.1 200 OK\nRepr-Digest: sha-256=:AAAA:\n"), true)
            .Kind,
        TDigestKind::None)
        << "a value of the wrong length is no digest";
    EXPECT_EQ(
        AdvertisedDigest(ParseHeaderBlock("HTTP/1.1 200 OK\nRepr-Digest: sha-256=:!!:\n"), true)
            .Kind,
        TDigestKind::None);
}

TEST(ResponseHead, Base64WithOrWithoutPadding) {
    EXPECT_EQ(Base64Decode("TWFu"), (std::vector<uint8_t>{'M', 'a', 'n'}));
    EXPECT_EQ(Base64Decode("TWE="), (std::vector<uint8_t>{'M', 'a'}));
    EXPECT_EQ(Base64Decode("TWE"), (std::vector<uint8_t>{'M', 'a'}));
    EXPECT_EQ(Base64Decode("-_8="), (std::vector<uint8_t>{0xfb, 0xff}));
    EXPECT_FALSE(Base64Decode("T"));
    EXPECT_FALSE(Base64Decode("TW*u"));
}

} // namespace
} // namespace xldl
