// HTTP/1.1 as bytes on a connection: the requests the engine writes, where a response head
// ends, how its body is framed, and the chunked transfer coding. No sockets here, so all of it
// is tested natively; the connection (xldl/HttpConnection) feeds it what it receives.
#pragma once

#include "xldl/core/HttpHeaders.h"
#include "xldl/core/Url.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace xldl {

// The longest response head accepted, interim answers before it included; a server that
// sends more is not one we can talk to.
constexpr size_t MaxHeadBytes = 256 * 1024;
// The most of a chunked body's trailer section that is read: nothing in it is of use to us.
constexpr size_t MaxTrailerBytes = 64 * 1024;

// A GET for `url`: in origin form, or in absolute form when it goes to a plain-HTTP proxy.
// `extra` holds further header lines, each ending in CRLF.
std::string FormatGetRequest(const TUrl& url, bool toProxy, std::string_view extra);

// The request that opens a tunnel through a proxy to `host`:`port` (for https).
std::string FormatConnectRequest(std::string_view host, uint16_t port);

// Where the head in `data` ends (just past its blank line, CRLF or bare LF), or 0 while the
// blank line has not come yet.
size_t FindHeadEnd(std::string_view data);

// The answer to one request, taken off the wire as its bytes come: interim answers (100
// Continue, 103 Early Hints) before it are skipped, and they count against the head's limit,
// so that a server sending them without end is a failure, not a loop.
class THeadReader {
public:
    enum class TStep {
        NeedMore, // all given bytes consumed or kept: feed more
        Head,     // the answer's head is in Head()
        Bad,      // not an HTTP/1.x answer (or a 101: the connection speaks something else now)
        TooLarge, // more than MaxHeadBytes of heads
    };
    struct TResult {
        TStep Step = TStep::NeedMore;
        size_t Consumed = 0; // of the input: interim heads, and the answer's head with Head
    };
    // Looks at the bytes received and not yet consumed.
    TResult Next(std::string_view data);
    const THeaders& Head() const { return Answer; }
    // Interim answers skipped so far.
    int Interims() const { return Skipped; }

private:
    THeaders Answer;
    size_t Taken = 0; // bytes of interim heads consumed
    int Skipped = 0;
};

// How the body of a response to a GET is delimited.
enum class TFraming {
    None,    // no body at all (1xx, 204, 304)
    Length,  // Content-Length bytes
    Chunked, // the chunked transfer coding
    Close,   // up to the end of the connection
};
struct TBodyFraming {
    TFraming Kind = TFraming::Close;
    int64_t Length = 0; // for Length
};
// Nothing when the head frames its body in a way that cannot be trusted (several differing
// lengths, a length that is not a number, a transfer coding other than chunked).
std::optional<TBodyFraming> BodyFraming(const THeaders& head);

// Whether the connection may carry another request after this response (HTTP/1.1 unless
// "Connection: close"; HTTP/1.0 only with "Connection: keep-alive"), given its framing.
bool KeepsAlive(const THeaders& head, const TBodyFraming& framing);

// The chunked transfer coding, undone as bytes come: framing is consumed, data is pointed at
// where it lies in the input, so no byte of the body is copied.
class TChunkedDecoder {
public:
    enum class TStep {
        NeedMore, // all input consumed; feed more
        Data,     // `length` body bytes at input + `offset`
        End,      // the last chunk and the trailers are through
        Error,    // not chunked coding
    };
    struct TResult {
        TStep Step = TStep::NeedMore;
        size_t Consumed = 0; // of the input, including any data handed out
        size_t Offset = 0;
        size_t Length = 0;
    };
    // Looks at `size` bytes of input; returns at most one run of data at a time.
    TResult Next(const uint8_t* input, size_t size);
    bool Ended() const { return State == TState::Done; }
    // Whether the last chunk has come, so that the body's data is whole, even if what follows
    // it (the trailer section) is not read to its end.
    bool DataComplete() const {
        return State == TState::Trailer || State == TState::TrailerLf || State == TState::Done ||
               (State == TState::Bad && InTrailers);
    }

private:
    enum class TState {
        Size,
        Extension,
        SizeLf,
        Data,
        DataCr,
        DataLf,
        Trailer,
        TrailerLf,
        Done,
        Bad
    };
    TState State = TState::Size;
    uint64_t Left = 0; // of the current chunk's data
    int Digits = 0;
    size_t LineBytes = 0;    // of the current size or trailer line, against endless lines
    size_t TrailerBytes = 0; // of the trailer section, against endless trailers
    bool TrailerLineEmpty = true;
    bool InTrailers = false;
};

} // namespace xldl
