// One download: a coordinating thread that asks for the file, decides how many connections
// share it, and checks and moves the result into place; and the connections themselves, each
// on its own thread, fetching their segments into the temporary file with their own retries.
// The caller's threads only start, stop and look: every look is a copy under a short lock.
#pragma once

#include "xldl/Files.h"
#include "xldl/Http.h"
#include "xldl/XLEngine.h"
#include "xldl/core/Retry.h"
#include "xldl/core/Segments.h"
#include "xldl/core/Settings.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

namespace xldl {

// The engine's threads now running.
extern volatile LONG LiveThreads;

class TTask {
public:
    TTask(std::string url, std::wstring folder, std::wstring fileName, bool manyConnections,
          const TSettings& settings);
    ~TTask();
    TTask(const TTask&) = delete;
    TTask& operator=(const TTask&) = delete;

    bool Start();
    // Stops the task: its connections drop, its temporary file goes; a file already under the
    // final name stays as it was.
    void Cancel();
    // Whether the task's threads have all ended within `ms` (true when never started).
    bool WaitEnded(DWORD ms);
    void Snapshot(DownloadTaskInfo& info);

private:
    enum class TPassEnd { None, Complete, Restart, Fail, Aborted };
    enum class TOpen { Ok, Restart, Transient, Permanent, Aborted };
    // What a request asks for: the file's first chunk, to learn about the file (the whole file
    // when the server cannot tell more from a range), the whole file, or a part of it.
    enum class TAsk { Probe, Whole, Part };
    struct TOpenResult {
        TOpen Kind = TOpen::Transient;
        std::unique_ptr<THttpRequest> Request;
        int64_t End = -1; // where the answer's body ends in the file; -1: the stream's end
        uint32_t Error = 0;
        bool Refusal = false;      // the server turned this connection away
        bool RangesBroken = false; // the server's range answers cannot be trusted
        std::optional<int64_t> RetryAfter;
    };
    struct TWorkerStart;

    static unsigned __stdcall CoordinatorMain(void* task);
    static unsigned __stdcall WorkerMain(void* start);
    void Run();
    TPassEnd RunPass(std::unique_ptr<THttpRequest>& handover);
    std::unique_ptr<THttpRequest> Probe();
    // A connection's request and where its body ends in the file (-1: where the stream does).
    struct TConnection {
        std::unique_ptr<THttpRequest> Request;
        int64_t End = -1;
    };
    void Worker(int id, TConnection connection, int segment);
    // One step of a connection: take a share, connect, or read and write one piece. Stop
    // when the connection is done for this pass, Retired when the server refused it.
    enum class TStep { Go, Stop, Retired };
    TStep Fetch(int id, TConnection& connection, int& segment, unsigned& failures,
                int64_t minSplit);
    TOpenResult Open(int64_t from, int64_t end, TAsk ask);
    bool Backoff(unsigned& failures, std::optional<int64_t> retryAfter);
    bool StartOver(uint32_t errorWhenExhausted);
    void RequestRestart(std::unique_ptr<THttpRequest> handover, bool rangesBroken);
    void RequestFail(uint32_t error);
    void Finish(uint8_t phase, uint32_t error);
    void Discard();
    bool Stopping();

    const std::string Url;
    const std::wstring Folder;
    const std::wstring FileName;
    const std::wstring Target;
    const std::wstring PartPath;
    const bool ManyConnections;
    const TSettings Settings;
    HANDLE Thread = nullptr;
    HANDLE Abort = nullptr; // manual reset: set to stop the current pass, or the whole task
    TPartFile Part;

    CRITICAL_SECTION Lock; // guards what follows
    bool Cancelled = false;
    uint8_t Phase = StateCreated;
    uint32_t Error = ErrorNone;
    uint32_t HttpStatus = 0;
    uint32_t Restarts = 0;
    int64_t Total = -1;
    TSegmentTable Segments;
    int Active = 0;  // connections working on the current pass
    int Waiting = 0; // of them, waiting to retry
    TPassEnd PassEnd = TPassEnd::None;
    uint32_t PassError = ErrorNone;
    std::unique_ptr<THttpRequest> Handover; // a whole-file answer that starts the next pass
    bool RangesUsable = true;
    TUrl Location;         // where the file was found (after redirects)
    std::string Validator; // for If-Range
    TDigest Digest;
    TJitter Jitter;
};

} // namespace xldl
