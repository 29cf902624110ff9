// The small file the engine keeps beside a partial download ("setup.exe.part.state"), so that a
// later task, in this run or the next, resumes instead of starting from zero. It says what the
// file is (the URL asked for, the final name, where it was found, the server's validators and
// length, an advertised digest), which other mirror served it too (its URL, where it found the
// file, its own validators: entity tags are each server's own), and which byte ranges of the
// partial are on disk and durable. A task takes it up when either of its mirrors is one the
// state names.
//
// Text, one "key value" per line, ending in a seal of everything before it: an HMAC-SHA-256
// under a key of the user's own, which nobody without that key can make (an older engine
// closed it with a plain SHA-256, which anyone can). Nothing in it is believed unless all of it
// checks: a missing, short, damaged, unsealed, foreign (another URL or name) or newer-format
// state is no state at all, and the download starts over. Pure text in and out; tested
// natively. The same format records a finished file (xldl/FinishedFile).
#pragma once

#include "xldl/core/HttpHeaders.h"
#include "xldl/core/Segments.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xldl {

constexpr int StateFormat = 2; // 1: the same without other mirrors, still read
// Larger than any state we write (a few ranges per connection): anything bigger is not ours.
constexpr size_t MaxStateBytes = 1 << 20;

// Another mirror that served the file.
struct TSavedMirror {
    std::string Url;      // as the task was given it
    std::string Location; // where it found the file
    std::string ETag;     // its own strong entity tag, or its date
    std::string LastModified;
};

struct TSavedState {
    std::string Url;      // as the task was given it (the mirror that defined the file)
    std::string Name;     // the final file name (UTF-8)
    std::string Location; // where the file was found, after redirects
    int64_t Total = -1;   // bytes
    std::string ETag;     // as the server sent it, quotes included
    std::string LastModified;
    TDigest Digest;
    std::vector<TSavedMirror> Mirrors;
    std::vector<TByteRange> Done; // sorted, apart, within [0, Total)
};

// What closes a state, and which closings are believed.
struct TSeal {
    std::vector<uint8_t> Key; // the user's own: states are sealed with it; empty: none
    bool Plain = true;        // also believe a plain SHA-256 (written without a key)
    // The user's key is kept but could not be read this run: no state or record is written,
    // and none found is removed for not being believed (xldl/core/SealKey).
    bool Withheld = false;
};

std::string FormatState(const TSavedState& state, const TSeal& seal = {});

enum class TStateProblem {
    None,
    Damaged, // short, torn, unreadable, checksum wrong, values out of range
    Future,  // written by a newer engine
    Foreign, // another file name, or no URL of the task's
};

// The state in `text` if it is whole and ours, whatever file it is about: sealed, of this
// format, every key at most once (ranges aside), every value one we could have written.
std::optional<TSavedState> ParseAnyState(std::string_view text, TStateProblem* problem = nullptr,
                                         const TSeal& seal = {});

// The state in `text` if it is whole, ours and about one of `urls` saved as `name`.
std::optional<TSavedState> ParseState(std::string_view text, const std::vector<std::string>& urls,
                                      std::string_view name, TStateProblem* problem = nullptr,
                                      const TSeal& seal = {});
inline std::optional<TSavedState> ParseState(std::string_view text, std::string_view url,
                                             std::string_view name,
                                             TStateProblem* problem = nullptr,
                                             const TSeal& seal = {}) {
    return ParseState(text, std::vector<std::string>{std::string(url)}, name, problem, seal);
}

// Whether `text`, read from "NAME.part.state", is a state this engine wrote for the partial
// beside it: whole, ours, and about a file saved as `name` (UTF-8, ASCII letters in any case,
// as the file system compares them). Only such a state and its partial may be cleared away.
bool IsStateOfPartial(std::string_view text, std::string_view name, const TSeal& seal = {});

// The validator a resumed range is asked under (If-Range): the strong entity tag, else the
// date; empty when the state holds neither, and then nothing can be resumed.
std::string StateValidator(const TSavedState& state);
// Where a validator goes in a state: an entity tag or a date.
void SetStateValidator(TSavedState& state, const std::string& validator);
// The same for another mirror.
std::string MirrorValidator(const TSavedMirror& mirror);
void SetMirrorValidator(TSavedMirror& mirror, const std::string& validator);

} // namespace xldl
