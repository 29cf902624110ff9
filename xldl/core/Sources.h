// The places a task's file can be fetched from (the mirror it was given, and the other one when
// the caller names it), whether each serves the very file being fetched, and how each is doing.
//
// The file is what the first source to answer said it is (its length, its date, a digest), or
// what a state file kept of it; that source is the reference. Another source is used for the
// file only when it evidently serves the same one: the same length and agreeing on what else
// both give (a digest decides when both give one of a kind; else the Last-Modified date when
// both give one), or, when nothing they give can be compared, bytes of a sample it sends that
// are identical to bytes already written. Entity tags are no evidence across servers (each
// server makes its own); within one source they still guard its ranges through If-Range. A
// source that disagrees is not used for the file. Pure logic; tested natively.
#pragma once

#include "xldl/core/HttpHeaders.h"
#include "xldl/core/Url.h"

#include <cstdint>
#include <string>
#include <vector>

namespace xldl {

// What the file is.
struct TFileIdentity {
    int64_t Total = -1;       // -1: unknown (a stream without length)
    std::string LastModified; // the date as the reference sent it, empty when it sent none
    TDigest Digest;
};

// What one answer's head said of the file.
struct TSourceFacts {
    int64_t Total = -1;
    std::string Validator; // what If-Range sends to this source: strong ETag, else the date
    std::string LastModified;
    TDigest Digest;
};
// The facts of an answer: `whole` for a 200 whose body is the file, `length` its length (-1
// unknown); for a 206 the length comes from Content-Range.
TSourceFacts AnswerFacts(const THeaders& head, bool whole, int64_t length);

enum class TSameness {
    Same,     // the facts agree, and at least one of them proves it
    Other,    // another file
    Unproven, // nothing comparable: a sample of bytes must decide
};
TSameness CompareFacts(const TFileIdentity& file, const TSourceFacts& seen);

// How far a source is known to serve the file.
enum class TStanding {
    Unknown,  // not heard from since the file became known
    Sampling, // its facts prove nothing: a sample of its bytes is to be compared
    Same,     // it serves the file: its bytes are used
    Other,    // it serves another file, or none that can be fetched by ranges: not used
};

struct TSource {
    TUrl Start;            // as the task was given it
    TUrl Where;            // where the file is now, after redirects
    std::string Validator; // this source's own validator (If-Range), empty when it gives none
    TStanding Standing = TStanding::Unknown;
    bool RangesUsable = true; // its answers to ranges can be put together
    bool WholeOnly = false;   // it answers a range with the whole file
    bool Dead = false;        // an answer that cannot change (404, 410, a refused certificate)
    bool Distrusted = false;  // its bytes differed from the preferred source's where they met
    uint32_t DeadError = 0;   // its TEngineError
    uint32_t DeadDetail = 0;
    bool Proven = false;           // an answer showed its validator since the file was taken up
    int64_t AnswerCap = 0;         // the most it gives for one range (0: no limit seen)
    bool FewPerConnection = false; // its server ends connections after a few requests
    bool HttpsFirst = false;       // Where is the https twin of Start, tried on our own
    uint32_t RoundTrip = 0;        // the least any of its connections measured
    int64_t FirstByte = -1;        // its delay before an answer's first byte, as last measured
    int Active = 0;                // connections working on it now
    int Waiting = 0;               // of them, pausing before they go on
    uint64_t LastByteMs = 0;       // when it last delivered a byte to the file
    uint64_t LastFailMs = 0;       // when a connection of it last failed
    int64_t Delivered = 0;         // bytes of it written to the file in this task
};

class TSources {
public:
    // Sources in the caller's order of preference: the first gets the first request.
    explicit TSources(const std::vector<TUrl>& starts);

    int Count() const { return static_cast<int>(List.size()); }
    TSource& operator[](int i) { return List.at(static_cast<size_t>(i)); }
    const TSource& operator[](int i) const { return List.at(static_cast<size_t>(i)); }

    // --- the file ---
    bool Known() const { return FileKnown; }
    const TFileIdentity& File() const { return Identity; }
    int Reference() const { return Ref; }
    // `source` answered first: the file is what it says. Every other source is judged anew.
    void Define(int source, const TSourceFacts& facts);
    // The file as a state kept it (`reference` the source it came from, -1 unknown): sources
    // must show their validator (those the state knew) or be judged against it.
    void TakeUp(const TFileIdentity& file, int reference);
    // Nothing known any more (the download starts over). What sources said of their health
    // and whether they serve files at all stays; a source found to serve another file is
    // judged again when the file is defined anew.
    void Forget();
    // Judges `source`'s facts against the file; the standing it has afterwards.
    TStanding Judge(int source, const TSourceFacts& facts);
    // The sample `source` sent matched the bytes written (or did not).
    void Sampled(int source, bool same);
    // `source` serves another file from now on.
    void Reject(int source) { (*this)[source].Standing = TStanding::Other; }

    // --- what may be used ---
    // Whether `source` may fetch bytes of the file now (judged the same, or the reference).
    bool Serves(int source) const;
    // Whether bytes of the file come, or may come, from more than one source: answers are then
    // compared where they meet.
    bool Mixed() const;
    // Whether a source other than `source` could still serve the file.
    bool OthersLive(int source) const;
    // Whether every source has met an answer that cannot change.
    bool AllDead() const;
    // The error to report when all are dead: the preferred source's.
    uint32_t DeadError() const;
    uint32_t DeadDetail() const;
    // Whether two sources are reached on one server (scheme, host and port), whose limit of
    // connections they then share.
    bool SameServer(int a, int b) const;

private:
    std::vector<TSource> List;
    TFileIdentity Identity;
    bool FileKnown = false;
    int Ref = -1;
};

} // namespace xldl
