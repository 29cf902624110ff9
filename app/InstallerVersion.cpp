#include "app/InstallerVersion.h"

#include <string>

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
constexpr uint32_t ExecutableImage = 0x0002, Library = 0x2000; // the file header's characteristics
constexpr uint32_t FixedInfoSignature = 0xFEEF04BD, AppFileType = 1;
constexpr size_t MaxSections = 96, MaxEntries = 1024;

// A block of a version resource: a length, its value's length, its type (1: text, the length
// in characters), a key ending in a zero, its value and its children, each from four bytes.
struct TBlock {
    std::u16string Key;
    size_t Value, ValueEnd, Children, End;
};

size_t Aligned(size_t at) {
    return (at + 3) & ~size_t{3};
}

// The block at `at` of `b`, when it lies wholly before `end` (at most `b`'s end, past `at`).
std::optional<TBlock> Block(const std::vector<uint8_t>& b, size_t at, size_t end) {
    if (end - at < 6) return std::nullopt;
    const size_t length = Le(&b[at], 2);
    if (length < 6 || length > end - at) return std::nullopt;
    TBlock block{{}, 0, 0, 0, at + length};
    size_t key = at + 6;
    for (; key + 2 <= block.End && Le(&b[key], 2) != 0; key += 2)
        block.Key += static_cast<char16_t>(Le(&b[key], 2));
    if (key + 2 > block.End) return std::nullopt;
    block.Value = Aligned(key + 2);
    const size_t valueSize = Le(&b[at + 2], 2) * (Le(&b[at + 4], 2) == 1 ? 2 : 1);
    if (block.Value > block.End || valueSize > block.End - block.Value) return std::nullopt;
    block.ValueEnd = block.Value + valueSize;
    block.Children = Aligned(block.ValueEnd);
    return block;
}

// Calls `each` with every child of `parent` while it says true; false when it says false or a
// child does not lie within its parent.
template <typename TEach>
bool EachChild(const std::vector<uint8_t>& b, const TBlock& parent, TEach each) {
    for (size_t at = parent.Children; at < parent.End;) {
        const auto child = Block(b, at, parent.End);
        if (!child || !each(*child)) return false;
        at = Aligned(child->End);
    }
    return true;
}

// Whether the string tables under `root` say, in any language, that the image is `product`.
// Tables that do not lie within their blocks say nothing at all.
bool Names(const std::vector<uint8_t>& b, const TBlock& root, std::u16string_view product) {
    bool named = false;
    const auto table = [&](const TBlock& strings) {
        return EachChild(b, strings, [&](const TBlock& text) {
            std::u16string value;
            for (size_t at = text.Value; at + 2 <= text.ValueEnd && Le(&b[at], 2); at += 2)
                value += static_cast<char16_t>(Le(&b[at], 2));
            named = named || (text.Key == u"ProductName" && value == product);
            return true;
        });
    };
    const bool whole = EachChild(b, root, [&](const TBlock& info) {
        return info.Key != u"StringFileInfo" || EachChild(b, info, table);
    });
    return whole && named;
}

} // namespace

std::optional<TBuildVersion> ReadInstallerVersion(const TReadAt& read,
                                                  std::u16string_view product) {
    const TImage image{read};
    if (image.At(0, 2) != 0x5A4Du) return std::nullopt; // "MZ"
    const auto pe = image.At(0x3C, 4);
    if (!pe || image.At(*pe, 4) != 0x4550u) return std::nullopt; // "PE\0\0"
    const auto sectionCount = image.At(*pe + 6, 2), optionalSize = image.At(*pe + 20, 2),
               characteristics = image.At(*pe + 22, 2);
    const uint64_t optional = uint64_t{*pe} + 24;
    const auto magic = image.At(optional, 2);
    if (!sectionCount || !optionalSize || !characteristics || !magic || *sectionCount > MaxSections)
        return std::nullopt;
    // A library, or an image not to be run, is no installer, whatever else it says.
    if ((*characteristics & (ExecutableImage | Library)) != ExecutableImage) return std::nullopt;
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
    // four bytes, then the fixed part of 52 bytes; read whole, as far as its length says.
    constexpr uint32_t FixedAt = 40, FixedSize = 52;
    if (!address || !size) return std::nullopt;
    const auto head = offset(*address, 2);
    const auto length = head ? image.At(*head, 2) : std::nullopt;
    if (!length || *length > *size) return std::nullopt;
    const auto info = offset(*address, *length);
    if (!info) return std::nullopt;
    std::vector<uint8_t> b(*length);
    if (!read(*info, b.data(), b.size())) return std::nullopt;
    const auto root = Block(b, 0, b.size());
    if (!root || root->Key != u"VS_VERSION_INFO" || root->ValueEnd - root->Value < FixedSize ||
        Le(&b[FixedAt], 4) != FixedInfoSignature)
        return std::nullopt;
    if (Le(&b[FixedAt + 36], 4) != AppFileType || !Names(b, *root, product)) return std::nullopt;
    return TBuildVersion{Le(&b[FixedAt + 8], 4)} << 32 | Le(&b[FixedAt + 12], 4);
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
