// A TCP connection on Winsock whose every wait is ours: it ends at once when the task's abort
// event is set, and after `stallMs` without progress. Nothing blocks in the system where we
// could not stop it, so that XL_UnInit can end every transfer within a second.
//
// Connecting races the host's address families (xldl/core/Eyeballs.h): the name is looked up
// on a thread we can leave behind (xldl/NameLookup.h), the addresses are tried alternately by
// family, each next one after a short head start of the one before, and the first connection
// made wins. An open socket holds a Winsock reference of its own, so a thread that is still
// in the system with one (building a certificate chain, say) when XL_UnInit releases the
// engine's reference does not lose Winsock under it.
#pragma once

#include "xldl/core/Eyeballs.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>

namespace xldl {

enum class TNet { Ok, Eof, Stalled, Aborted, Failed };

struct TNetResult {
    TNet Kind = TNet::Failed;
    uint32_t Error = 0; // Winsock, system or one of the Net* errors below when Failed
    uint32_t Bytes = 0; // moved when Ok
};

// Failures of our own HTTP and TLS layers (the customer bit keeps them apart from Windows').
constexpr uint32_t NetBadResponse = 0x20000001;      // not an HTTP answer we can read
constexpr uint32_t NetTlsFailed = 0x20000002;        // the TLS handshake or a record failed
constexpr uint32_t NetTlsUntrusted = 0x20000003;     // the server's certificate did not verify
constexpr uint32_t NetProxyRefused = 0x20000004;     // the proxy would not open a tunnel
constexpr uint32_t NetNotAnswered = 0x20000005;      // closed before answering a sent request
constexpr uint32_t NetProxyAuth = 0x20000006;        // the proxy wants credentials we cannot give
constexpr uint32_t NetProxyUnreachable = 0x20000007; // no proxy of the routes could be reached

// Whether a connection-level failure could go away on its own (resets, timeouts, names,
// proxies) rather than being a fault of the address or of the server's identity.
bool IsTransientNetError(uint32_t error);

// Winsock for the process (counted: each XL_Init has its XL_UnInit). Open sockets and lookups
// under way hold references of their own: the engine's may go while they still need Winsock.
bool NetStartup();
void NetShutdown();

// What a task's connections have learned of their hosts' address families, shared by them.
class THostFamilies {
public:
    TFamilies Failing(const std::string& host);
    void Learn(const std::string& host, TFamilies worked, TFamilies failing);

private:
    SRWLOCK Lock = SRWLOCK_INIT;
    TFamilyMemory Memory;
};

// How a connection is made.
struct TConnectOptions {
    uint32_t AttemptDelayMs = 250;     // the head start of each address before the next one
    THostFamilies* Families = nullptr; // none: nothing is learned from one connect to the next
    int TraceId = -1;                  // the connection's number in the trace
    bool MayPrompt = true; // a proxy's question may open the credential dialog
    HANDLE Reached = nullptr; // set once the server's port answered (a connect, or a tunnel)
};

class TSocket {
public:
    TSocket() = default;
    ~TSocket() { Close(); }
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;

    // Resolves `host` and races its addresses; the whole set-up is bounded by `stallMs`.
    TNetResult Connect(const std::string& host, uint16_t port, HANDLE abort, uint32_t stallMs,
                       const TConnectOptions& options = {});
    // Sends all of `data`.
    TNetResult Send(const void* data, size_t size, HANDLE abort, uint32_t stallMs);
    // Up to `size` bytes, at least one: Ok with Bytes; Eof when the peer has closed.
    TNetResult Receive(void* data, size_t size, HANDLE abort, uint32_t stallMs);
    // What has arrived already, without waiting (Ok with 0 bytes when nothing has).
    TNetResult ReceiveReady(void* data, size_t size);
    void Close();
    bool IsOpen() const { return Socket != INVALID_SOCKET; }

private:
    // Waits for one of `events` (FD_*), the abort event or the stall time.
    TNetResult Wait(long events, HANDLE abort, uint32_t stallMs);
    SOCKET Socket = INVALID_SOCKET;
    WSAEVENT Event = WSA_INVALID_EVENT;
    bool HoldsNet = false; // our own Winsock reference, from Connect until Close
};

} // namespace xldl
