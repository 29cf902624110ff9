// Fetching a file's bytes into its temporary file: one pass of a task's transfer.
//
// A task has one source (the mirror it was given) or two (and the other mirror). A pass starts
// with one request to the preferred source: the file's first bytes as a range (which brings
// the size and validator with it, so no separate probe), or, when resuming, the first missing
// ranges. Other connections connect meanwhile, and the other source waits its turn unless the
// first one fails or is slow. Each connection (xldl/Worker) is bound to one source and asks for
// one claim at a time, pipelining the next; what it asks for, how many connections each source
// gets, which source serves the file and what becomes of one that fails is decided in
// xldl/core/Planner, one locked step at a time (xldl/Dispatch). This unit starts the pass and
// the connections the planner wants as it goes, waits for them all and says how it ended.
//
// The caller's threads only look: every look is a copy under a short lock.
#pragma once

#include "xldl/Dispatch.h"
#include "xldl/Files.h"
#include "xldl/PrefixHash.h"
#include "xldl/ProxyRouter.h"
#include "xldl/Socket.h"
#include "xldl/Threads.h"
#include "xldl/core/Planner.h"
#include "xldl/core/ProxyRules.h"
#include "xldl/core/Settings.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace xldl {

class TTransfer {
public:
    using TEnd = TPassEnd;
    struct TProgress {
        bool Answered = false; // an answer came: bytes flow or are about to
        int64_t Total = -1;
        int64_t Done = 0;
        int Connections = 0; // working now
        bool AllWaiting = false;
        uint32_t HttpStatus = 0;
    };

    // Fetches the file of `sources` (in order of preference) into `part`, a file in `folder`;
    // `program`: the file is a program or an archive, which no web page can be.
    TTransfer(const std::vector<TUrl>& sources, const std::wstring& folder, bool manyConnections,
              bool program, const TSettings& settings, TProxyRouter& proxies, TPartFile& part,
              HANDLE abort);
    TTransfer(const TTransfer&) = delete;
    TTransfer& operator=(const TTransfer&) = delete;

    // Takes up a download where `facts` left it (before the first pass).
    void Resume(const TFileFacts& facts);
    // What trying https first found for each source (before the first pass).
    void HttpsFirst(const std::vector<std::optional<TUrl>>& twins);
    // A try that came up after the task had begun over plain http: the source's requests go
    // over https from now on, unless a redirect took it elsewhere meanwhile.
    void HttpsLate(size_t source, const TUrl& twin);
    // The hash that follows the written front: told of each write (before the first pass).
    void HashAsWritten(TPrefixHash* hash) { Hash = hash; }
    // One pass, on the caller's thread (its own connection threads beside it).
    TEnd RunPass();
    // The file changed or cannot be resumed: from zero, with nothing known.
    void Forget();
    // Stops every pass for good (the task's abort event is set by the caller).
    void Cancel();

    TProgress Progress();
    TFileFacts Facts();
    // How far the file is written from its start, and since which fresh start.
    TWrittenPrefix WrittenPrefix();
    // Which of the sources defined the file and what each delivered, for the trace.
    std::string Served();
    // The bytes of each source written to the file, in the order the sources were given.
    std::vector<int64_t> Delivered();
    // Why the last pass failed (a TEngineError), and what the system said behind it.
    uint32_t Failure();
    uint32_t FailureDetail();

private:
    struct TStart;
    static unsigned __stdcall ConnectionMain(void* start);
    // A thread for connection `start`; nullptr when none could be made.
    HANDLE Spawn(const TPlanner::TStart& start, std::unique_ptr<TAnswered> handover);

    const bool ManyConnections;
    const bool Program;
    const TSettings Settings;
    TProxyRouter& Proxies;
    // What the task's connections learn of their hosts' address families (its own lock).
    THostFamilies Families;
    const std::wstring Folder;
    TPartFile& Part;
    TPrefixHash* Hash = nullptr;
    TDispatch Dispatch;
};

} // namespace xldl
