// The few text helpers the engine's parsers share: ASCII case, blanks, plain numbers. Header
// names, schemes, host names and the state file are ASCII; nothing here knows a locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace xldl {

inline char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string LowerText(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = Lower(c);
    return r;
}

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Without blanks (and stray carriage returns) at either end.
inline std::string_view Trim(std::string_view s) {
    while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

// Whether `value` can stand as it is on one line of ours, in a request's header or in the state
// file: no control characters. A bare CR or LF would end the line there, and whatever followed
// would be read (by the server, or by a proxy on the way) as a line of its own.
inline bool IsOneLine(std::string_view value) {
    for (char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

// Digits only, no sign, no overflow beyond 63 bits.
inline std::optional<int64_t> Digits(std::string_view s) {
    if (s.empty() || s.size() > 19) return std::nullopt;
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        const int d = c - '0';
        if (v > (INT64_MAX - d) / 10) return std::nullopt;
        v = v * 10 + d;
    }
    return v;
}

} // namespace xldl
