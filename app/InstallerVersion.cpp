#include "app/InstallerVersion.h"

namespace {

uint32_t Le(const uint8_t* p, size_t bytes) {
    uint32_t v = 0;
    for (size_t i = bytes; i-- > 0;)
        v = v << 8 | p[i];
    return v;
}

// Reads little-endian numbers of 2 or 4 bytes from the file.
struct TImage {
    const TReadAt& Read;
    std::optional<uint32_t> At(uint64_t offset, size_t bytes) const {
        uint8_t b[4];
        if (!Read(offset, b, bytes)) return std::nullopt;
        return Le(b, bytes);
    }
};

struct TSection {
    uint32_t Address, RawSize, RawAt;
};

constexpr uint32_t ResourceDirectory = 2, SecurityDirectory = 4, VersionType = 16;
constexpr uint32_t FixedInfoSignature = 0xFEEF04BD;
constexpr size_t MaxSections = 96, MaxEntries = 1024;

} // namespace

std::optional<TBuildVersion> ReadFileVersion(const TReadAt& read) {
    const TImage image{read};
    if (image.At(0, 2) != 0x5A4Du) return std::nullopt; // "MZ"
    const auto pe = image.At(0x3C, 4);
    if (!pe || image.At(*pe, 4) != 0x4550u) return std::nullopt; // "PE\0\0"
    const auto sectionCount = image.At(*pe + 6, 2), optionalSize = image.At(*pe + 20, 2);
    const uint64_t optional = uint64_t{*pe} + 24;
    const auto magic = image.At(optional, 2);
    if (!sectionCount || !optionalSize || !magic || *sectionCount > MaxSections)
        return std::nullopt;
    if (*magic != 0x10B && *magic != 0x20B) return std::nullopt;
    const uint64_t directories = optional + (*magic == 0x10B ? 96 : 112);
    const auto directoryCount = image.At(directories - 4, 4);
    if (!directoryCount || *directoryCount <= SecurityDirectory ||
        (directories - optional) + 8 * uint64_t{*directoryCount} > *optionalSize)
        return std::nullopt;
    const auto resources = image.At(directories + 8 * ResourceDirectory, 4);
    const auto signatureAt = image.At(directories + 8 * SecurityDirectory, 4);
    if (!resources || !signatureAt || *resources == 0) return std::nullopt;
    // What the signature covers ends where its certificates begin.
    const uint64_t signedEnd = *signatureAt ? *signatureAt : UINT64_MAX;

    std::vector<TSection> sections;
    const uint64_t table = optional + *optionalSize;
    for (uint32_t i = 0; i < *sectionCount; ++i) {
        const uint64_t at = table + 40 * uint64_t{i};
        const auto address = image.At(at + 12, 4), rawSize = image.At(at + 16, 4),
                   rawAt = image.At(at + 20, 4);
        if (!address || !rawSize || !rawAt) return std::nullopt;
        sections.push_back({*address, *rawSize, *rawAt});
    }
    // The file offset of `size` bytes at the image address `address`, within one section's
    // bytes in the file and before the certificates.
    const auto offset = [&](uint64_t address, uint64_t size) -> std::optional<uint64_t> {
        for (const TSection& s : sections)
            if (address >= s.Address && address - s.Address <= s.RawSize &&
                size <= s.RawSize - (address - s.Address)) {
                const uint64_t at = s.RawAt + (address - s.Address);
                if (at + size > signedEnd) return std::nullopt;
                return at;
            }
        return std::nullopt;
    };
    // The first entry of a resource directory at `directory` (from the resources' start) with
    // the id `id` (any when none), as its offset from the resources' start and whether it is a
    // directory itself.
    const auto entry = [&](uint32_t directory,
                           std::optional<uint32_t> id) -> std::optional<std::pair<uint32_t, bool>> {
        const auto head = offset(uint64_t{*resources} + directory, 16);
        if (!head) return std::nullopt;
        const auto named = image.At(*head + 12, 2), numbered = image.At(*head + 14, 2);
        if (!named || !numbered || *named + *numbered > MaxEntries) return std::nullopt;
        for (uint32_t i = 0; i < *named + *numbered; ++i) {
            const auto at = offset(uint64_t{*resources} + directory + 16 + 8 * uint64_t{i}, 8);
            if (!at) return std::nullopt;
            const auto name = image.At(*at, 4), data = image.At(*at + 4, 4);
            if (!name || !data) return std::nullopt;
            if (id && (i < *named || *name != *id)) continue;
            return std::pair{*data & 0x7FFFFFFFu, (*data & 0x80000000u) != 0};
        }
        return std::nullopt;
    };
    const auto type = entry(0, VersionType);
    if (!type || !type->second) return std::nullopt;
    const auto name = entry(type->first, std::nullopt);
    if (!name || !name->second) return std::nullopt;
    const auto language = entry(name->first, std::nullopt);
    if (!language || language->second) return std::nullopt;
    const auto dataEntry = offset(uint64_t{*resources} + language->first, 16);
    if (!dataEntry) return std::nullopt;
    const auto address = image.At(*dataEntry, 4), size = image.At(*dataEntry + 4, 4);
    // VS_VERSIONINFO: its length, its value's length, its type, L"VS_VERSION_INFO", padding to
    // four bytes, then the fixed part of 52 bytes.
    constexpr uint32_t FixedAt = 40, FixedSize = 52;
    if (!address || !size || *size < FixedAt + FixedSize) return std::nullopt;
    const auto info = offset(*address, FixedAt + FixedSize);
    if (!info) return std::nullopt;
    uint8_t b[FixedAt + FixedSize];
    if (!read(*info, b, sizeof b)) return std::nullopt;
    static const char16_t Key[] = u"VS_VERSION_INFO";
    for (size_t i = 0; i < 16; ++i)
        if (Le(b + 6 + 2 * i, 2) != static_cast<uint32_t>(Key[i])) return std::nullopt;
    if (Le(b + 2, 2) < FixedSize || Le(b + FixedAt, 4) != FixedInfoSignature) return std::nullopt;
    return TBuildVersion{Le(b + FixedAt + 8, 4)} << 32 | Le(b + FixedAt + 12, 4);
}

std::vector<uint8_t> FormatVersionRecord(const TVersionRecord& record) {
    std::vector<uint8_t> bytes(16);
    for (size_t i = 0; i < 8; ++i) {
        bytes[i] = static_cast<uint8_t>(record.Version >> (8 * i));
        bytes[8 + i] = static_cast<uint8_t>(static_cast<uint64_t>(record.RecordedAt) >> (8 * i));
    }
    return bytes;
}

std::optional<TVersionRecord> ParseVersionRecord(const uint8_t* data, size_t size) {
    if (!data || size != 16) return std::nullopt;
    TVersionRecord record;
    uint64_t at = 0;
    for (size_t i = 8; i-- > 0;) {
        record.Version = record.Version << 8 | data[i];
        at = at << 8 | data[8 + i];
    }
    record.RecordedAt = static_cast<int64_t>(at);
    return record;
}

TBuildOrder JudgeBuildOrder(std::optional<TBuildVersion> version,
                            const std::optional<TVersionRecord>& record, int64_t now) {
    if (!record || record->RecordedAt > now + RecordLeadSeconds)
        return {false, version.has_value()};
    if (!version || *version < record->Version) return {true, false};
    return {false, *version > record->Version};
}
