#include "xldl/core/StateFile.h"

#include "xldl/core/Hashes.h"
#include "xldl/core/Text.h"
#include "xldl/core/Url.h"

#include <algorithm>

namespace xldl {

namespace {

constexpr std::string_view Magic = "xldl-state";

std::string Hex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < size; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

std::optional<std::vector<uint8_t>> FromHex(std::string_view s) {
    if (s.size() % 2) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < s.size(); i += 2) {
        int v = 0;
        for (size_t k = i; k < i + 2; ++k) {
            const char c = s[k];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= c - '0';
            else if (c >= 'a' && c <= 'f')
                v |= c - 'a' + 10;
            else
                return std::nullopt;
        }
        bytes.push_back(static_cast<uint8_t>(v));
    }
    return bytes;
}

std::string Checksum(std::string_view body) {
    TSha256 sha;
    sha.Update(body.data(), body.size());
    const auto h = sha.Final();
    return Hex(h.data(), h.size());
}

std::string Mac(std::string_view body, const std::vector<uint8_t>& key) {
    const auto h = HmacSha256(key.data(), key.size(), body.data(), body.size());
    return Hex(h.data(), h.size());
}

} // namespace

std::string FormatState(const TSavedState& state, const TSeal& seal) {
    std::string s;
    s += std::string(Magic) + " " + std::to_string(StateFormat) + "\n";
    const auto line = [&s](std::string_view key, std::string_view value) {
        if (!IsOneLine(value)) return;
        s += key;
        s += ' ';
        s += value;
        s += '\n';
    };
    line("url", state.Url);
    line("name", state.Name);
    line("location", state.Location);
    line("total", std::to_string(state.Total));
    if (!state.ETag.empty()) line("etag", state.ETag);
    if (!state.LastModified.empty()) line("last-modified", state.LastModified);
    if (state.Digest.Kind != TDigestKind::None)
        line(state.Digest.Kind == TDigestKind::Sha256 ? "sha-256" : "md5",
             Hex(state.Digest.Bytes.data(), state.Digest.Bytes.size()));
    for (const TSavedMirror& m : state.Mirrors) {
        // A mirror whose URL or location cannot stand on a line is left out with all its lines.
        if (m.Url.empty() || m.Location.empty() || !IsOneLine(m.Url) || !IsOneLine(m.Location))
            continue;
        line("mirror", m.Url);
        line("mirror-location", m.Location);
        if (!m.ETag.empty()) line("mirror-etag", m.ETag);
        if (!m.LastModified.empty()) line("mirror-last-modified", m.LastModified);
    }
    for (const TByteRange& r : state.Done)
        line("range", std::to_string(r.Start) + " " + std::to_string(r.End));
    s += seal.Key.empty() ? "check " + Checksum(s) + "\n" : "seal " + Mac(s, seal.Key) + "\n";
    return s;
}

