// What the harnesses share: a broken invariant is a finding, reported like a crash so that
// libFuzzer keeps the input that broke it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition);           \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

inline std::string_view Text(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Whether a line of ours could carry `s` as it is: nothing that ends or breaks a line.
inline bool Clean(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

// A request as we write it: lines that each end in CRLF, no CR or LF anywhere else, and one
// blank line, its last.
inline bool WellFormedRequest(std::string_view r) {
    if (r.size() < 4 || r.substr(r.size() - 4) != "\r\n\r\n") return false;
    for (size_t i = 0; i < r.size(); ++i) {
        if (r[i] == '\r' && (i + 1 >= r.size() || r[i + 1] != '\n')) return false;
        if (r[i] == '\n' && (i == 0 || r[i - 1] != '\r')) return false;
    }
    return r.find("\r\n\r\n") == r.size() - 4;
}

} // namespace fuzz
