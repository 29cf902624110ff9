// Which build an installer is, and that it is the installer (its version resource, within what
// its signature covers), and whether it may start after the newest verified.
#include "app/InstallerVersion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

void Put(TBytes& b, size_t at, uint32_t v, size_t bytes = 4) {
    for (size_t i = 0; i < bytes; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A block of a version resource: its key, its text, its children; `length` in place of its own.
TBytes Block(std::u16string_view key, std::u16string_view text, const std::vector<TBytes>& in = {},
             int length = -1) {
    TBytes b(6);
    const auto chars = [&b](std::u16string_view s) {
        for (const char16_t c : s)
            b.insert(b.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
        b.resize(b.size() + 2);
    };
    chars(key);
    if (!text.empty()) b.resize((b.size() + 3) & ~size_t{3}), chars(text);
    for (const TBytes& child : in)
        b.resize((b.size() + 3) & ~size_t{3}), b.insert(b.end(), child.begin(), child.end());
    Put(b, 0, length < 0 ? b.size() : length, 2);
    Put(b, 2, text.empty() ? 0 : text.size() + 1, 2);
    Put(b, 4, 1, 2);
    return b;
}
TBytes Strings(const std::vector<TBytes>& tables) {
    return Block(u"StringFileInfo", u"", tables);
}
TBytes Table(const std::vector<TBytes>& texts, int length = -1) {
    return Block(u"040904b0", u"", texts, length);
}
TBytes Product(std::u16string_view name, int length = -1) {
    return Block(u"ProductName", name, {}, length);
}

struct TPe {
    bool Wide = false;           // PE32+
    uint32_t Type = 16;          // of the first numbered resource
    uint32_t Directories = 16;   // how many data directories the header has
    uint32_t RawSize = 0x200;    // of the resources' section in the file
    uint32_t CertificatesAt = 0; // the signature's certificates, from there
    const char16_t* Key = u"VS_VERSION_INFO";
    uint32_t Signature = 0xFEEF04BD;
    size_t Size = 0x400; // the file's bytes that can be read
    uint32_t Characteristics = 0x0102, FileType = 1;
    TBytes Names = Strings({Table({Product(u"Setup")})}); // 0x68 bytes: the resource to 0x334
};

// A PE image with code, and resources at 0x1000 (in the file at 0x200): a named
// resource's data, three levels of directory to a version resource whose file version is
// 2.0.3.4 followed by `Names`, and a manifest's data.
std::vector<uint8_t> Image(const TPe& pe) {
    std::vector<uint8_t> b(0x400);
    Put(b, 0, 0x5A4D, 2);
    Put(b, 0x3C, 0x40);
    Put(b, 0x40, 0x4550);
    Put(b, 0x46, 2, 2);       // sections
    Put(b, 0x48, 0x5F0000AB); // its time stamp
    const uint32_t optionalSize = pe.Wide ? 240 : 224, optional = 0x58;
    Put(b, 0x54, optionalSize | pe.Characteristics << 16);
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
    Put(b, r + 0x5C, 92 + pe.Names.size());
    Put(b, r + 0x70, 92 + pe.Names.size(), 2);
    Put(b, r + 0x72, 52, 2);
    for (size_t i = 0; i < 16; ++i)
        Put(b, r + 0x76 + 2 * i, pe.Key[i], 2);
    Put(b, r + 0x98, pe.Signature);
    Put(b, r + 0xA0, 0x00020000);
    Put(b, r + 0xA4, 0x00030004);
    Put(b, r + 0xBC, pe.FileType);
    std::copy(pe.Names.begin(), pe.Names.end(), b.begin() + r + 0xCC);
    b.resize(pe.Size);
    return b;
}

std::optional<TBuildVersion> Version(const TPe& pe) {
    const std::vector<uint8_t> b = Image(pe);
    return ReadInstallerVersion(
        [&b](uint64_t offset, void* into, size_t size) {
            if (offset > b.size() || size > b.size() - offset) return false;
            std::memcpy(into, b.data() + offset, size);
            return true;
        },
        u"Setup");
}

TEST(InstallerVersion, TheInstallersVersionResourceWithinWhatTheSignatureCovers) {
    const std::optional<TBuildVersion> none;
    const struct {
        const char* What;
        TPe Pe;
        std::optional<TBuildVersion> Version;
    } cases[] = {
        {"32-bit", {}, BuildVersion(2, 0, 3, 4)},
        {"64-bit", {.Wide = true}, BuildVersion(2, 0, 3, 4)},
        {"signed right after it", {.CertificatesAt = 0x334}, BuildVersion(2, 0, 3, 4)},
        {"ending where its section ends", {.RawSize = 0x134}, BuildVersion(2, 0, 3, 4)},
        {"beyond its section's end", {.RawSize = 0x133}, none},
        {"no directory for signatures", {.Directories = 4}, none},
        {"cut inside the resources' directory", {.Size = 0x21C}, none},
        {"within the certificates", {.CertificatesAt = 0x280}, none},
        {"no version resource", {.Type = 3}, none},
        {"another key", {.Key = u"VS_VERSION_INFX"}, none},
        {"no fixed part", {.Signature = 0xFEEF04BC}, none},
        {"cut short", {.Size = 0x280}, none},
        {"no image", {.Size = 0x3C}, none},
        {"a library", {.Characteristics = 0x2102}, none},
        {"not to be run", {.Characteristics = 0x0100}, none},
        {"no program by its type", {.FileType = 2}, none},
        {"another product", {.Names = Strings({Table({Product(u"Tools")})})}, none},
        {"a longer name", {.Names = Strings({Table({Product(u"Setup2")})})}, none},
        {"no product name", {.Names = Strings({Table({Block(u"CompanyName", u"Setup")})})}, none},
        {"named outside a string table",
         {.Names = Block(u"VarFileInfo", u"", {Table({Product(u"Setup")})})},
         none},
        {"named in a second language",
         {.Names = Strings({Table({Product(u"Tools")}), Table({}), Table({Product(u"Setup")})})},
         BuildVersion(2, 0, 3, 4)},
        {"a name past its block", {.Names = Strings({Table({Product(u"Setup", 42)})})}, none},
        {"a block of no length", {.Names = Strings({Table({Product(u"Setup", 0)})})}, none},
        {"a table past its parent",
         {.Names = Strings({Table({Product(u"Setup")}), Table({}, 28)})},
         none},
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
