// The state kept beside a partial download: written and read back whole; anything torn,
// damaged, foreign or newer is refused, never half believed.
#include "xldl/core/StateFile.h"

#include "xldl/core/Hashes.h"
#include "xldl/core/HttpHeaders.h"

#include <gtest/gtest.h>

#include <random>

namespace xldl {
namespace {

const char* Url = "http://dl1.orlenz.com/service/setup.exe";

TSavedState Sample() {
    TSavedState s;
    s.Url = Url;
    s.Name = "setup.exe";
    s.Location = "https://cdn.orlenz.com/files/setup-2.exe";
    s.Total = (int64_t{5} << 30) + 7;
    SetStateValidator(s, "\"5f2a-9c1\"");
    s.Digest.Kind = TDigestKind::Sha256;
    s.Digest.Bytes.assign(32, 0xAB);
    s.Done = {{0, 1 << 20}, {4 << 20, int64_t{5} << 30}};
    return s;
}

TEST(State, WrittenAndReadBackWhole) {
    const TSavedState s = Sample();
    const std::string text = FormatState(s);
    TStateProblem problem = TStateProblem::Damaged;
    const auto back = ParseState(text, Url, "setup.exe", &problem);
    ASSERT_TRUE(back) << text;
    EXPECT_EQ(problem, TStateProblem::None);
    EXPECT_EQ(back->Location, s.Location);
    EXPECT_EQ(back->Total, s.Total);
    EXPECT_EQ(StateValidator(*back), "\"5f2a-9c1\"");
    EXPECT_EQ(back->Digest.Kind, TDigestKind::Sha256);
    EXPECT_EQ(back->Digest.Bytes, s.Digest.Bytes);
    EXPECT_EQ(back->Done, s.Done);

    TSavedState dated = Sample();
    SetStateValidator(dated, "Tue, 08 Dec 2026 05:00:00 GMT");
    dated.Digest = {};
    dated.Done.clear();
    const auto d = ParseState(FormatState(dated), Url, "setup.exe");
    ASSERT_TRUE(d);
    EXPECT_EQ(StateValidator(*d), "Tue, 08 Dec 2026 05:00:00 GMT");
    EXPECT_TRUE(d->Done.empty());

    TSavedState weak = Sample();
    SetStateValidator(weak, "W/\"abc\"");
    EXPECT_EQ(StateValidator(*ParseState(FormatState(weak), Url, "setup.exe")), "")
        << "a weak tag cannot guard a range";
}

TEST(State, OnlyAStateSealedWithTheUsersKeyIsBelievedOrAnOlderOneWhereAllowed) {
    // Anyone can recompute a plain checksum; only the key's holder can seal. A state written
    // under one key reads under that key alone, an older one only where plain ones are allowed.
    const TSeal mine{std::vector<uint8_t>(32, 0x11), false},
        other{std::vector<uint8_t>(32, 0x22), false}, mineOrPlain{mine.Key, true},
        plainOnly{{}, true}, nothing{{}, false};
    const std::string sealed = FormatState(Sample(), mine), plain = FormatState(Sample());
    struct {
        const char* What;
        const std::string& Text;
        const TSeal& Seal;
        bool Believed;
    } cases[] = {
        {"sealed, read with its key", sealed, mine, true},
        {"sealed, read with another key", sealed, other, false},
        {"sealed, read with no key", sealed, plainOnly, false},
        {"plain, where plain ones are not allowed", plain, mine, false},
        {"plain, where they are", plain, mineOrPlain, true},
        {"plain, with no key at all", plain, nothing, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseState(c.Text, Url, "setup.exe", nullptr, c.Seal).has_value(), c.Believed)
            << c.What;
    EXPECT_NE(sealed.find("\nseal "), std::string::npos);
    EXPECT_EQ(sealed.find("\ncheck "), std::string::npos)
        << "a checksum anyone could make beside it";
}

TEST(State, TornAtEveryLengthOrFlippedAnywhereIsRefused) {
    const std::string text = FormatState(Sample());
    for (size_t n = 0; n < text.size(); ++n) {
        TStateProblem problem = TStateProblem::None;
        EXPECT_FALSE(ParseState(text.substr(0, n), Url, "setup.exe", &problem)) << n;
        EXPECT_EQ(problem, TStateProblem::Damaged) << n;
    }
    std::mt19937 random(7);
    for (size_t i = 0; i < text.size(); ++i) {
        std::string bad = text;
        bad[i] = static_cast<char>(bad[i] ^ (1 + random() % 255));
        EXPECT_FALSE(ParseState(bad, Url, "setup.exe")) << "byte " << i;
    }
    EXPECT_FALSE(ParseState(text + "range 1 2\n", Url, "setup.exe")) << "after the check";
    for (int i = 0; i < 200; ++i) {
        std::string noise(static_cast<size_t>(random() % 400), '\0');
        for (char& c : noise)
            c = static_cast<char>(random());
        EXPECT_FALSE(ParseState(noise, Url, "setup.exe"));
    }
}

// Seals `body` the way the format does: a SHA-256 line of everything before it.
std::string Seal(const std::string& body) {
    TSha256 sha;
    sha.Update(body.data(), body.size());
    std::string hex;
    for (uint8_t b : sha.Final()) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return body + "check " + hex + "\n";
}

TEST(State, ForeignNewerAndInconsistentStatesAreRefused) {
    const std::string text = FormatState(Sample());
    TStateProblem problem = TStateProblem::None;
    EXPECT_FALSE(
        ParseState(text, "http://dl2.orlenz.com/service/setup.exe", "setup.exe", &problem));
    EXPECT_EQ(problem, TStateProblem::Foreign);
    EXPECT_FALSE(ParseState(text, Url, "other.exe", &problem));
    EXPECT_EQ(problem, TStateProblem::Foreign);

    // Values a sound writer never writes, sealed with a valid checksum all the same.
    const auto withRanges = [](std::vector<TByteRange> ranges) {
        TSavedState s = Sample();
        s.Done = std::move(ranges);
        return FormatState(s);
    };
    const int64_t total = Sample().Total;
    EXPECT_FALSE(ParseState(withRanges({{0, 10}, {5, 20}}), Url, "setup.exe")) << "overlap";
    EXPECT_FALSE(ParseState(withRanges({{10, 20}, {0, 5}}), Url, "setup.exe")) << "unsorted";
    EXPECT_FALSE(ParseState(withRanges({{0, total + 1}}), Url, "setup.exe")) << "past the end";
    EXPECT_FALSE(ParseState(withRanges({{7, 7}}), Url, "setup.exe")) << "empty range";
    EXPECT_TRUE(ParseState(withRanges({{0, total}}), Url, "setup.exe"));

    TSavedState noPlace = Sample();
    noPlace.Location.clear();
    EXPECT_FALSE(ParseState(FormatState(noPlace), Url, "setup.exe"));
    TSavedState broken = Sample();
    broken.Name = "set\nup.exe"; // a value that cannot stand on a line is left out
    EXPECT_FALSE(ParseState(FormatState(broken), Url, "set\nup.exe"));

    // A newer format is not read, however sound; a key of no format is damage.
    const std::string body = FormatState(Sample());
    const std::string lines =
        body.substr(body.find('\n') + 1, body.rfind("check ") - body.find('\n') - 1);
    problem = TStateProblem::None;
    EXPECT_FALSE(ParseState(Seal("xldl-state " + std::to_string(StateFormat + 1) + "\n" + lines),
                            Url, "setup.exe", &problem));
    EXPECT_EQ(problem, TStateProblem::Future);
    EXPECT_TRUE(ParseState(Seal("xldl-state 1\n" + lines), Url, "setup.exe"))
        << "the seal is the format's; the format before mirrors is still read";
    EXPECT_FALSE(
        ParseState(Seal("xldl-state 1\n" + lines + "colour blue\n"), Url, "setup.exe", &problem));
    EXPECT_EQ(problem, TStateProblem::Damaged);
}

TEST(State, OtherMirrorsComeBackWithTheirOwnValidatorsAndMakeTheStateOurs) {
    const char* other = "http://dl2.orlenz.com/service/setup.exe";
    TSavedState s = Sample();
    TSavedMirror m;
    m.Url = other;
    m.Location = "http://dl2.orlenz.com/service/setup.exe";
    SetMirrorValidator(m, "\"dl2-tag\"");
    s.Mirrors.push_back(m);
    TSavedMirror dated;
    dated.Url = "http://dl3.orlenz.com/setup.exe";
    dated.Location = dated.Url;
    SetMirrorValidator(dated, "Mon, 07 Dec 2026 10:00:00 GMT");
    s.Mirrors.push_back(dated);
    const std::string text = FormatState(s);
    // A run that chose the other mirror, or named only it, takes the state up.
    for (const std::vector<std::string>& urls :
         {std::vector<std::string>{other, Url}, std::vector<std::string>{other}}) {
        const auto back = ParseState(text, urls, "setup.exe");
        ASSERT_TRUE(back) << urls.size();
        ASSERT_EQ(back->Mirrors.size(), 2u);
        EXPECT_EQ(back->Url, Url) << "the mirror that defined the file still leads";
        EXPECT_EQ(MirrorValidator(back->Mirrors[0]), "\"dl2-tag\"");
        EXPECT_EQ(MirrorValidator(back->Mirrors[1]), "Mon, 07 Dec 2026 10:00:00 GMT");
        EXPECT_EQ(back->Mirrors[0].Location, m.Location);
    }
    TStateProblem problem = TStateProblem::None;
    EXPECT_FALSE(ParseState(text, std::vector<std::string>{"http://dl9.test/setup.exe"},
                            "setup.exe", &problem));
    EXPECT_EQ(problem, TStateProblem::Foreign);
    // A mirror's own line before any mirror, or a mirror without location, is damage.
    const std::string body = FormatState(Sample());
    const std::string lines =
        body.substr(body.find('\n') + 1, body.rfind("check ") - body.find('\n') - 1);
    const std::string head = "xldl-state " + std::to_string(StateFormat) + "\n";
    EXPECT_FALSE(ParseState(Seal(head + "mirror-etag \"x\"\n" + lines), Url, "setup.exe"));
    EXPECT_FALSE(ParseState(Seal(head + "mirror http://x.test/a\n" + lines), Url, "setup.exe"));
    EXPECT_TRUE(
        ParseState(Seal(head + "mirror http://x.test/a\nmirror-location http://x.test/a\n" + lines),
                   Url, "setup.exe"));
}

// The lines of a sound state between its first line and its seal, for making others.
std::string BodyLines(const TSavedState& s) {
    const std::string text = FormatState(s);
    return text.substr(text.find('\n') + 1, text.rfind("check ") - text.find('\n') - 1);
}

TEST(State, EveryValueOnceAndEachOneWeCouldHaveWritten) {
    const std::string lines = BodyLines(Sample());
    ASSERT_TRUE(ParseState(Seal("xldl-state 1\n" + lines), Url, "setup.exe"));
    // A second value for a key, sealed like a sound state: which one holds cannot be told, and
    // a second total after the ranges would put them past the file's end.
    for (const char* second :
         {"total 10\n", "total 5368709127\n", "url http://dl1.orlenz.com/service/setup.exe\n",
          "name setup.exe\n", "location https://cdn.orlenz.com/other.exe\n", "etag \"other\"\n",
          "sha-256 "
          "abababababababababababababababababababababababababababababababab\n"}) {
        TStateProblem problem = TStateProblem::None;
        EXPECT_FALSE(
            ParseState(Seal("xldl-state 1\n" + lines + second), Url, "setup.exe", &problem))
            << second;
        EXPECT_EQ(problem, TStateProblem::Damaged) << second;
    }
    EXPECT_TRUE(
        ParseState(Seal("xldl-state 1\n" + lines + "range " + std::to_string(Sample().Total - 5) +
                        " " + std::to_string(Sample().Total) + "\n"),
                   Url, "setup.exe"))
        << "ranges come many";
    // Values no sound writer writes: a validator that is not one, or that would break the
    // If-Range line it is sent back in; a place that is no URL.
    TSavedState plain = Sample();
    plain.ETag.clear();
    plain.Digest = {};
    const std::string base = BodyLines(plain);
    for (const char* value :
         {"etag \"a\rb\"\n", "etag abc\n", "etag \"a\" \n", "etag W/\"a\rX: 1\"\n",
          "last-modified Sun\rX: 1, 06 Nov 1994 08:49:37 GMT\n", "last-modified yesterday\n",
          "last-modified Sun, 06 Nov 1994 08:49:37 GMT\r\n", "location /relative\n",
          "name set\rup.exe\n"}) {
        EXPECT_FALSE(ParseAnyState(Seal("xldl-state 1\n" + base + value))) << value;
    }
    EXPECT_TRUE(ParseAnyState(Seal("xldl-state 1\n" + base + "etag W/\"weak\"\n")));
    EXPECT_TRUE(ParseAnyState(
        Seal("xldl-state 1\n" + base + "last-modified Sun, 06 Nov 1994 08:49:37 GMT\n")));
}

TEST(State, EveryValidatorAServerGivesSurvivesTheStateFile) {
    // What RangeValidator takes from an answer is what a later run resumes under: written and
    // read back, it must come back as it was, or resuming would never work.
    for (const char* field :
         {"ETag: \"5f2a-9c1\"", "ETag: \"caf\xc3\xa9\"", "ETag: \"\"",
          "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT",
          "Last-Modified: Sunday, 06-Nov-94 08:49:37 GMT",
          "Last-Modified: Sun Nov  6 08:49:37 1994",
          "Last-Modified:  Sun, 06 Nov 1994 08:49:37 GMT ",
          "Last-Modified: Sun\rX-Injected: 1, 06 Nov 1994 08:49:37 GMT", "ETag: W/\"weak\""}) {
        const THeaders head =
            ParseHeaderBlock(std::string("HTTP/1.1 200 OK\r\n") + field + "\r\n\r\n");
        const std::string validator = RangeValidator(head);
        TSavedState s = Sample();
        s.Digest = {};
        SetStateValidator(s, validator);
        const auto back = ParseState(FormatState(s), Url, "setup.exe");
        ASSERT_TRUE(back) << field;
        EXPECT_EQ(StateValidator(*back), validator) << field;
    }
}

TEST(State, OnlyOurOwnStateOfThePartialBesideItMayBeClearedAway) {
    const std::string ours = FormatState(Sample());
    EXPECT_TRUE(IsStateOfPartial(ours, "setup.exe"));
    EXPECT_TRUE(IsStateOfPartial(ours, "SETUP.exe")) << "the file system ignores case";
    EXPECT_FALSE(IsStateOfPartial(ours, "setup.ex"));
    EXPECT_FALSE(IsStateOfPartial(ours, "other.exe")) << "a state renamed beside another partial";
    EXPECT_FALSE(IsStateOfPartial(ours.substr(0, ours.size() - 3), "setup.exe")) << "torn";
    EXPECT_FALSE(IsStateOfPartial("", "setup.exe"));
    EXPECT_FALSE(IsStateOfPartial("some other program's state\n", "setup.exe"));
    TSavedState chinese = Sample();
    chinese.Name = "\xe5\xae\x89\xe8\xa3\x85.exe";
    EXPECT_TRUE(IsStateOfPartial(FormatState(chinese), "\xe5\xae\x89\xe8\xa3\x85.EXE"));
}

} // namespace
} // namespace xldl
