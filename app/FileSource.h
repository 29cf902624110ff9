// An installer copied from a file of the admin's (a share or a medium) instead of downloaded:
// read on a thread of its own into "<name>.copying" beside the target, which takes the target's
// name only when every byte is there. Its progress and end read as an engine task's do
// (State, TotalSize, DoneSize, and a TEngineError at InfoErrorOffset when it failed), so the
// run follows it the same way and checks what it copied as it checks a download.
#pragma once

#include "engine/XLDownload.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

class TFileCopy {
public:
    TFileCopy(std::wstring source, std::wstring target);
    // Stops the copy (its partial file goes) and waits for its thread.
    ~TFileCopy();
    TFileCopy(const TFileCopy&) = delete;
    TFileCopy& operator=(const TFileCopy&) = delete;

    bool Start();
    void Query(DownloadTaskInfo& info) const;

private:
    static DWORD WINAPI ThreadMain(void* copy);
    // The copy's end: StateFinished, or StateFailed with its reason.
    uint32_t Copy();

    const std::wstring FSource;
    const std::wstring FTarget;
    const std::wstring FPart;
    HANDLE FThread = nullptr;
    std::atomic<bool> FStop{false};
    std::atomic<int64_t> FTotal{0};
    std::atomic<int64_t> FDone{0};
    std::atomic<uint32_t> FError{ErrorNone};
    std::atomic<uint8_t> FState{1}; // created
};
