#include "xldl/core/HttpHeaders.h"

#include "xldl/core/Text.h"

#include <algorithm>

namespace xldl {

namespace {

// Splits a list field at commas outside quoted strings.
std::vector<std::string_view> SplitList(std::string_view s) {
    std::vector<std::string_view> items;
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"')
            quoted = !quoted;
        else if (s[i] == '\\' && quoted)
            ++i;
        else if (s[i] == ',' && !quoted) {
            items.push_back(Trim(s.substr(start, i - start)));
            start = i + 1;
        }
    }
    if (start <= s.size()) items.push_back(Trim(s.substr(start)));
    return items;
}

// A field name: letters, digits and the marks HTTP allows in a token; nothing empty.
bool IsToken(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum && std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos)
            return false;
    }
    return true;
}

int MonthIndex(std::string_view m) {
    static const char* const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int i = 0; i < 12; ++i)
        if (EqualsNoCase(m, names[i])) return i;
    return -1;
}

// A day's name, short or long, whichever form the date takes: real servers mix them up.
bool IsDayName(std::string_view d) {
    static const char* const names[] = {"monday", "tuesday",  "wednesday", "thursday",
                                        "friday", "saturday", "sunday"};
    for (const char* name : names)
        if (EqualsNoCase(d, name) || EqualsNoCase(d, std::string_view(name, 3))) return true;
    return false;
}

bool IsLeapYear(int64_t y) {
    return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::optional<int64_t> TimeOfDay(std::string_view t) {
    if (t.size() != 8 || t[2] != ':' || t[5] != ':') return std::nullopt;
    const auto h = Digits(t.substr(0, 2)), mi = Digits(t.substr(3, 2)), s = Digits(t.substr(6, 2));
    if (!h || !mi || !s || *h > 23 || *mi > 59 || *s > 60) return std::nullopt;
    return *h * 3600 + *mi * 60 + *s;
}

std::vector<std::string_view> Words(std::string_view s, std::string_view separators) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && separators.find(s[i]) != std::string_view::npos)
            ++i;
        const size_t start = i;
        while (i < s.size() && separators.find(s[i]) == std::string_view::npos)
            ++i;
        if (i > start) words.push_back(s.substr(start, i - start));
    }
    return words;
}

// The date's parts as written: a year of `yearDigits` digits (two: 1970-2069), a month's
// name, a day of one or two digits that the month has, a time of day.
std::optional<int64_t> Epoch(std::string_view year, size_t yearDigits, std::string_view month,
                             std::string_view day, std::string_view time) {
    if (year.size() != yearDigits || day.empty() || day.size() > 2) return std::nullopt;
    const auto y = Digits(year), d = Digits(day);
    const int m = MonthIndex(month);
    const auto tod = TimeOfDay(time);
    if (!y || !d || m < 0 || !tod) return std::nullopt;
    const int64_t fullYear = yearDigits == 2 ? *y + (*y < 70 ? 2000 : 1900) : *y;
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int64_t days = monthDays[m] + (m == 1 && IsLeapYear(fullYear) ? 1 : 0);
    if (*d < 1 || *d > days) return std::nullopt;
    return DaysFromCivil(fullYear, m + 1, static_cast<int>(*d)) * 86400 + *tod;
}

} // namespace

std::optional<std::string> THeaders::Get(std::string_view lowerName) const {
    std::optional<std::string> value;
    for (const auto& [name, v] : Fields) {
        if (name != lowerName) continue;
        if (value)
            *value += ", " + v;
        else
            value = v;
    }
    return value;
}

std::optional<TStatusLine> ParseStatusLine(std::string_view line) {
    // Some servers put more than one blank between the parts, or none after the code.
    if (line.size() < 12 || line.substr(0, 7) != "HTTP/1." || line[7] < '0' || line[7] > '9' ||
        line[8] != ' ')
        return std::nullopt;
    std::string_view rest = line.substr(8);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    if (rest.size() < 3 || (rest.size() > 3 && !IsBlank(rest[3]))) return std::nullopt;
    const auto code = Digits(rest.substr(0, 3));
    if (!code || *code < 100 || *code > 599) return std::nullopt;
    return TStatusLine{std::string(line.substr(0, 8)), static_cast<int>(*code)};
}

