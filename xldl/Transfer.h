// Fetching a file's bytes into its temporary file: one pass of a task's transfer.
//
// A pass starts with one request: the file's first bytes as a range (which brings the size and
// validator with it, so no separate probe), or, when resuming, the first missing ranges. The
// other connections connect meanwhile and ask for the shares they would have if the file is
// large; the first answer says whether it is. Each connection (xldl/Worker) then asks for one
// claim at a time and pipelines the next; what it asks for, how many connections work and what
// becomes of one that fails is decided in xldl/core/Planner, one locked step at a time
// (xldl/Dispatch). This unit starts the pass, its first request and its connections, checks
// the disk has room, waits for them all and says how the pass ended.
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

#include <string>

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

    // Fetches `url` into `part`, a file in `folder`.
    TTransfer(const TUrl& url, const std::wstring& folder, bool manyConnections,
              const TSettings& settings, TProxyRouter& proxies, TPartFile& part, HANDLE abort);
    TTransfer(const TTransfer&) = delete;
    TTransfer& operator=(const TTransfer&) = delete;

    // Takes up a download where `facts` left it (before the first pass).
    void Resume(const TFileFacts& facts);
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
    // Why the last pass failed (a TEngineError), and what the system said behind it.
    uint32_t Failure();
    uint32_t FailureDetail();

private:
    struct TStart;
    static unsigned __stdcall ConnectionMain(void* start);

    const bool ManyConnections;
    const TSettings Settings;
    TProxyRouter& Proxies;
    // What the task's connections learn of their hosts' address families (its own lock).
    THostFamilies Families;
    const std::wstring Folder;
    TPartFile& Part;
    TDispatch Dispatch;
};

} // namespace xldl
