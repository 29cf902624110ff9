// Whether two mirrors serve the same file: what their answers' heads say, compared, and how a
// source's standing follows from that, from a sample of its bytes, and from a fresh start.
#include "xldl/core/Sources.h"

#include <gtest/gtest.h>

namespace xldl {
namespace {

const char* const Monday = "Mon, 07 Dec 2026 10:00:00 GMT";
const char* const Tuesday = "Tue, 08 Dec 2026 10:00:00 GMT";

TDigest Sha(uint8_t fill) {
    return {TDigestKind::Sha256, std::vector<uint8_t>(32, fill)};
}

TEST(Sources, TheSameFileIsShownByLengthAndWhatElseBothGive) {
    struct {
        const char* what;
        TFileIdentity file;
        TSourceFacts seen;
        TSameness verdict;
    } cases[] = {
        {"length differs", {100, Monday, {}}, {101, "", Monday, {}}, TSameness::Other},
        {"no length", {100, "", {}}, {-1, "", "", {}}, TSameness::Other},
        {"the same digest", {100, Monday, Sha(1)}, {100, "", Tuesday, Sha(1)}, TSameness::Same},
        {"another digest, the same date",
         {100, Monday, Sha(1)},
         {100, "", Monday, Sha(2)},
         TSameness::Other},
        {"the same date", {100, Monday, {}}, {100, "", Monday, {}}, TSameness::Same},
        {"the same date written otherwise",
         {100, Monday, {}},
         {100, "", "Monday, 07-Dec-26 10:00:00 GMT", {}},
         TSameness::Same},
        {"another date", {100, Monday, {}}, {100, "", Tuesday, {}}, TSameness::Other},
        {"a digest on one side only, no dates",
         {100, "", Sha(1)},
         {100, "", "", {}},
         TSameness::Unproven},
        {"nothing but the length", {100, "", {}}, {100, "\"etag\"", "", {}}, TSameness::Unproven},
        {"a date on one side only", {100, Monday, {}}, {100, "", "", {}}, TSameness::Unproven},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CompareFacts(c.file, c.seen), c.verdict) << c.what;
}

TEST(Sources, EntityTagsProveNothingAcrossServers) {
    // Two servers' tags for one file differ; equal tags on files of other dates prove nothing.
    TSources s({*ParseUrl("http://a.test/f"), *ParseUrl("http://b.test/f")});
    s.Define(0, {100, "\"same\"", Monday, {}});
    EXPECT_EQ(s.Judge(1, {100, "\"same\"", Tuesday, {}}), TStanding::Other);
    TSources t({*ParseUrl("http://a.test/f"), *ParseUrl("http://b.test/f")});
    t.Define(0, {100, "\"a1\"", Monday, {}});
    EXPECT_EQ(t.Judge(1, {100, "\"b7\"", Monday, {}}), TStanding::Same);
    EXPECT_EQ(t[1].Validator, "\"b7\"") << "its own tag guards its own ranges";
    EXPECT_EQ(t[0].Validator, "\"a1\"");
}

TEST(Sources, StandingFollowsJudgementSamplesAndAFreshStart) {
    TSources s({*ParseUrl("http://a.test/f"), *ParseUrl("http://b.test/f")});
    EXPECT_FALSE(s.Known());
    EXPECT_FALSE(s.Serves(0));
    s.Define(0, {100, "", "", {}});
    EXPECT_TRUE(s.Serves(0));
    EXPECT_FALSE(s.Serves(1)) << "not before it is judged";
    EXPECT_FALSE(s.Mixed());
    EXPECT_EQ(s.Judge(1, {100, "", "", {}}), TStanding::Sampling);
    EXPECT_FALSE(s.Serves(1)) << "a sample decides first";
    EXPECT_TRUE(s.Mixed()) << "its sample is compared";
    s.Sampled(1, false);
    EXPECT_EQ(s[1].Standing, TStanding::Other);
    EXPECT_FALSE(s.Mixed());
    EXPECT_FALSE(s.OthersLive(0));
    // From zero: judged again, unless its bytes were caught differing.
    s.Forget();
    EXPECT_EQ(s[1].Standing, TStanding::Unknown);
    s[1].Distrusted = true;
    s.Forget();
    s.Define(0, {100, "", "", {}});
    EXPECT_EQ(s[1].Standing, TStanding::Other);
    // Dead sources: the task fails only when all are, with the preferred one's reason.
    TSources d({*ParseUrl("http://a.test/f"), *ParseUrl("http://b.test/f")});
    d[1].Dead = true;
    d[1].DeadError = 10;
    EXPECT_FALSE(d.AllDead());
    d[0].Dead = true;
    d[0].DeadError = 2;
    EXPECT_TRUE(d.AllDead());
    EXPECT_EQ(d.DeadError(), 2u);
}

TEST(Sources, OneServerIsOneSchemeHostAndPort) {
    TSources s({*ParseUrl("http://A.test/x"), *ParseUrl("http://a.test/y"),
                *ParseUrl("https://a.test/x"), *ParseUrl("http://a.test:8080/x")});
    EXPECT_TRUE(s.SameServer(0, 1));
    EXPECT_FALSE(s.SameServer(0, 2));
    EXPECT_FALSE(s.SameServer(0, 3));
}

} // namespace
} // namespace xldl
