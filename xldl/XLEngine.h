// Our download engine xldl.dll: the records of engine/XLDownload.h as the engine fills them.
//
// Task states (DownloadTaskInfo.State):
//   1 StateCreated      made by XL_CreateTask, not started
//   2 StateConnecting   started, waiting for the server's first answer
//   3 StateDownloading  bytes flow, or are about to (an answer came; reconnects after a drop
//                       stay in this state)
//   4 StateFinished     the file is complete, checked and under its final name
//   5 StateFailed       given up; InfoError says why, InfoHttpStatus holds the last status
//   6 StateWaiting      every connection waits before trying again (backoff, Retry-After)
//   7 StateVerifying    all bytes are in; checking length and digest, moving into place
//
// Sizes: TotalSize and DoneSize are 64-bit little-endian. TotalSize is 0 while the size is
// unknown (no Content-Length); once finished it is the file's size. DoneSize counts bytes
// written to disk and never goes backwards, except to 0 when the download must start over
// (the file changed on the server, or the server answered a resumed range with the whole
// file); InfoRestarts counts those.
//
// The engine writes every byte of the record it is given: the fields above and below, zero
// elsewhere.
#pragma once

#include "engine/XLDownload.h"

#include <cstring>

constexpr uint8_t StateCreated = 1;
constexpr uint8_t StateConnecting = 2;
constexpr uint8_t StateWaiting = 6;
constexpr uint8_t StateVerifying = 7;

// Further 32-bit fields of DownloadTaskInfo, by byte offset.
// InfoErrorOffset (engine/XLDownload.h): why a task failed, a TEngineError
constexpr size_t InfoHttpStatusOffset = 8;   // the last HTTP status the task received
constexpr size_t InfoConnectionsOffset = 12; // connections working on the task now
constexpr size_t InfoRestartsOffset = 16;    // times the download started over from zero
// What the system said behind a failure: for ErrorTls the certificate's chain or policy status
// (CERT_E_..., or CERT_TRUST_... bits), else a socket or system error, or 0.
constexpr size_t InfoDetailOffset = 20;

inline void SetInfoField(DownloadTaskInfo& info, size_t offset, uint32_t value) {
    std::memcpy(reinterpret_cast<uint8_t*>(&info) + offset, &value, sizeof value);
}

#ifdef _WIN32
// Diagnostics beside the five calls: the engine's own threads now running (0 once
// XL_UnInit has returned). Found with GetProcAddress.
extern "C" typedef uint32_t(__cdecl* TXldlLiveThreads)();
#endif
