// Asking whether a finished file is still the server's: the question, and what each answer
// means. Only proof confirms; everything else fetches the file again.
#include "xldl/core/Confirmation.h"

#include "xldl/core/HttpHeaders.h"

#include <gtest/gtest.h>

#include <string>

namespace xldl {
namespace {

const std::string Tag = "\"5f2a-9c1\"";
const std::string Date = "Tue, 08 Dec 2026 10:00:00 GMT";
// The base64 of 32 bytes of 0xAB, and of 32 of 0xCD.
const std::string OurDigest = "sha-256=:q6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6s=:";
const std::string OtherDigest = "sha-256=:zc3Nzc3Nzc3Nzc3Nzc3Nzc3Nzc3Nzc3Nzc3Nzc3Nzc0=:";

TSavedState Record(const std::string& validator) {
    TSavedState r;
    r.Url = "http://dl1.orlenz.com/service/setup.exe";
    r.Name = "setup.exe";
    r.Location = r.Url;
    r.Total = 3670016;
    SetStateValidator(r, validator);
    r.Digest.Kind = TDigestKind::Sha256;
    r.Digest.Bytes.assign(32, 0xAB);
    r.Done = {{0, r.Total}};
    return r;
}

TEST(Confirmation, TheQuestionCarriesTheValidatorAndAsksForOneByte) {
    EXPECT_EQ(ConfirmationHeaders(Record(Tag)),
              "If-None-Match: " + Tag + "\r\nRange: bytes=0-0\r\nWant-Repr-Digest: sha-256=10\r\n");
    EXPECT_EQ(ConfirmationHeaders(Record(Date)),
              "If-Modified-Since: " + Date +
                  "\r\nRange: bytes=0-0\r\nWant-Repr-Digest: sha-256=10\r\n");
    TSavedState weak = Record("W/\"5f2a\"");
    EXPECT_EQ(ConfirmationHeaders(weak), "") << "a weak tag alone proves nothing";
    weak.LastModified = Date;
    EXPECT_EQ(ConfirmationHeaders(weak).rfind("If-Modified-Since: " + Date, 0), 0u);
    EXPECT_EQ(ConfirmationHeaders(Record("")), "");
}

TEST(Confirmation, OnlyProofConfirms) {
    struct Case {
        const char* What;
        std::string Validator; // the record's
        std::string Head;      // the answer
        TConfirmation Verdict;
    };
    const std::string ranged =
        "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-0/3670016\r\n";
    const std::string whole = "HTTP/1.1 200 OK\r\nContent-Length: 3670016\r\n";
    const Case cases[] = {
        {"not modified", Tag, "HTTP/1.1 304 Not Modified\r\nETag: " + Tag + "\r\n",
         TConfirmation::Same},
        {"not modified, no tag repeated", Tag, "HTTP/1.1 304 Not Modified\r\n",
         TConfirmation::Same},
        {"not modified by date", Date, "HTTP/1.1 304 Not Modified\r\n", TConfirmation::Same},
        {"not modified, but naming another tag", Tag,
         "HTTP/1.1 304 Not Modified\r\nETag: \"other\"\r\n", TConfirmation::Unknown},
        {"condition ignored, same tag and length", Tag, ranged + "ETag: " + Tag + "\r\n",
         TConfirmation::Same},
        {"condition and range ignored", Tag, whole + "ETag: " + Tag + "\r\n", TConfirmation::Same},
        {"same tag and digest", Tag,
         ranged + "ETag: " + Tag + "\r\nRepr-Digest: " + OurDigest + "\r\n", TConfirmation::Same},
        {"same tag, other digest", Tag,
         ranged + "ETag: " + Tag + "\r\nRepr-Digest: " + OtherDigest + "\r\n",
         TConfirmation::Unknown},
        {"another tag", Tag, ranged + "ETag: \"other\"\r\n", TConfirmation::Unknown},
        {"no tag at all", Tag, ranged, TConfirmation::Unknown},
        {"same tag, another length", Tag,
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-0/3670017\r\nETag: " + Tag +
             "\r\n",
         TConfirmation::Unknown},
        {"length unknown", Tag,
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-0/*\r\nETag: " + Tag + "\r\n",
         TConfirmation::Unknown},
        {"same date", Date, ranged + "Last-Modified: " + Date + "\r\n", TConfirmation::Same},
        {"same date, but now a tag we cannot compare", Date,
         ranged + "Last-Modified: " + Date + "\r\nETag: \"new\"\r\n", TConfirmation::Unknown},
        {"another date", Date, ranged + "Last-Modified: Wed, 09 Dec 2026 10:00:00 GMT\r\n",
         TConfirmation::Unknown},
        {"gone", Tag, "HTTP/1.1 404 Not Found\r\nETag: " + Tag + "\r\n", TConfirmation::Unknown},
        {"busy", Tag, "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 1\r\n",
         TConfirmation::Unknown},
        {"moved without saying where", Tag, "HTTP/1.1 302 Found\r\n", TConfirmation::Unknown},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JudgeConfirmation(ParseHeaderBlock(c.Head), Record(c.Validator)).Verdict,
                  c.Verdict)
            << c.What;
}

TEST(Confirmation, RedirectsAreFollowedWherever) {
    for (int status : {301, 302, 303, 307, 308}) {
        const auto a = JudgeConfirmation(
            ParseHeaderBlock("HTTP/1.1 " + std::to_string(status) +
                             " Moved\r\nLocation: https://dl1.orlenz.com/service/setup.exe\r\n"),
            Record(Tag));
        EXPECT_EQ(a.Verdict, TConfirmation::Redirect) << status;
        EXPECT_EQ(a.Location, "https://dl1.orlenz.com/service/setup.exe") << status;
    }
}

} // namespace
} // namespace xldl
