// One connection of a pass, on a thread of its own, bound to one source for its whole life: it
// asks (pipelined), reads each answer's head and body, writes the body's share to the partial
// and compares its windows and samples, and on a failure does what the planner decides. Every
// decision is one locked step through the dispatch; this unit only moves bytes and measures.
#pragma once

#include "xldl/Dispatch.h"
#include "xldl/Files.h"
#include "xldl/HttpConnection.h"
#include "xldl/PrefixHash.h"
#include "xldl/ProxyRouter.h"
#include "xldl/core/Pacing.h"
#include "xldl/core/Planner.h"
#include "xldl/core/ProxyRules.h"
#include "xldl/core/Settings.h"
#include "xldl/core/WebPage.h"

#include <windows.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace xldl {

// What the connections of a pass share.
struct TWorkerContext {
    TDispatch& Dispatch;
    const TSettings& Settings;
    TProxyRouter& Proxies;
    THostFamilies& Families;
    TPartFile& Part;
    const std::wstring& Folder; // where the partial is: its disk must have room
    bool Program;               // the file is a program or an archive: never a web page
    TPrefixHash* Hash;          // told of the bytes written, to hash the front at once (or null)
};

class TWorker {
public:
    TWorker(int id, int source, const TWorkerContext& context);
    TWorker(const TWorker&) = delete;
    TWorker& operator=(const TWorker&) = delete;

    // The first request of a fresh pass, with its redirects, pauses and a fall back to the
    // whole file; its answer defines the file (or, when another source's came first, is
    // judged), then the connection works on.
    void Open();
    // A source that is not preferred: asks at once for the file's end, then waits for the
    // preferred one's first answer (then reads that answer if it is wanted, and asks as any
    // connection), or for a sign that it will not come soon (then opens itself).
    void Candidate();
    // Connects and waits to be called; on a far link, asks at once for the share it would
    // have if the file is large (its answer waits on the wire until the first one shows
    // whether it is).
    void Standby();
    // Reads the whole-file answer the last pass handed over, then works on.
    void Adopt(std::unique_ptr<TAnswered> answered);
    // Asks for and reads ranges until nothing is left or the pass ends.
    void Run();

private:
    // A request on the wire, in the order of its answer.
    struct TAsked {
        TPlan Plan;
        uint64_t SentAt = 0;
        bool Alone = false;  // nothing else was outstanding: its wait is a round trip
        bool Early = false;  // sent before the first answer, under no validator: its answer
                             // counts only if it names the same file, and is dropped if not
        uint32_t TripMs = 0; // its round trip, when seen before the answer was read
    };
    enum class TStep { Go, Stop, Retired };

    // Sends a request before the file is known (`early`'s question): false when it could not.
    bool SendEarly(const TUrl& url, TAsked& early);
    // The file is known: the early request (if `sent`) is read when it is wanted, else its
    // connection goes. True when it is to be read.
    bool KeepEarly(bool sent, TAsked& early);
    // The opening answer in `answered`: the file defined by it, or judged; then the body is
    // read and the connection works on.
    void Opening(std::unique_ptr<TAnswered> answered);
    TStep Step();
    // Claims the next range and sends its request: true when it went; otherwise `step` says
    // how the connection goes on (Stop when nothing is left to ask for).
    bool SendNext(bool ahead, TStep& step);
    TStep ReadAnswer();
    TStep ReadBody();
    // The bytes of the answer being read, at its stream position: windows compared, the share
    // written, what lies beyond the share dropped.
    TStep Take(const uint8_t* data, uint32_t size);
    // The same, a program's first bytes held back until they tell it is no web page (`ended`:
    // the body ended with those held).
    TStep Checked(const uint8_t* data, uint32_t size, bool ended = false);
    // Compares a window's bytes with what is or will be written: false when they differ.
    bool Compare(int64_t pos, const uint8_t* data, uint32_t size, TStep& step);
    // `established`: the connection was up (the failure came while reading, not connecting).
    TStep Failed(const TNetResult& r, bool refusal, std::optional<int64_t> retryAfter,
                 bool established);
    // What the source said of the file: how this connection goes on.
    TStep After(TReaction reaction);
    // An answer that cannot change, for this connection's source.
    TStep Dead(uint32_t error, uint32_t detail = 0);
    bool Backoff(unsigned& failures, std::optional<int64_t> retryAfter);
    void DropConnection();
    TNetResult Ask(std::unique_ptr<THttpConnection>& connection, const TUrl& url,
                   const TQuestion& q);
    void Begin(const TAsked& asked, int64_t streamEnd);
    // The answer read through ended well: a sample is judged.
    TStep AnswerDone();

    const int Id;
    const int Source;
    TDispatch& Dispatch;
    const TSettings& Settings;
    TProxyRouter& Proxies;
    THostFamilies& Families;
    TPartFile& Part;
    const std::wstring& Folder;
    const bool Program;
    TPrefixHash* const Hash;
    const HANDLE Abort;
    TPace Pace;
    std::unique_ptr<THttpConnection> Connection;
    std::deque<TAsked> Asked; // sent, answers not read yet
    bool Reading = false;     // Current's answer is being read
    TAsked Current;
    bool Holding = false;     // Current's claim is still this connection's to write
    bool Cut = false;         // another connection took the end of Current's claim
    int64_t At = 0;           // the stream position of the next byte of Current's answer
    int64_t StreamEnd = -1;   // where Current's answer ends (-1: at the stream's end)
    uint64_t LastBodyEnd = 0; // when the last answer's body ended on this connection
    uint64_t AnswerBegan = 0; // when Current's time on the connection began
    unsigned Failures = 0;
    unsigned Hops = 0;                 // redirects met by this connection's ranges
    uint64_t Reads = 0, ReadBytes = 0; // for the trace
    bool Retired = false;
    // A program's first bytes, held back until they tell it is no web page.
    bool Checking = false;
    TPageCheck PageCheck;
};

} // namespace xldl
