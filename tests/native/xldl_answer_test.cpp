// What an answer means for a download, given what was asked: the verdicts the transfer acts on.
#include "xldl/core/Answer.h"
#include "xldl/core/WebPage.h"

#include "engine/XLDownload.h"

#include <gtest/gtest.h>

namespace xldl {
namespace {

THeaders Head(const std::string& text) {
    return ParseHeaderBlock(text);
}

const std::string Tag = "\"v1\"";

TQuestion First() {
    TQuestion q;
    q.Ask = TAsk::First;
    q.End = 262144;
    return q;
}

TQuestion Part(int64_t from, int64_t end, bool mustName = false) {
    TQuestion q;
    q.Ask = TAsk::Part;
    q.From = from;
    q.End = end;
    q.Validator = Tag;
    q.Total = 1000000;
    q.Named = true;
    q.MustName = mustName;
    return q;
}

TEST(Answer, TheFirstRangeTeachesTheSizeOrTheWholeFileIsAsked) {
    auto a = JudgeAnswer(Head("HTTP/1.1 206 P\r\nContent-Range: bytes 0-262143/1000000\r\n"
                              "ETag: \"v1\"\r\n"),
                         First(), 0);
    EXPECT_EQ(a.Verdict, TVerdict::Ok);
    EXPECT_EQ(a.BodyEnd, 262144);
    // Without anything to recognise the file by the size is enough: later ranges are compared
    // where they meet instead.
    a = JudgeAnswer(Head("HTTP/1.1 206 P\r\nContent-Range: bytes 0-262143/1000000\r\n"), First(),
                    0);
    EXPECT_EQ(a.Verdict, TVerdict::Ok);
    EXPECT_EQ(a.BodyEnd, 262144);
    a = JudgeAnswer(Head("HTTP/1.1 206 P\r\nContent-Range: bytes 0-262143/*\r\nETag: \"v1\"\r\n"),
                    First(), 0);
    EXPECT_EQ(a.Verdict, TVerdict::AskWhole) << "no size";
    a = JudgeAnswer(
        Head("HTTP/1.1 206 P\r\nContent-Range: bytes 5-262143/1000000\r\nETag: \"v\"\r\n"), First(),
        0);
    EXPECT_EQ(a.Verdict, TVerdict::AskWhole) << "not from the start";
    a = JudgeAnswer(Head("HTTP/1.1 416 R\r\nContent-Range: bytes */0\r\n"), First(), 0);
    EXPECT_EQ(a.Verdict, TVerdict::AskWhole) << "an empty file";
    a = JudgeAnswer(Head("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n"), First(), 0);
    EXPECT_EQ(a.Verdict, TVerdict::Ok) << "the whole file will do";
}

TEST(Answer, APartMustBeExactlyThePartOfTheSameFile) {
    const std::string range = "HTTP/1.1 206 P\r\nContent-Range: bytes 1000-1999/1000000\r\n";
    auto a = JudgeAnswer(Head(range + "ETag: \"v1\"\r\n"), Part(1000, 2000), 0);
    EXPECT_EQ(a.Verdict, TVerdict::Ok);
    EXPECT_EQ(a.BodyEnd, 2000);
    EXPECT_EQ(JudgeAnswer(Head(range), Part(1000, 2000), 0).Verdict, TVerdict::Ok)
        << "a part that does not repeat the validator, within one download";
    EXPECT_EQ(JudgeAnswer(Head(range), Part(1000, 2000, true), 0).Verdict, TVerdict::Restart)
        << "but the first part of a resumed download must name the file";
    EXPECT_EQ(JudgeAnswer(Head(range + "ETag: \"v2\"\r\n"), Part(1000, 2000), 0).Verdict,
              TVerdict::Restart)
        << "another version";

    for (const char* wrong : {"bytes 1001-1999/1000000", "bytes 1000-2000/1000000",
                              "bytes 1000-1999/999999", "bytes */1000000", "nonsense"}) {
        a = JudgeAnswer(Head(std::string("HTTP/1.1 206 P\r\nContent-Range: ") + wrong + "\r\n"),
                        Part(1000, 2000), 0);
        EXPECT_EQ(a.Verdict, TVerdict::Restart) << wrong;
        EXPECT_TRUE(a.RangesBroken) << wrong;
    }
    // The whole file for a part: the If-Range failed (a new version), or ranges are ignored.
    a = JudgeAnswer(Head("HTTP/1.1 200 OK\r\nETag: \"v2\"\r\n"), Part(1000, 2000), 0);
    EXPECT_EQ(a.Verdict, TVerdict::Restart);
    EXPECT_FALSE(a.RangesBroken);
    a = JudgeAnswer(Head("HTTP/1.1 200 OK\r\nETag: \"v1\"\r\n"), Part(1000, 2000), 0);
    EXPECT_TRUE(a.RangesBroken) << "same version, yet the whole: ranges do not work here";
    EXPECT_EQ(JudgeAnswer(Head("HTTP/1.1 200 OK\r\n"), Part(1000, 2000), 0).Verdict,
              TVerdict::Transient)
        << "a whole answer that names no file at all is not this file";
    EXPECT_EQ(JudgeAnswer(Head("HTTP/1.1 416 R\r\n"), Part(1000, 2000), 0).Verdict,
              TVerdict::Restart)
        << "the range lies beyond the file as it is now";
}

TEST(Answer, RedirectsPausesAndRefusals) {
    auto a = JudgeAnswer(Head("HTTP/1.1 308 M\r\nLocation: https://b/x\r\n"), First(), 0);
    EXPECT_EQ(a.Verdict, TVerdict::Redirect);
    EXPECT_EQ(a.Location, "https://b/x");
    a = JudgeAnswer(Head("HTTP/1.1 302 F\r\n"), First(), 0);
    EXPECT_EQ(a.Verdict, TVerdict::Permanent);
    EXPECT_EQ(a.Error, ErrorRedirects);

    a = JudgeAnswer(Head("HTTP/1.1 503 S\r\nRetry-After: 7\r\n"), Part(0, 10), 0);
    EXPECT_EQ(a.Verdict, TVerdict::Transient);
    EXPECT_TRUE(a.Refusal);
    EXPECT_EQ(a.RetryAfter, 7);
    a = JudgeAnswer(Head("HTTP/1.1 429 T\r\nRetry-After: Thu, 01 Jan 1970 00:01:40 GMT\r\n"),
                    First(), 40);
    EXPECT_EQ(a.RetryAfter, 60) << "a date, from now";
    a = JudgeAnswer(Head("HTTP/1.1 500 E\r\n"), First(), 0);
    EXPECT_EQ(a.Verdict, TVerdict::Transient);
    EXPECT_FALSE(a.Refusal);
    for (int status : {403, 404, 410, 501}) {
        a = JudgeAnswer(Head("HTTP/1.1 " + std::to_string(status) + " X\r\n"), First(), 0);
        EXPECT_EQ(a.Verdict, TVerdict::Permanent) << status;
        EXPECT_EQ(a.Error, ErrorHttpStatus) << status;
    }
}

TEST(Answer, ACodedBodyOrOneOfTwoLengthsIsNeverTheFile) {
    const std::string range = "HTTP/1.1 206 P\r\nContent-Range: bytes 0-262143/1000000\r\n"
                              "ETag: \"v1\"\r\n";
    const std::string whole = "HTTP/1.1 200 OK\r\nETag: \"v1\"\r\nContent-Length: 1000000\r\n";
    // A gzip body saved as the file would be another file; asked again, the server does it again.
    for (const char* coding : {"gzip", "br", "identity, gzip", "x-gzip"})
        for (const auto& [head, q] : {std::pair{range, First()}, std::pair{whole, First()},
                                      std::pair{whole, Part(1000, 2000)}}) {
            const auto a = JudgeAnswer(Head(head + "Content-Encoding: " + coding + "\r\n"), q, 0);
            EXPECT_EQ(a.Verdict, TVerdict::Permanent) << coding << "\n" << head;
            EXPECT_EQ(a.Error, ErrorContentCoded) << coding;
        }
    EXPECT_EQ(JudgeAnswer(Head(range + "Content-Encoding: identity\r\n"), First(), 0).Verdict,
              TVerdict::Ok);
    EXPECT_EQ(JudgeAnswer(Head("HTTP/1.1 503 S\r\nContent-Encoding: gzip\r\n"), First(), 0).Verdict,
              TVerdict::Transient)
        << "only a body that would be the file's counts";

    // A length that is not the range's: which bytes are which cannot be told, first or later.
    const std::string part = "HTTP/1.1 206 P\r\nContent-Range: bytes 1000-1999/1000000\r\n"
                             "ETag: \"v1\"\r\n";
    for (const char* length : {"999", "1001", "0", "1001, 1001"}) {
        const std::string field = std::string("Content-Length: ") + length + "\r\n";
        EXPECT_EQ(JudgeAnswer(Head(part + field), Part(1000, 2000), 0).Verdict, TVerdict::Transient)
            << length;
        EXPECT_EQ(JudgeAnswer(Head(range + field), First(), 0).Verdict, TVerdict::Transient)
            << length;
    }
    EXPECT_EQ(JudgeAnswer(Head(part + "Content-Length: 1000\r\n"), Part(1000, 2000), 0).Verdict,
              TVerdict::Ok);
    EXPECT_EQ(
        JudgeAnswer(Head(part + "Transfer-Encoding: chunked\r\n"), Part(1000, 2000), 0).Verdict,
        TVerdict::Ok)
        << "chunks carry no length to disagree";
}

TEST(Answer, AWebPageIsNoProgram) {
    // A sign-in page where a program was asked for: not the file, whatever was asked; for any
    // other file a page may well be it, and a busy page stays busy.
    const std::string page = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n";
    const std::string part = "HTTP/1.1 206 P\r\nContent-Range: bytes 1000-1999/1000000\r\n"
                             "ETag: \"v1\"\r\nContent-Type: text/html\r\n";
    for (const auto& [head, q] : {std::pair{page, First()}, std::pair{page, Part(1000, 2000)},
                                  std::pair{part, Part(1000, 2000)}}) {
        const auto a = JudgeAnswer(Head(head), q, 0, true);
        EXPECT_EQ(a.Verdict, TVerdict::Permanent) << head;
        EXPECT_EQ(a.Error, uint32_t{ErrorSignInPage}) << head;
        EXPECT_NE(JudgeAnswer(Head(head), q, 0, false).Error, uint32_t{ErrorSignInPage}) << head;
    }
    EXPECT_EQ(JudgeAnswer(Head("HTTP/1.1 503 S\r\nContent-Type: text/html\r\n"), First(), 0, true)
                  .Verdict,
              TVerdict::Transient);

    // Every kind of program and archive by its extension, in any case; nothing else.
    for (const char* program : {"exe", "MSI", "msu", "msix", "dll", "zip", "7z", "rar", "cab",
                                "iso", "img", "gz", "xz", "bz2", "tar"})
        EXPECT_TRUE(MustNotBeWebPage(std::string("a.") + program)) << program;
    for (const char* other : {"big.bin", "index.html", "exe", "a.exe.txt", "a.exe.", "a.msix2"})
        EXPECT_FALSE(MustNotBeWebPage(other)) << other;
    struct TType {
        const char* Field;
        bool Page;
    } types[] = {{"Content-Type: text/html\r\n", true},
                 {"Content-Type: TEXT/HTML ; charset=gbk\r\n", true},
                 {"Content-Type: application/xhtml+xml\r\n", true},
                 {"Content-Type: text/plain\r\n", false},
                 {"Content-Type: application/x-msdownload\r\n", false},
                 {"", false}};
    for (const TType& t : types)
        EXPECT_EQ(IsWebPageType(Head(std::string("HTTP/1.1 200 OK\r\n") + t.Field)), t.Page)
            << t.Field;
    // The first bytes however the reads split them ("|"), up to 512 of them; "$": the body ends.
    using V = TPageCheck::TVerdict;
    const std::string blank(PageCheckBytes - 1, ' ');
    const struct {
        std::string Reads;
        V Verdict;
    } bodies[] = {
        {"<!DOCTYPE html>", V::Page},
        {"\xEF\xBB\xBF \r\n<html>", V::Page},
        {"\xEF|\xBB|\xBF|<|html>", V::Page},
        {" |\t|<|?xml", V::Page},
        {"\t<HEAD>", V::Page},
        {blank + "|  <html>", V::Page},
        {blank + "|<", V::Page},
        {"MZ\x90", V::NotPage},
        {"PK\x03\x04", V::NotPage},
        {"\xEF\xBB|MZ", V::NotPage},
        {"<|< b", V::NotPage},
        {"< b", V::NotPage},
        {" |\r\n", V::Undecided},
        {"\xEF\xBB", V::Undecided},
        {"<$", V::NotPage},
        {"\xEF\xBB\xBF$", V::NotPage},
        {"$", V::NotPage},
    };
    for (const auto& b : bodies) {
        TPageCheck check;
        V verdict = V::Undecided;
        std::string rest = b.Reads;
        std::string seen;
        const std::string shown = ::testing::PrintToString(b.Reads);
        while (!rest.empty() && rest != "$") {
            const std::string read = rest.substr(0, std::min(rest.find('|'), rest.find('$')));
            rest.erase(0, read.size() + (rest.size() > read.size() && rest[read.size()] == '|'));
            // Held back until the last read, which tells: a verdict is final.
            if (verdict != V::Undecided) ADD_FAILURE() << "told too early: " << shown;
            verdict = check.Add(reinterpret_cast<const uint8_t*>(read.data()), read.size());
            seen += read;
        }
        if (rest == "$") verdict = check.End();
        EXPECT_EQ(verdict, b.Verdict) << shown;
        const std::string held(check.Held().begin(), check.Held().end());
        EXPECT_EQ(held, seen.substr(0, PageCheckBytes)) << shown << ": held back as it came";
    }
}

} // namespace
} // namespace xldl
