// Which build an installer is (its version resource, within what its signature covers) and
// whether it may start after the newest verified.
#include "app/InstallerVersion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct TPe {
    bool Wide = false;           // PE32+
    uint32_t Type = 16;          // of the first numbered resource
    uint32_t Directories = 16;   // how many data directories the header has
    uint32_t RawSize = 0x200;    // of the resources' section in the file
    uint32_t CertificatesAt = 0; // the signature's certificates, from there
    const char16_t* Key = u"VS_VERSION_INFO";
    uint32_t Signature = 0xFEEF04BD;
    size_t Size = 0x400; // the file's bytes that can be read
};

void Put(std::vector<uint8_t>& b, size_t at, uint32_t v, size_t bytes = 4) {
    for (size_t i = 0; i < bytes; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A PE image with code, and resources at 0x1000 (in the file at 0x200): a named
// resource's data, three levels of directory to a version resource whose file version is
// 2.0.3.4, and a manifest's data.
std::vector<uint8_t> Image(const TPe& pe) {
    std::vector<uint8_t> b(0x400);
    Put(b, 0, 0x5A4D, 2);
    Put(b, 0x3C, 0x40);
    Put(b, 0x40, 0x4550);
    Put(b, 0x46, 2, 2);       // sections
    Put(b, 0x48, 0x5F0000AB); // its time stamp
    const uint32_t optionalSize = pe.Wide ? 240 : 224, optional = 0x58;
    Put(b, 0x54, optionalSize | 0x01020000);                // and the image's characteristics
    Put(b, optional, (pe.Wide ? 0x20B : 0x10B) | 0x0E0000); // and the linker's version
    const uint32_t directories = optional + (pe.Wide ? 112 : 96);
    Put(b, directories - 4, pe.Directories);
    Put(b, directories + 16, 0x1000);
    Put(b, directories + 32, pe.CertificatesAt);
    // Code first, then the resources.
    const uint32_t section = optional + optionalSize + 40;
    Put(b, section - 40 + 12, 0x2000);
    Put(b, section - 40 + 16, 0x10);
    Put(b, section - 40 + 20, 0x3F0);
    Put(b, section + 12, 0x1000);
    Put(b, section + 16, pe.RawSize);
    Put(b, section + 20, 0x200);
    const uint32_t r = 0x200;
    Put(b, r + 12, 0x00020001); // one named entry, two numbered
    for (const auto& [at, id, next] :
         {std::tuple{0x10u, 0x80000200u, 0x58u}, std::tuple{0x18u, pe.Type, 0x80000028u},
          std::tuple{0x20u, 24u, 0x58u}, std::tuple{0x28u + 16, 1u, 0x80000040u},
          std::tuple{0x40u + 16, 0x409u, 0x58u}}) {
        Put(b, r + at, id);
        Put(b, r + at + 4, next);
    }
    Put(b, r + 0x28 + 14, 1, 2);
    Put(b, r + 0x40 + 14, 1, 2);
    Put(b, r + 0x58, 0x1070);
    Put(b, r + 0x5C, 92);
    Put(b, r + 0x72, 52, 2);
    for (size_t i = 0; i < 16; ++i)
        Put(b, r + 0x76 + 2 * i, pe.Key[i], 2);
    Put(b, r + 0x98, pe.Signature);
    Put(b, r + 0xA0, 0x00020000);
    Put(b, r + 0xA4, 0x00030004);
    b.resize(pe.Size);
    return b;
}

std::optional<TBuildVersion> Version(const TPe& pe) {
    const std::vector<uint8_t> b = Image(pe);
    return ReadFileVersion([&b](uint64_t offset, void* into, size_t size) {
        if (offset > b.size() || size > b.size() - offset) return false;
        std::memcpy(into, b.data() + offset, size);
        return true;
    });
}

TEST(InstallerVersion, TheVersionResourceWithinWhatTheSignatureCovers) {
    const std::optional<TBuildVersion> none;
    const struct {
        const char* What;
        TPe Pe;
        std::optional<TBuildVersion> Version;
    } cases[] = {
        {"32-bit", {}, BuildVersion(2, 0, 3, 4)},
        {"64-bit", {.Wide = true}, BuildVersion(2, 0, 3, 4)},
        {"signed right after it", {.CertificatesAt = 0x2CC}, BuildVersion(2, 0, 3, 4)},
        {"ending where its section ends", {.RawSize = 0xCC}, BuildVersion(2, 0, 3, 4)},
        {"beyond its section's end", {.RawSize = 0xCB}, none},
        {"no directory for signatures", {.Directories = 4}, none},
        {"cut inside the resources' directory", {.Size = 0x21C}, none},
        {"within the certificates", {.CertificatesAt = 0x280}, none},
        {"no version resource", {.Type = 3}, none},
        {"another key", {.Key = u"VS_VERSION_INFX"}, none},
        {"no fixed part", {.Signature = 0xFEEF04BC}, none},
        {"cut short", {.Size = 0x280}, none},
        {"no image", {.Size = 0x3C}, none},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Version(c.Pe), c.Version) << c.What;
}

TEST(InstallerVersion, NoLowerVersionThanTheNewestVerifiedAndNoRecordFromTheFuture) {
    const int64_t now = 1'800'000'000;
    const TBuildVersion v1 = BuildVersion(1, 9, 0, 0), v2 = BuildVersion(2, 0, 0, 0),
                        v3 = BuildVersion(2, 0, 0, 1);
    const std::optional<TBuildVersion> none;
    const std::optional<TVersionRecord> unrecorded;
    const struct {
        const char* What;
        std::optional<TBuildVersion> Version;
        std::optional<TVersionRecord> Record;
        bool Older, Kept;
    } cases[] = {
        {"the first", v1, unrecorded, false, true},
        {"the first, without a version", none, unrecorded, false, false},
        {"a lower version, however newly stamped", v1, TVersionRecord{v2, now}, true, false},
        {"the same build again", v2, TVersionRecord{v2, now}, false, false},
        {"a higher version", v3, TVersionRecord{v2, now}, false, true},
        {"no version to show", none, TVersionRecord{v2, now}, true, false},
        {"a record a day ahead", v1, TVersionRecord{v2, now + 86400}, true, false},
        {"a record further ahead", v1, TVersionRecord{v2, now + 86401}, false, true},
    };
    for (const auto& c : cases) {
        const TBuildOrder order = JudgeBuildOrder(c.Version, c.Record, now);
        EXPECT_EQ(order.Older, c.Older) << c.What;
        EXPECT_EQ(order.Record, c.Kept) << c.What;
    }
    const TVersionRecord kept{v3, -now};
    const std::vector<uint8_t> bytes = FormatVersionRecord(kept);
    const auto back = ParseVersionRecord(bytes.data(), bytes.size());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->Version, kept.Version);
    EXPECT_EQ(back->RecordedAt, kept.RecordedAt);
    EXPECT_FALSE(ParseVersionRecord(bytes.data(), 15).has_value());
    EXPECT_FALSE(ParseVersionRecord(nullptr, 16).has_value());
}

} // namespace