bool IsInterimStatus(int status) {
    return status >= 100 && status < 200 && status != 101;
}

THeaders ParseHeaderBlock(std::string_view raw) {
    THeaders h;
    bool first = true;
    while (!raw.empty()) {
        const size_t eol = raw.find('\n');
        std::string_view line = raw.substr(0, eol);
        raw = eol == std::string_view::npos ? std::string_view{} : raw.substr(eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (first) {
            first = false;
            if (auto status = ParseStatusLine(line)) {
                h.Version = std::move(status->Version);
                h.Status = status->Status;
            }
            continue;
        }
        if (line.empty()) break;
        if (IsBlank(line.front()) && !h.Fields.empty()) {
            h.Fields.back().second += " ";
            h.Fields.back().second += Trim(line);
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = Trim(line.substr(0, colon));
        if (!IsToken(name)) continue;
        h.Fields.emplace_back(LowerText(name), std::string(Trim(line.substr(colon + 1))));
    }
    return h;
}

std::optional<int64_t> ParseByteCount(std::string_view text) {
    return Digits(Trim(text));
}

std::optional<TContentRange> ParseContentRange(std::string_view text) {
    text = Trim(text);
    if (text.size() < 6 || !EqualsNoCase(text.substr(0, 5), "bytes") || !IsBlank(text[5]))
        return std::nullopt;
    text = Trim(text.substr(6));
    const size_t slash = text.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view range = Trim(text.substr(0, slash));
    const std::string_view total = Trim(text.substr(slash + 1));
    TContentRange r;
    if (total != "*") {
        const auto t = Digits(total);
        if (!t) return std::nullopt;
        r.Total = *t;
    }
    if (range == "*") {
        if (r.Total < 0) return std::nullopt;
        r.Unsatisfied = true;
        return r;
    }
    const size_t dash = range.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const auto first = Digits(range.substr(0, dash)), last = Digits(range.substr(dash + 1));
    // The last position leaves room for a length after it.
    if (!first || !last || *last < *first || *last == INT64_MAX) return std::nullopt;
    if (r.Total >= 0 && *last >= r.Total) return std::nullopt;
    r.First = *first;
    r.Last = *last;
    return r;
}

std::optional<int64_t> ParseHttpDate(std::string_view text) {
    const auto w = Words(Trim(text), " ,");
    if (w.empty() || !IsDayName(w[0])) return std::nullopt;
    // IMF-fixdate: Sun, 06 Nov 1994 08:49:37 GMT
    if (w.size() == 6 && w[5] == "GMT") return Epoch(w[3], 4, w[2], w[1], w[4]);
    // RFC 850: Sunday, 06-Nov-94 08:49:37 GMT
    if (w.size() == 4 && w[3] == "GMT") {
        const auto parts = Words(w[1], "-");
        if (parts.size() != 3) return std::nullopt;
        return Epoch(parts[2], parts[2].size() == 4 ? 4 : 2, parts[1], parts[0], w[2]);
    }
    // asctime: Sun Nov  6 08:49:37 1994
    if (w.size() == 5) return Epoch(w[4], 4, w[1], w[2], w[3]);
    return std::nullopt;
}

std::optional<int64_t> ParseRetryAfter(std::string_view text, int64_t nowEpoch) {
    text = Trim(text);
    if (const auto seconds = Digits(text)) return *seconds;
    if (const auto when = ParseHttpDate(text)) return std::max<int64_t>(0, *when - nowEpoch);
    return std::nullopt;
}

std::optional<TEntityTag> ParseEntityTag(std::string_view text) {
    text = Trim(text);
    TEntityTag tag;
    if (text.size() >= 2 && text[0] == 'W' && text[1] == '/') {
        tag.Weak = true;
        text.remove_prefix(2);
    }
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::nullopt;
    for (char c : text.substr(1, text.size() - 2))
        if (c == '"' || static_cast<unsigned char>(c) < 0x21 || c == 0x7F) return std::nullopt;
    tag.Text = std::string(text);
    return tag;
}

std::string RangeValidator(const THeaders& headers) {
    if (const auto etag = headers.Get("etag")) {
        const auto tag = ParseEntityTag(*etag);
        if (tag && !tag->Weak) return tag->Text;
    }
    if (const auto modified = headers.Get("last-modified")) {
        const std::string_view date = Trim(*modified);
        if (IsOneLine(date) && ParseHttpDate(date)) return std::string(date);
    }
    return {};
}

bool IsContentCoded(const THeaders& headers) {
    const auto coding = headers.Get("content-encoding");
    if (!coding) return false;
    for (const auto item : SplitList(*coding))
        if (!item.empty() && !EqualsNoCase(item, "identity")) return true;
    return false;
}

bool AcceptsByteRanges(const THeaders& headers) {
    const auto v = headers.Get("accept-ranges");
    if (!v) return false;
    for (const auto item : SplitList(*v))
        if (EqualsNoCase(item, "bytes")) return true;
    return false;
}

std::optional<std::vector<uint8_t>> Base64Decode(std::string_view text) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+' || c == '-') return 62;
        if (c == '/' || c == '_') return 63;
        return -1;
    };
    text = Trim(text);
    while (!text.empty() && text.back() == '=')
        text.remove_suffix(1);
    if (text.size() % 4 == 1) return std::nullopt;
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const int v = value(c);
        if (v < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<uint8_t>(bits >> count));
        }
    }
    return out;
}

