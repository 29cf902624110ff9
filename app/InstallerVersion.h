// Which build an installer is, and whether it may start after the builds this user has already
// verified: by the version in its own version resource (VS_FIXEDFILEINFO), which lies inside
// the image the maker signed. A time stamp lies outside it: anyone may add or replace one from
// any public authority without the maker's key, so it only ever says whether a certificate was
// valid, never which build is newer. A maker goes back to an older build on purpose by giving
// it a higher version. Pure bytes and numbers in, verdicts out; tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

// major.minor.build.revision, 16 bits each, major highest: ordered as numbers.
using TBuildVersion = uint64_t;

constexpr TBuildVersion BuildVersion(uint16_t major, uint16_t minor, uint16_t build,
                                     uint16_t revision) {
    return TBuildVersion{major} << 48 | TBuildVersion{minor} << 32 | TBuildVersion{build} << 16 |
           revision;
}

// Reads `size` bytes of the file from `offset`; false when they are not all there.
using TReadAt = std::function<bool(uint64_t offset, void* into, size_t size)>;

// The file version of the PE image `read` gives, when it is the installer of `product`: its
// first version resource, read only where it lies wholly in the image's sections and before its
// signature's certificates (what the signature does not cover may say anything). The maker
// signs more than its installer (other products, libraries, this tool), so its signature says
// nothing of which file it is: only a program image (no library) whose fixed part says
// VFT_APP and whose string tables, in any language, give `product` as the ProductName is the
// installer. Nothing for any other image, one without a version resource, or a damaged one.
std::optional<TBuildVersion> ReadInstallerVersion(const TReadAt& read, std::u16string_view product);

// What this user's tool keeps of the newest build it verified.
struct TVersionRecord {
    TBuildVersion Version = 0;
    int64_t RecordedAt = 0; // seconds since 1970 UTC, by this machine's clock when kept
};

// As it is kept (16 bytes, little-endian: the version, then the time); nothing when it is not
// exactly that.
std::vector<uint8_t> FormatVersionRecord(const TVersionRecord& record);
std::optional<TVersionRecord> ParseVersionRecord(const uint8_t* data, size_t size);

// A record kept at a time more than this ahead of the present clock was not kept by this tool
// as the clock runs (damaged, or planted): it counts as none rather than as a wall.
constexpr int64_t RecordLeadSeconds = 24 * 3600;

struct TBuildOrder {
    bool Older = false;  // refused: before the newest verified, or no version to show it is not
    bool Record = false; // its version becomes the newest verified
};

// Where a verified installer of `version` stands against `record` at `now`: a lower version
// than the record's is older, the same version is the same build again, and one without a
// version cannot show it is not older once there is a record.
TBuildOrder JudgeBuildOrder(std::optional<TBuildVersion> version,
                            const std::optional<TVersionRecord>& record, int64_t now);
