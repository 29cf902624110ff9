// What an RFC 3161 time stamp says: the TSTInfo inside the time-stamp token that a signed
// installer carries beside its signature. It names a hash (of the signature it stamps) and the
// time the authority vouches for. Pure DER in, values out; tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TTimeStampInfo {
    std::string HashAlgorithm; // dotted object identifier of the stamped hash's algorithm
    std::vector<uint8_t> Hash;
    int64_t Time = 0; // genTime, in seconds since 1970-01-01 UTC (fractions dropped)
};

// The TSTInfo in `der` (the token's signed content), if it is well formed DER of version 1
// with a time in the form RFC 3161 requires (GeneralizedTime, UTC, "Z").
std::optional<TTimeStampInfo> ParseTimeStampInfo(const uint8_t* der, size_t size);

// Seconds since 1970-01-01 UTC of a GeneralizedTime ("YYYYMMDDHHMMSS[.fff]Z").
std::optional<int64_t> ParseGeneralizedTime(const std::string& text);