TDigest AdvertisedDigest(const THeaders& headers, bool wholeBody) {
    auto make = [](TDigestKind kind, std::string_view b64) -> TDigest {
        const auto bytes = Base64Decode(b64);
        const size_t want = kind == TDigestKind::Sha256 ? 32 : 16;
        if (!bytes || bytes->size() != want) return {};
        return {kind, *bytes};
    };
    // Repr-Digest: sha-256=:BASE64:, sha-512=:...:  (a structured dictionary of byte sequences)
    if (const auto v = headers.Get("repr-digest")) {
        for (const auto item : SplitList(*v)) {
            const size_t eq = item.find('=');
            if (eq == std::string_view::npos || Trim(item.substr(0, eq)) != "sha-256") continue;
            std::string_view value = Trim(item.substr(eq + 1));
            const size_t semi = value.find(';'); // parameters after the value
            if (semi != std::string_view::npos) value = Trim(value.substr(0, semi));
            if (value.size() < 2 || value.front() != ':' || value.back() != ':') continue;
            auto d = make(TDigestKind::Sha256, value.substr(1, value.size() - 2));
            if (d.Kind != TDigestKind::None) return d;
        }
    }
    // Digest: SHA-256=BASE64, MD5=BASE64  (instance digests, names case-insensitive)
    TDigest md5;
    if (const auto v = headers.Get("digest")) {
        for (const auto item : SplitList(*v)) {
            const size_t eq = item.find('=');
            if (eq == std::string_view::npos) continue;
            const std::string_view name = Trim(item.substr(0, eq));
            const std::string_view value = Trim(item.substr(eq + 1));
            if (EqualsNoCase(name, "sha-256")) {
                auto d = make(TDigestKind::Sha256, value);
                if (d.Kind != TDigestKind::None) return d;
            } else if (EqualsNoCase(name, "md5") && md5.Kind == TDigestKind::None) {
                md5 = make(TDigestKind::Md5, value);
            }
        }
    }
    if (md5.Kind != TDigestKind::None) return md5;
    if (wholeBody)
        if (const auto v = headers.Get("content-md5")) return make(TDigestKind::Md5, *v);
    return {};
}

} // namespace xldl
