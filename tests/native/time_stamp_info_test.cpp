// Reading the TSTInfo of an RFC 3161 time stamp: the stamped hash and the time, from strict
// DER only.
#include "app/TimeStampInfo.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Tlv(uint8_t tag, const TBytes& content) {
    TBytes out{tag};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
    } else {
        out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

TBytes Cat(std::initializer_list<TBytes> parts) {
    TBytes out;
    for (const TBytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TBytes Text(const std::string& s) {
    return TBytes(s.begin(), s.end());
}

const TBytes Sha256Oid = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const TBytes Sha1Oid = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
const TBytes PolicyOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x83, 0xB2, 0x63, 0x01, 0x01};
const TBytes Stamped(32, 0xA5);

// A TSTInfo with the given parts; `tail` follows the time (accuracy, ordering, nonce...).
TBytes TstInfo(const TBytes& version, const TBytes& hashOid, const std::string& time,
               const TBytes& tail = {}) {
    const TBytes algorithm = Tlv(0x30, Cat({Tlv(0x06, hashOid), Tlv(0x05, {})}));
    return Tlv(0x30, Cat({Tlv(0x02, version), Tlv(0x06, PolicyOid),
                          Tlv(0x30, Cat({algorithm, Tlv(0x04, Stamped)})), Tlv(0x02, {0x01, 0x2C}),
                          Tlv(0x18, Text(time)), tail}));
}

std::optional<TTimeStampInfo> Parse(const TBytes& der) {
    return ParseTimeStampInfo(der.data(), der.size());
}

TEST(TimeStampInfo, ReadsTheStampedHashAndTheTime) {
    struct Case {
        const char* What;
        TBytes Der;
        const char* Algorithm;
        int64_t Time;
    };
    const TBytes accuracy = Tlv(0x30, Tlv(0x02, {0x01}));
    const TBytes ordering = Tlv(0x01, {0xFF});
    const TBytes nonce = Tlv(0x02, {0x12, 0x34, 0x56});
    const TBytes tsaName = Tlv(0xA0, Tlv(0xA4, Tlv(0x30, {})));
    for (const Case& c : {
             Case{"plain", TstInfo({1}, Sha256Oid, "20260522133301Z"), "2.16.840.1.101.3.4.2.1",
                  1779456781},
             Case{"fractions dropped", TstInfo({1}, Sha1Oid, "20260522133301.25Z"), "1.3.14.3.2.26",
                  1779456781},
             Case{"every optional field",
                  TstInfo({1}, Sha256Oid, "20240229000000Z",
                          Cat({accuracy, ordering, nonce, tsaName})),
                  "2.16.840.1.101.3.4.2.1", 1709164800},
             Case{"past 2038", TstInfo({1}, Sha256Oid, "20380119031408Z"), "2.16.840.1.101.3.4.2.1",
                  2147483648},
         }) {
        const auto info = Parse(c.Der);
        ASSERT_TRUE(info) << c.What;
        EXPECT_EQ(info->HashAlgorithm, c.Algorithm) << c.What;
        EXPECT_EQ(info->Hash, Stamped) << c.What;
        EXPECT_EQ(info->Time, c.Time) << c.What;
    }
}

TEST(TimeStampInfo, RefusesWhatIsNotStrictDerOfVersionOne) {
    const TBytes good = TstInfo({1}, Sha256Oid, "20260522133301Z");
    TBytes longLength = good; // the outer length in long form although short would do
    longLength.erase(longLength.begin(), longLength.begin() + 2);
    longLength.insert(longLength.begin(), {0x30, 0x81, static_cast<uint8_t>(good[1])});
    TBytes trailing = good;
    trailing.push_back(0x00);
    for (const auto& [what, der] : std::initializer_list<std::pair<const char*, TBytes>>{
             {"version 2", TstInfo({2}, Sha256Oid, "20260522133301Z")},
             {"local time", TstInfo({1}, Sha256Oid, "20260522133301")},
             {"an offset", TstInfo({1}, Sha256Oid, "20260522133301+0800")},
             {"UTCTime", TstInfo({1}, Sha256Oid, "260522133301Z")},
             {"a trailing zero in the fraction", TstInfo({1}, Sha256Oid, "20260522133301.50Z")},
             {"a padded object identifier", TstInfo({1}, {0x2B, 0x80, 0x0E}, "20260522133301Z")},
             {"garbage after the optional fields",
              TstInfo({1}, Sha256Oid, "20260522133301Z", {0x01})},
             {"long-form length", longLength},
             {"bytes after the TSTInfo", trailing},
             {"empty", {}},
         })
        EXPECT_FALSE(Parse(der)) << what;
    // Every cut of a good one, without reading past the end (the sanitizers watch).
    for (size_t n = 0; n < good.size(); ++n) {
        const TBytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(Parse(cut)) << n << " bytes";
    }
}

TEST(GeneralizedTime, CalendarRules) {
    struct Case {
        const char* Text;
        std::optional<int64_t> Seconds;
    };
    for (const Case& c : {Case{"19700101000000Z", 0},
                          {"19991231235959Z", 946684799},
                          {"20240229000000Z", 1709164800},
                          {"20250229000000Z", std::nullopt},
                          {"21000229000000Z", std::nullopt},
                          {"20000229000000Z", 951782400},
                          {"20261301000000Z", std::nullopt},
                          {"20260431000000Z", std::nullopt},
                          {"20260101240000Z", std::nullopt},
                          {"20260101000060Z", std::nullopt},
                          {"2026010100000Z", std::nullopt},
                          {"20260101000000.Z", std::nullopt},
                          {"2026-01-01000000Z", std::nullopt}})
        EXPECT_EQ(ParseGeneralizedTime(c.Text), c.Seconds) << c.Text;
}

} // namespace
