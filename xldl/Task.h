// One download: a coordinating thread that first asks whether a file finished earlier is still
// the server's (xldl/FinishedFile), else takes up what an earlier task left (xldl/Checkpoint),
// runs the transfer (xldl/Transfer) in passes, starts over from zero when the file changed,
// checks the result against the length and digest the server announced, moves it into place
// and records it as finished. The caller's threads only start, stop and look: every look is a
// copy under a short lock.
#pragma once

#include "xldl/Checkpoint.h"
#include "xldl/Files.h"
#include "xldl/FinishedFile.h"
#include "xldl/PrefixHash.h"
#include "xldl/Proxy.h"
#include "xldl/ProxyRouter.h"
#include "xldl/Transfer.h"
#include "xldl/XLEngine.h"
#include "xldl/core/ProxyRules.h"
#include "xldl/core/Settings.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace xldl {

class TTask {
public:
    TTask(std::string url, std::wstring folder, std::wstring fileName, bool manyConnections,
          const TSettings& settings, const TProxySettings& proxies);
    ~TTask();
    TTask(const TTask&) = delete;
    TTask& operator=(const TTask&) = delete;

    // Another mirror of the same file, used beside the task's own URL once it evidently
    // serves the same file; only before Start. False when the task has started or the URL is
    // not one it could use.
    bool AddMirror(const std::string& url);
    bool Start();
    // Stops the task: its connections drop; the partial and its state stay for a later task;
    // a file already under the final name stays as it was.
    void Cancel();
    // Whether the task's threads have all ended within `ms` (true when never started).
    bool WaitEnded(DWORD ms);
    void Snapshot(DownloadTaskInfo& info);
    // Each source's URL, bytes and ways to its server, as XLDL_DescribeTask gives them.
    std::string Describe();

private:
    static unsigned __stdcall CoordinatorMain(void* task);
    void Run();
    // Whether a file finished earlier is still the server's: then the task is finished.
    bool ConfirmFinished(TFinishedFile& finished, const TUrl& url);
    // The file must start over from zero; false when that cannot be (too many restarts: the
    // task failed with `errorWhenExhausted`) or the task is stopping.
    bool StartOver(uint32_t errorWhenExhausted);
    // The finished bytes, checked against the length and digest the server announced.
    // Unproven: nothing says where the file ends but a closed connection, and no fetch before
    // this one ended at the same byte with the same bytes: it is fetched again to compare.
    enum class TCheck { Good, Bad, Unproven, Aborted, Failed };
    TCheck Check();
    void Finish(uint8_t phase, uint32_t error);
    // Which sources the finished file came from, for the trace.
    void TraceServed();
    // Closes the partial, once nothing of ours reads it any more.
    void ClosePart();
    // The partial and its state, gone for good (the state first).
    void Discard();
    // The partial and its state, kept for a later task when there is something to take up.
    void Keep();

    const std::string Url;
    std::vector<std::string> Mirrors; // beside Url, fixed once the task started
    const std::wstring Folder;
    const std::wstring FileName;
    const std::wstring Target;
    const std::wstring PartPath;
    const bool ManyConnections;
    const TSettings Settings;
    TProxyRouter Proxies; // the task's: its answers and credentials end with it
    HANDLE Thread = nullptr;
    HANDLE Abort = nullptr; // manual reset: set to stop the current pass, or the whole task
    TPartFile Part;
    std::optional<TDigest> Witness; // sha-256 of the last fetch whose end was unproven
    std::unique_ptr<TTransfer> Transfer;
    std::unique_ptr<TCheckpoint> Checkpoint;
    std::unique_ptr<TPrefixHash> Hash; // reads the partial on a thread of its own

    CRITICAL_SECTION Lock; // guards what follows
    bool Cancelled = false;
    uint8_t Phase = StateCreated;
    uint32_t Error = ErrorNone;
    uint32_t Detail = 0;
    uint32_t Restarts = 0;
    uint32_t VerifyFailures = 0;
    int64_t ConfirmedSize = -1; // the size of a finished file the server confirmed
};

} // namespace xldl