std::optional<TSavedState> ParseAnyState(std::string_view text, TStateProblem* problem,
                                         const TSeal& seal) {
    TStateProblem unused;
    TStateProblem& why = problem ? *problem : unused;
    why = TStateProblem::Damaged;
    if (text.size() > MaxStateBytes) return std::nullopt;
    // The seal's line closes the file: anything torn off or added after it is damage.
    if (text.empty() || text.back() != '\n') return std::nullopt;
    const size_t lastAt = text.rfind('\n', text.size() - 2);
    if (lastAt == std::string_view::npos) return std::nullopt;
    const std::string_view body = text.substr(0, lastAt + 1);
    const std::string_view last = text.substr(lastAt + 1, text.size() - lastAt - 2);
    if (last.rfind("seal ", 0) == 0) {
        if (seal.Key.empty() || !SameSecret(last.substr(5), Mac(body, seal.Key)))
            return std::nullopt;
    } else if (last.rfind("check ", 0) == 0) {
        if (!seal.Plain || last.substr(6) != Checksum(body)) return std::nullopt;
    } else {
        return std::nullopt;
    }

    TSavedState s;
    bool haveUrl = false, haveName = false, haveTotal = false, first = true;
    int64_t lastEnd = 0;
    std::vector<std::string_view> seen; // keys met, against a second value for one of them
    std::string_view rest = body;
    while (!rest.empty()) {
        const size_t eol = rest.find('\n');
        const std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(eol + 1);
        const size_t space = line.find(' ');
        if (space == std::string_view::npos) return std::nullopt;
        const std::string_view key = line.substr(0, space);
        const std::string_view value = line.substr(space + 1);
        if (first) {
            first = false;
            const auto format = Digits(value);
            if (key != Magic || !format) return std::nullopt;
            if (*format != StateFormat && *format != 1) {
                if (*format > StateFormat) why = TStateProblem::Future;
                return std::nullopt;
            }
            continue;
        }
        // A sound writer writes each value once, and only values that can stand on a line;
        // a second "total" after the ranges, say, would make them lie past the file's end.
        if (!IsOneLine(value)) return std::nullopt;
        TSavedMirror* mirror = s.Mirrors.empty() ? nullptr : &s.Mirrors.back();
        if (key == "mirror") {
            if (value.empty()) return std::nullopt;
            s.Mirrors.push_back({std::string(value), {}, {}, {}});
            continue;
        }
        if (key.substr(0, 7) == "mirror-") {
            // A mirror's own lines follow its "mirror" line, each once.
            if (!mirror) return std::nullopt;
            std::string* field = key == "mirror-location"        ? &mirror->Location
                                 : key == "mirror-etag"          ? &mirror->ETag
                                 : key == "mirror-last-modified" ? &mirror->LastModified
                                                                 : nullptr;
            if (!field || !field->empty() || value.empty()) return std::nullopt;
            *field = value;
            continue;
        }
        if (key != "range") {
            if (std::find(seen.begin(), seen.end(), key) != seen.end()) return std::nullopt;
            seen.push_back(key);
        }
        if (key == "url") {
            s.Url = value;
            haveUrl = true;
        } else if (key == "name") {
            s.Name = value;
            haveName = true;
        } else if (key == "location") {
            if (!ParseUrl(value)) return std::nullopt;
            s.Location = value;
        } else if (key == "total") {
            const auto n = Digits(value);
            if (!n) return std::nullopt;
            s.Total = *n;
            haveTotal = true;
        } else if (key == "etag") {
            // Sent back in If-Range as it stands here: it must be a tag as a server sends it.
            const auto tag = ParseEntityTag(value);
            if (!tag || (tag->Weak ? "W/" : "") + tag->Text != value) return std::nullopt;
            s.ETag = value;
        } else if (key == "last-modified") {
            if (!ParseHttpDate(value) || Trim(value) != value) return std::nullopt;
            s.LastModified = value;
        } else if (key == "sha-256" || key == "md5") {
            auto bytes = FromHex(value);
            if (!bytes || bytes->size() != (key == "md5" ? 16u : 32u)) return std::nullopt;
            s.Digest.Kind = key == "md5" ? TDigestKind::Md5 : TDigestKind::Sha256;
            s.Digest.Bytes = std::move(*bytes);
        } else if (key == "range") {
            const size_t mid = value.find(' ');
            if (mid == std::string_view::npos || !haveTotal) return std::nullopt;
            const auto start = Digits(value.substr(0, mid));
            const auto end = Digits(value.substr(mid + 1));
            // Sorted, apart and inside the file, or not ours.
            if (!start || !end || *start >= *end || *start < lastEnd || *end > s.Total)
                return std::nullopt;
            s.Done.push_back({*start, *end});
            lastEnd = *end;
        } else {
            return std::nullopt; // a key this format does not have
        }
    }
    if (!haveUrl || !haveName || !haveTotal || s.Location.empty() || s.Url.empty() ||
        s.Name.empty())
        return std::nullopt;
    for (const TSavedMirror& m : s.Mirrors)
        if (m.Location.empty()) return std::nullopt;
    why = TStateProblem::None;
    return s;
}

std::optional<TSavedState> ParseState(std::string_view text, const std::vector<std::string>& urls,
                                      std::string_view name, TStateProblem* problem,
                                      const TSeal& seal) {
    TStateProblem unused;
    TStateProblem& why = problem ? *problem : unused;
    auto s = ParseAnyState(text, &why, seal);
    if (!s) return s;
    const auto ours = [&urls](std::string_view u) {
        return std::find(urls.begin(), urls.end(), u) != urls.end();
    };
    bool known = ours(s->Url);
    for (const TSavedMirror& m : s->Mirrors)
        known = known || ours(m.Url);
    if (!known || s->Name != name) {
        why = TStateProblem::Foreign;
        return std::nullopt;
    }
    return s;
}

bool IsStateOfPartial(std::string_view text, std::string_view name, const TSeal& seal) {
    const auto s = ParseAnyState(text, nullptr, seal);
    return s && EqualsNoCase(s->Name, name);
}

void SetStateValidator(TSavedState& state, const std::string& validator) {
    state.ETag.clear();
    state.LastModified.clear();
    if (!validator.empty() && (validator.front() == '"' || validator.rfind("W/", 0) == 0))
        state.ETag = validator;
    else
        state.LastModified = validator;
}

std::string StateValidator(const TSavedState& state) {
    if (!state.ETag.empty() && state.ETag.rfind("W/", 0) != 0) return state.ETag;
    return state.LastModified;
}

std::string MirrorValidator(const TSavedMirror& mirror) {
    if (!mirror.ETag.empty() && mirror.ETag.rfind("W/", 0) != 0) return mirror.ETag;
    return mirror.LastModified;
}

void SetMirrorValidator(TSavedMirror& mirror, const std::string& validator) {
    mirror.ETag.clear();
    mirror.LastModified.clear();
    if (!validator.empty() && (validator.front() == '"' || validator.rfind("W/", 0) == 0))
        mirror.ETag = validator;
    else
        mirror.LastModified = validator;
}

} // namespace xldl
