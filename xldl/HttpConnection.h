// One HTTP/1.1 connection of the engine: to a server directly, to a plain-HTTP proxy, or
// through a proxy's CONNECT tunnel; over TLS for https. Its routes (proxies, DIRECT) are
// tried in order until one connects; a proxy that asks who we are (407) is answered on the
// spot, for the tunnel and for plain requests alike, and its questions never reach the
// caller unless no answer is left. Requests may be sent while the answer
// to an earlier one is still being read (pipelining): the server answers them in order, so a
// connection never idles for a round trip between two ranges. Used by one thread at a time.
//
// Body bytes are handed out where they were received, in the connection's own buffer: no
// copy between the socket and the file for plain HTTP.
//
// A server cannot keep a reader here forever: each read must bring progress (a head, body
// bytes, an end) within the stall time, whatever else comes meanwhile (interim answers, chunk
// framing, trailers), the abort is seen while data keeps coming, and everything that is not
// body (heads, interim answers, trailers) has a limit in bytes.
#pragma once

#include "xldl/ProxyAuth.h"
#include "xldl/Socket.h"
#include "xldl/Tls.h"
#include "xldl/core/HttpWire.h"
#include "xldl/core/ProxyRules.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace xldl {

class TProxyRouter;

class THttpConnection {
public:
    static constexpr size_t BufferSize = 1 << 20;
    // What a read gathers from the socket, when it is there, before handing it out.
    static constexpr size_t BatchBytes = 512 * 1024;

    // A connection for requests to `origin`'s scheme, host and port, by the routes `router`
    // gives for it (the task's).
    THttpConnection(const TUrl& origin, TProxyRouter& router, const TConnectOptions& connect = {});
    // The same through `proxy` only, or directly; a 407 is then the caller's.
    THttpConnection(const TUrl& origin, std::optional<TProxyServer> proxy,
                    const TConnectOptions& connect = {});
    ~THttpConnection();
    THttpConnection(const THttpConnection&) = delete;
    THttpConnection& operator=(const THttpConnection&) = delete;

    // Whether requests for `url` can go on this connection.
    bool Serves(const TUrl& url) const;

    // Connects (tunnel and handshake included) unless connected already.
    TNetResult Open(HANDLE abort, uint32_t stallMs);
    bool IsOpen() const { return Socket.IsOpen(); }
    // The proxy this connection went through when it last opened (nothing: directly).
    const TProxyRoute& Route() const { return Via; }
    // Sends a GET for `url` with the extra header lines `headers` (CRLF-terminated). Allowed
    // while earlier answers are unread, as long as the server keeps the connection.
    TNetResult Request(const TUrl& url, const std::string& headers, HANDLE abort, uint32_t stallMs);
    // Reads the head of the oldest unanswered request (after the body of the one before it
    // was read to its end), interim answers skipped. Failed with NetNotAnswered when the
    // connection closed before a byte of it came: the request may simply be sent again.
    TNetResult ReadHead(HANDLE abort, uint32_t stallMs);
    const THeaders& Head() const { return Response; }
    // Waits up to `waitMs` (or until `wake` is set) for the first bytes of what is still to
    // come, kept for ReadHead: Ok once some are at hand, Stalled or Aborted (woken) if not.
    TNetResult Await(HANDLE wake, uint32_t waitMs);
    const TBodyFraming& Framing() const { return Frame; }
    // The next bytes of the current body, at most `max`: `data` points into the buffer and
    // stays valid until the next call. Eof at the body's proper end; a body cut short fails.
    TNetResult ReadBody(const uint8_t*& data, uint32_t max, HANDLE abort, uint32_t stallMs);
    // Bytes of the current body still to come: -1 when its end is not known in advance.
    int64_t BodyRemaining() const;
    // Whether the body just read to its end ended only where the connection did, over plain
    // HTTP (no length, no chunks): a connection cut short ends the same way, so nothing
    // proves that all of it came. (Over TLS the server's close_notify proves it.)
    bool EndUnproven() const { return Unproven; }
    // Whether this connection has answered anything yet: one that closes before its first
    // answer turns us away, one that closes later has merely served its share of requests.
    // A proxy's question that we answered is no answer.
    bool HasAnswered() const { return Answers > 0; }
    int AnswerCount() const { return Answers; }
    // Requests sent whose answers are not read through.
    int Unanswered() const { return Outstanding; }
    // Whether another request may be sent now and answered (the server keeps the connection).
    bool CanPipeline() const { return Socket.IsOpen() && !Closing; }
    // The TLS certificate status of a failed handshake (see TTlsSession).
    uint32_t CertificateStatus() const { return CertStatus; }
    void Close();

private:
    // Receives more, waiting up to `waitMs` for it.
    TNetResult Fill(HANDLE abort, uint32_t waitMs);
    // One answer's head into Response, interim answers skipped, within `stallMs`.
    TNetResult ReceiveHead(HANDLE abort, uint32_t stallMs);
    TNetResult SendRaw(const std::string& text, HANDLE abort, uint32_t stallMs);
    TNetResult OpenTunnel(HANDLE abort, uint32_t stallMs);
    TNetResult ReadOneHead(HANDLE abort, uint32_t stallMs);
    // Reads the head that was just parsed into `head` to its end; a proxy that closes after
    // it is connected to again.
    TNetResult SkipBody(const THeaders& head, HANDLE abort, uint32_t stallMs);
    TNetResult Reconnect(HANDLE abort, uint32_t stallMs);
    // The answer to a proxy's 407 in `head`: Ok with `value` set, or why there is none.
    TNetResult AnswerProxy(const THeaders& head, HANDLE abort, std::string& value);
    TProxyHandshake* Handshake();
    void Compact();

    const TUrl Origin;
    TProxyRouter* const Router = nullptr;
    const TProxyRoutes Fixed; // the routes without a router
    TProxyRoute Via;          // the one this connection took
    std::unique_ptr<TProxyHandshake> Auth;
    std::string LastRequest; // the last GET through a plain-HTTP proxy, sent again after a 407
    const TConnectOptions ConnectOptions;
    TSocket Socket;
    std::unique_ptr<TTlsSession> Tls;
    uint32_t CertStatus = 0;
    std::vector<uint8_t> Buffer;
    size_t Begin = 0; // received bytes not yet consumed: [Begin, End)
    size_t End = 0;
    int Outstanding = 0;
    int Answers = 0;
    bool Closing = false; // the server said it closes after the current answer
    bool Spent = false;   // what follows on the connection cannot be read as answers
    bool InBody = false;
    bool Unproven = false;
    DWORD AbortCheckedAt = 0;
    THeaders Response;
    TBodyFraming Frame;
    int64_t BodyLeft = 0; // for a body of known length
    TChunkedDecoder Chunks;
};

} // namespace xldl
