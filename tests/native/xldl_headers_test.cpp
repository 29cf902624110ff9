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
