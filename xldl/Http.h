// HTTP through WinINet, in its asynchronous mode, so that every wait of a connection (for
// the answer, for the next bytes) is ours: it ends at once when the task is stopped, and a
// stall is noticed by our own clock. A blocking WinINet call could be neither interrupted nor
// bounded, and XL_UnInit must finish within a second.
#pragma once

#include "xldl/core/HttpHeaders.h"
#include "xldl/core/Settings.h"
#include "xldl/core/Url.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace xldl {

// The WinINet session of the engine, with the system's proxy settings or an explicit proxy.
bool HttpStartup(const std::optional<TProxy>& proxy);
void HttpShutdown();
// Set up once per process (the completion callback may outlive a session).
void HttpProcessAttach();

enum class TNet { Ok, Eof, Stalled, Aborted, Failed };

struct TNetResult {
    TNet Kind = TNet::Failed;
    uint32_t Error = 0; // WinINet or system error when Failed
    uint32_t Bytes = 0; // read when Ok
};

// Whether a connection-level error could go away on its own (resets, timeouts, names,
// proxies) rather than being a fault of the URL or of the server's certificate.
bool IsTransientNetError(uint32_t error);

// One GET request and its response body.
class THttpRequest {
public:
    static constexpr uint32_t BufferSize = 256 * 1024;
    static constexpr uint32_t MinReadSize = 8 * 1024;

    THttpRequest();
    ~THttpRequest();
    THttpRequest(const THttpRequest&) = delete;
    THttpRequest& operator=(const THttpRequest&) = delete;

    // Sends the request (extra header lines in `headers`, CRLF-terminated) and waits for the
    // response head, until `abort` is signalled or `stallMs` pass without an answer.
    TNetResult Send(const TUrl& url, const std::string& headers, HANDLE abort, uint32_t stallMs);
    const THeaders& Head() const { return Response; }

    // Reads up to `size` (at most BufferSize) bytes of the body into Data(): Ok with Bytes,
    // Eof at the end of the body, Stalled when nothing came for `stallMs`.
    TNetResult Read(uint32_t size, HANDLE abort, uint32_t stallMs);
    const uint8_t* Data() const;

    // Drops the connection (safe with an operation still pending in WinINet).
    void Close();

    struct TSlot; // where WinINet reports completions (public for its callback)

private:
    TNetResult Wait(HANDLE abort, uint32_t stallMs);
    // Ends an asynchronous call that the slot was armed for: `done` when it finished at once,
    // else waits for WinINet to report it (or for an abort or a stall).
    TNetResult Complete(bool done, HANDLE abort, uint32_t stallMs);
    TSlot* Slot = nullptr;
    uint32_t ReadSize = 16 * 1024; // what the next read asks for, after how fast the last came
    void* Connect = nullptr;
    void* Request = nullptr;
    THeaders Response;
};

} // namespace xldl
