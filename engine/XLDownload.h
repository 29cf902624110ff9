// The download engine xldl.dll as the tool sees it: the two records exchanged with it, the
// task states the tool reacts to, and the five calls, bound by name when the program loads
// (stdcall, undecorated names, through an import library made from XLDownload.def).
//
// Sizes: the engine writes TotalSize and DoneSize as 64-bit little-endian values at their
// offsets, so the low 32 bits stand where a 32-bit reader looks; the tool clears the info
// record before each query and reads both as 64-bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

using TaskHandle = uint32_t;

constexpr uint8_t StateDownloading = 3;
constexpr uint8_t StateFinished = 4;

// Beyond the five calls, an engine may say that it reports terminal failure: it exports
// XLDL_ReportsFailure (found with GetProcAddress, returning non-zero). Its tasks that fail for
// good then stay in StateFailed, with the reason, a TEngineError, as a 32-bit value at byte
// InfoErrorOffset of DownloadTaskInfo. Without that export every other state means nothing.
constexpr uint8_t StateFailed = 5;
constexpr size_t InfoErrorOffset = 4;
constexpr const char* ReportsFailureExport = "XLDL_ReportsFailure";

// An engine may also take a task's other mirror: it exports XLDL_AddMirror (found with
// GetProcAddress), called between XL_CreateTask and XL_StartTask with the task and the mirror
// that was not chosen, as a zero-terminated UTF-16 URL; non-zero when the task took it. The
// task then fetches its file from both mirrors while they serve the same file, and from the
// other alone when the chosen one fails; the chosen one stays the preferred one.
constexpr const char* AddMirrorExport = "XLDL_AddMirror";

enum TEngineError : uint32_t {
    ErrorNone = 0,
    ErrorBadUrl = 1,            // not an http(s) URL, or no file name or folder
    ErrorHttpStatus = 2,        // the server refused for good (404, 403, 410, ...)
    ErrorRedirects = 3,         // too many redirects, or a redirect to nowhere
    ErrorDiskFull = 4,          // not enough free space for the file, or the disk filled up
    ErrorFile = 5,              // the temporary file could not be created, written or read
    ErrorNetwork = 6,           // no byte came for the whole retry budget (connection failures,
                                // stalls, 5xx, 429)
    ErrorVerify = 7,            // the file never matched its length or advertised digest
    ErrorRename = 8,            // the finished file could not take its final name
    ErrorUnstable = 9,          // the file kept changing on the server
    ErrorTls = 10,              // the server's certificate does not verify, or TLS itself failed
    ErrorInsecureRedirect = 11, // an https:// address redirected to plain http://
    ErrorInUse = 12,            // another download (another process) is writing the same file
    // the proxy refused our credentials, or wants some we cannot give
    ErrorProxyAuth = 13,
    // no proxy of the routes could be reached, and none of them was DIRECT
    ErrorProxyUnreachable = 14,
    // the server sent the file in a content coding (gzip) though asked for its bytes as they are
    ErrorContentCoded = 17,
    // a web page came where the program was asked for: a network that wants a sign-in first
    ErrorSignInPage = 18,
};

#pragma pack(push, 1)

struct DownloadTaskParam {
    uint8_t Reserved0[4];
    char16_t TaskUrl[2084];
    uint8_t Reserved1[16532 - (4 + 2084 * 2)];
    char16_t FileName[260];
    uint8_t Reserved2[17572 - (16532 + 260 * 2)];
    char16_t SavePath[260];
    uint8_t Reserved3[18368 - (17572 + 260 * 2)];
    uint32_t OptionFlag; // true is all 32 bits set
    uint8_t Reserved4[26564 - (18368 + 4)];
};

struct DownloadTaskInfo {
    uint8_t State;
    uint8_t Reserved0[1048 - 1];
    int64_t TotalSize; // the low 32 bits are the classic signed 32-bit field
    uint8_t Reserved1[1120 - (1048 + 8)];
    int64_t DoneSize;
    uint8_t Reserved2[1432 - (1120 + 8)];
};

#pragma pack(pop)

static_assert(sizeof(DownloadTaskParam) == 26564);
static_assert(offsetof(DownloadTaskParam, TaskUrl) == 4);
static_assert(offsetof(DownloadTaskParam, FileName) == 16532);
static_assert(offsetof(DownloadTaskParam, SavePath) == 17572);
static_assert(offsetof(DownloadTaskParam, OptionFlag) == 18368);
static_assert(sizeof(DownloadTaskInfo) == 1432);
static_assert(offsetof(DownloadTaskInfo, State) == 0);
static_assert(offsetof(DownloadTaskInfo, TotalSize) == 1048);
static_assert(offsetof(DownloadTaskInfo, DoneSize) == 1120);

// A 32-bit field of the info record at a byte offset.
inline uint32_t InfoField(const DownloadTaskInfo& info, size_t offset) {
    uint32_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&info) + offset, sizeof v);
    return v;
}

// A boolean result counts only by its low 8 bits.
constexpr bool EngineTrue(uint32_t result) {
    return (result & 0xFF) != 0;
}

#ifdef _WIN32
// The engine's calls. Every boolean result counts only by its low 8 bits (EngineTrue).
// An engine defines XLDL_API (empty) before including this header.
#ifndef XLDL_API
#define XLDL_API __declspec(dllimport)
#endif
extern "C" {
XLDL_API uint32_t __stdcall XL_Init();
XLDL_API uint32_t __stdcall XL_UnInit();
XLDL_API TaskHandle __stdcall XL_CreateTask(DownloadTaskParam* param);
XLDL_API uint32_t __stdcall XL_StartTask(TaskHandle task);
XLDL_API uint32_t __stdcall XL_QueryTaskInfoEx(TaskHandle task, DownloadTaskInfo* info);
}
// The optional exports named ReportsFailureExport and AddMirrorExport.
typedef uint32_t(__stdcall* TXLReportsFailure)();
typedef uint32_t(__stdcall* TXLAddMirror)(TaskHandle task, const char16_t* url);
// Optional too: the tool's window, which owns the dialog in which the engine asks for a
// proxy's user name and password (null: the engine asks nobody). Found with GetProcAddress.
constexpr const char* SetPromptOwnerExport = "XLDL_SetPromptOwner";
typedef void(__stdcall* TXLSetPromptOwner)(struct HWND__* owner);
// Optional too: where a task's bytes came from, for a log. One line per source, the task's own
// URL first, as "URL: N bytes, by way of ROUTES\n": the URL without its query (the engine takes
// no user name or password), the bytes of it written to the file in this task, and the ways to
// its server in the order they are tried ("host:port" of a proxy, or DIRECT; "not reached"
// while not asked). UTF-8, at most `capacity` bytes with the terminating NUL; returns the
// length of the whole text without the NUL, 0 for an unknown task. Found with GetProcAddress.
constexpr const char* DescribeTaskExport = "XLDL_DescribeTask";
typedef uint32_t(__stdcall* TXLDescribeTask)(TaskHandle task, char* text, uint32_t capacity);
#endif
