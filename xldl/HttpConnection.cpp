#include "xldl/HttpConnection.h"

#include "xldl/ProxyRouter.h"
#include "xldl/Trace.h"

#include <algorithm>
#include <cstring>

namespace xldl {

namespace {

bool SameHost(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// A body that ends before its framing says: the connection dropped.
constexpr TNetResult CutShort{TNet::Failed, static_cast<uint32_t>(WSAECONNRESET), 0};
constexpr TNetResult NoProgress{TNet::Stalled, 0, 0};
// How often the abort is looked at while data keeps coming (a look costs a system call).
constexpr DWORD AbortCheckMs = 50;

// What is left of `stallMs` since `since`.
uint32_t Left(DWORD since, uint32_t stallMs) {
    const DWORD spent = GetTickCount() - since;
    return spent >= stallMs ? 0 : stallMs - spent;
}

} // namespace

THttpConnection::THttpConnection(const TUrl& origin, TProxyRouter& router,
                                 const TConnectOptions& connect)
    : Origin(origin), Router(&router), ConnectOptions(connect) {}

THttpConnection::THttpConnection(const TUrl& origin, std::optional<TProxyServer> proxy,
                                 const TConnectOptions& connect)
    : Origin(origin), Fixed{std::move(proxy)}, ConnectOptions(connect) {}

THttpConnection::~THttpConnection() = default;

bool THttpConnection::Serves(const TUrl& url) const {
    return url.Secure == Origin.Secure && url.Port == Origin.Port &&
           SameHost(url.Host, Origin.Host);
}

TProxyHandshake* THttpConnection::Handshake() {
    if (!Router || !Via) return nullptr;
    if (!Auth)
        Auth = std::make_unique<TProxyHandshake>(Router->Credentials(*Via), Router->Sspi(),
                                                 ConnectOptions.MayPrompt);
    return Auth.get();
}

int64_t THttpConnection::BodyRemaining() const {
    if (!InBody) return 0;
    return Frame.Kind == TFraming::Length ? BodyLeft : -1;
}

void THttpConnection::Close() {
    if (Auth) Auth->ConnectionClosed();
    Tls.reset();
    Socket.Close();
    Begin = End = 0;
    Outstanding = 0;
    Answers = 0;
    Closing = false;
    Spent = false;
    InBody = false;
    Unproven = false;
}

TNetResult THttpConnection::Open(HANDLE abort, uint32_t stallMs) {
    if (Socket.IsOpen()) return {TNet::Ok, 0, 0};
    Close();
    if (Buffer.empty()) Buffer.resize(BufferSize);
    CertStatus = 0;
    TProxyRoutes routes = Fixed;
    if (Router) {
        auto given = Router->Routes(Origin, abort);
        if (!given) return {TNet::Aborted, 0, 0};
        routes = std::move(*given);
    }
    // Each route in turn: a proxy that cannot be reached gives way to the next.
    TNetResult r{TNet::Failed, NetProxyUnreachable, 0};
    bool connected = false;
    for (const TProxyRoute& route : routes) {
        r = Socket.Connect(route ? route->Host : Origin.Host, route ? route->Port : Origin.Port,
                           abort, stallMs, ConnectOptions);
        if (r.Kind == TNet::Aborted) return r;
        if (r.Kind == TNet::Ok) {
            if (Via != route) Auth.reset(); // what a proxy asked is that proxy's
            Via = route;
            connected = true;
            break;
        }
        if (Router && route) Router->Unreachable(*route);
    }
    if (!connected) {
        const bool allProxies =
            std::none_of(routes.begin(), routes.end(), [](const TProxyRoute& x) { return !x; });
        if (Router && allProxies && !routes.empty()) {
            Router->NoneReachable();
            return {TNet::Failed, NetProxyUnreachable, 0};
        }
        return r;
    }
    if (Router) Router->Reached(Via);
    if (!Origin.Secure) return r;
    if (Via) {
        r = OpenTunnel(abort, stallMs);
        if (r.Kind != TNet::Ok) {
            Close();
            return r;
        }
    }
    if (ConnectOptions.Reached) SetEvent(ConnectOptions.Reached);
    Tls = std::make_unique<TTlsSession>();
    r = Tls->Handshake(Socket, Origin.Host, abort, stallMs);
    if (r.Kind != TNet::Ok) {
        CertStatus = Tls->CertificateStatus();
        Close();
    }
    return r;
}

TNetResult THttpConnection::Reconnect(HANDLE abort, uint32_t stallMs) {
    Socket.Close();
    Begin = End = 0;
    Closing = false;
    const TNetResult r = Socket.Connect(Via->Host, Via->Port, abort, stallMs, ConnectOptions);
    if (r.Kind == TNet::Failed && Router) Router->Unreachable(*Via);
    return r;
}

TNetResult THttpConnection::SkipBody(const THeaders& head, HANDLE abort, uint32_t stallMs) {
    const auto framing = BodyFraming(head);
    if (!framing) return {TNet::Failed, NetBadResponse, 0};
    Frame = *framing;
    Chunks = TChunkedDecoder{};
    BodyLeft = Frame.Length;
    InBody = Frame.Kind != TFraming::None && !(Frame.Kind == TFraming::Length && Frame.Length == 0);
    ++Outstanding;
    for (;;) {
        const uint8_t* data = nullptr;
        const TNetResult r = ReadBody(data, BufferSize, abort, stallMs);
        if (r.Kind == TNet::Eof) break;
        if (r.Kind != TNet::Ok) return r;
    }
    if (Closing || !KeepsAlive(head, Frame)) return Reconnect(abort, stallMs);
    return {TNet::Ok, 0, 0};
}

TNetResult THttpConnection::AnswerProxy(const THeaders& head, HANDLE abort, std::string& value) {
    TProxyHandshake* handshake = Handshake();
    if (!handshake) return {TNet::Failed, NetProxyAuth, 0};
    bool aborted = false;
    const auto answer = handshake->Answer(head, abort, aborted);
    if (aborted) return {TNet::Aborted, 0, 0};
    if (!answer) {
        if (Tracing()) Trace("proxy %s: no credentials it takes", RouteText(Via).c_str());
        return {TNet::Failed, NetProxyAuth, 0};
    }
    value = *answer;
    return {TNet::Ok, 0, 0};
}

TNetResult THttpConnection::OpenTunnel(HANDLE abort, uint32_t stallMs) {
    std::string authorization;
    if (TProxyHandshake* h = Handshake()) authorization = h->Standing();
    for (;;) {
        std::string request = FormatConnectRequest(Origin.Host, Origin.Port);
        if (!authorization.empty())
            request.insert(request.size() - 2, ProxyAuthorizationLine(authorization));
        TNetResult r = SendRaw(request, abort, stallMs);
        if (r.Kind != TNet::Ok) return r;
        r = ReceiveHead(abort, stallMs);
        if (r.Kind == TNet::Failed && (r.Error == NetBadResponse || r.Error == NetNotAnswered))
            return {TNet::Failed, NetProxyRefused, 0};
        if (r.Kind != TNet::Ok) return r;
        const THeaders head = Response;
        if (head.Status == 407 && Router) {
            r = AnswerProxy(head, abort, authorization);
            if (r.Kind != TNet::Ok) return r;
            r = SkipBody(head, abort, stallMs);
            Outstanding = 0;
            if (r.Kind != TNet::Ok) return r;
            continue;
        }
        // The tunnel's first bytes are the server's, for TLS: nothing may come before.
        if (head.Status < 200 || head.Status > 299 || Begin != End)
            return {TNet::Failed, NetProxyRefused, 0};
        if (Auth) Auth->Succeeded();
        Begin = End = 0;
        return {TNet::Ok, 0, 0};
    }
}

TNetResult THttpConnection::SendRaw(const std::string& text, HANDLE abort, uint32_t stallMs) {
    return Tls ? Tls->Send(Socket, text.data(), text.size(), abort, stallMs)
               : Socket.Send(text.data(), text.size(), abort, stallMs);
}

void THttpConnection::Compact() {
    if (Begin == 0) return;
    std::memmove(Buffer.data(), Buffer.data() + Begin, End - Begin);
    End -= Begin;
    Begin = 0;
}

TNetResult THttpConnection::Fill(HANDLE abort, uint32_t waitMs) {
    // A server that sends without pause must not keep the abort waiting for a pause.
    const DWORD now = GetTickCount();
    if (now - AbortCheckedAt >= AbortCheckMs) {
        AbortCheckedAt = now;
        if (abort && WaitForSingleObject(abort, 0) == WAIT_OBJECT_0) return {TNet::Aborted, 0, 0};
    }
    if (Begin == End) Begin = End = 0;
    if (End == Buffer.size()) Compact();
    if (End == Buffer.size()) return {TNet::Failed, NetBadResponse, 0};
    TNetResult r =
        Tls ? Tls->Receive(Socket, Buffer.data() + End, Buffer.size() - End, abort, waitMs)
            : Socket.Receive(Buffer.data() + End, Buffer.size() - End, abort, waitMs);
    if (r.Kind != TNet::Ok) return r;
    End += r.Bytes;
    // On a fast link more has come meanwhile: take it too, so that the file is written in
    // large pieces rather than in as many small ones as the system hands out.
    while (!Tls && End - Begin < BatchBytes && Buffer.size() - End >= 64 * 1024) {
        const TNetResult more = Socket.ReceiveReady(Buffer.data() + End, Buffer.size() - End);
        if (more.Kind != TNet::Ok || more.Bytes == 0) break; // an end or a failure: next time
        End += more.Bytes;
        r.Bytes += more.Bytes;
    }
    return r;
}

TNetResult THttpConnection::Await(HANDLE wake, uint32_t waitMs) {
    if (Begin < End) return {TNet::Ok, 0, 0};
    const TNetResult r = Fill(wake, waitMs);
    return r.Kind == TNet::Ok ? TNetResult{TNet::Ok, 0, 0} : r;
}

TNetResult THttpConnection::Request(const TUrl& url, const std::string& headers, HANDLE abort,
                                    uint32_t stallMs) {
    TNetResult r = Open(abort, stallMs);
    if (r.Kind != TNet::Ok) return r;
    if (Closing) return {TNet::Failed, NetNotAnswered, 0};
    const bool toProxy = Via && !url.Secure;
    std::string text = FormatGetRequest(url, toProxy, headers);
    if (toProxy && Router) {
        LastRequest = text;
        if (TProxyHandshake* h = Handshake(); h && !h->Standing().empty())
            text.insert(text.size() - 2, ProxyAuthorizationLine(h->Standing()));
    }
    r = SendRaw(text, abort, stallMs);
    if (r.Kind == TNet::Ok) ++Outstanding;
    return r;
}

TNetResult THttpConnection::ReadHead(HANDLE abort, uint32_t stallMs) {
    bool answered = false; // we answered the proxy's question on this connection
    for (;;) {
        TNetResult r = ReadOneHead(abort, stallMs);
        // A proxy that takes our answer and then drops the connection without a word has
        // refused it as surely as with another 407: a proxy that did so on every connection
        // would otherwise be asked again and again with the same credentials.
        if (r.Kind == TNet::Failed && answered && Auth) Auth->Unanswered();
        // Only a plain-HTTP proxy's own question is ours to answer here; through a tunnel a
        // 407 would be the origin's, and means nothing to us.
        if (r.Kind != TNet::Ok || !Router || !Via || Origin.Secure) {
            if (r.Kind == TNet::Ok) ++Answers;
            return r;
        }
        if (Response.Status != 407) {
            if (Auth) Auth->Succeeded();
            ++Answers;
            return r;
        }
        const int behind = InBody ? Outstanding - 1 : Outstanding;
        if (behind > 0) {
            // Requests sent behind it met the same question: they go again on a new
            // connection, which begins with the answer.
            Close();
            return {TNet::Failed, NetNotAnswered, 0};
        }
        std::string authorization;
        r = AnswerProxy(Response, abort, authorization);
        if (r.Kind != TNet::Ok) return r;
        const THeaders question = Response;
        // Read what came with the question: the answer goes on the same connection.
        for (;;) {
            const uint8_t* data = nullptr;
            r = ReadBody(data, BufferSize, abort, stallMs);
            if (r.Kind == TNet::Eof) break;
            if (r.Kind != TNet::Ok) return r;
        }
        if (Closing || !KeepsAlive(question, Frame)) {
            r = Reconnect(abort, stallMs);
            if (r.Kind != TNet::Ok) return r;
        }
        std::string text = LastRequest;
        text.insert(text.size() - 2, ProxyAuthorizationLine(authorization));
        r = SendRaw(text, abort, stallMs);
        if (r.Kind != TNet::Ok) return r;
        ++Outstanding;
        answered = true;
    }
}

TNetResult THttpConnection::ReceiveHead(HANDLE abort, uint32_t stallMs) {
    const DWORD since = GetTickCount();
    THeadReader reader;
    for (;;) {
        const auto step = reader.Next(
            std::string_view(reinterpret_cast<const char*>(Buffer.data()) + Begin, End - Begin));
        Begin += step.Consumed;
        switch (step.Step) {
        case THeadReader::TStep::Head:
            Response = reader.Head();
            return {TNet::Ok, 0, 0};
        case THeadReader::TStep::Bad:
        case THeadReader::TStep::TooLarge:
            Closing = true;
            return {TNet::Failed, NetBadResponse, 0};
        case THeadReader::TStep::NeedMore:
            break;
        }
        // Interim answers are no progress: the head itself must come within the stall time.
        const uint32_t left = Left(since, stallMs);
        if (left == 0) return NoProgress;
        const bool nothingYet = Begin == End && reader.Interims() == 0;
        const TNetResult r = Fill(abort, left);
        if (r.Kind == TNet::Eof)
            return {TNet::Failed, nothingYet ? NetNotAnswered : NetBadResponse, 0};
        if (r.Kind != TNet::Ok) return r;
    }
}

TNetResult THttpConnection::ReadOneHead(HANDLE abort, uint32_t stallMs) {
    if (InBody || Outstanding == 0) return {TNet::Failed, NetBadResponse, 0};
    // The rest of the stream was given up on: the requests behind it were never answered.
    if (Spent) return {TNet::Failed, NetNotAnswered, 0};
    const TNetResult r = ReceiveHead(abort, stallMs);
    if (r.Kind != TNet::Ok) return r;
    const auto framing = BodyFraming(Response);
    if (!framing) {
        Closing = true;
        return {TNet::Failed, NetBadResponse, 0};
    }
    Frame = *framing;
    if (!KeepsAlive(Response, Frame)) Closing = true;
    Chunks = TChunkedDecoder{};
    BodyLeft = Frame.Length;
    Unproven = false;
    InBody = Frame.Kind != TFraming::None && !(Frame.Kind == TFraming::Length && Frame.Length == 0);
    if (!InBody) --Outstanding;
    return {TNet::Ok, 0, 0};
}

TNetResult THttpConnection::ReadBody(const uint8_t*& data, uint32_t max, HANDLE abort,
                                     uint32_t stallMs) {
    data = nullptr;
    if (!InBody) return {TNet::Eof, 0, 0};
    // Chunk framing and trailers are no progress: body bytes or the end must come in time.
    const DWORD since = GetTickCount();
    const auto ended = [this] {
        InBody = false;
        --Outstanding;
        return TNetResult{TNet::Eof, 0, 0};
    };
    for (;;) {
        switch (Frame.Kind) {
        case TFraming::Length: {
            if (BodyLeft == 0) return ended();
            if (Begin == End) {
                const TNetResult r = Fill(abort, stallMs);
                if (r.Kind == TNet::Eof) return CutShort;
                if (r.Kind != TNet::Ok) return r;
            }
            const auto n = static_cast<uint32_t>(
                std::min<int64_t>({static_cast<int64_t>(End - Begin), BodyLeft, max}));
            data = Buffer.data() + Begin;
            Begin += n;
            BodyLeft -= n;
            if (BodyLeft == 0) {
                InBody = false;
                --Outstanding;
            }
            return {TNet::Ok, 0, n};
        }
        case TFraming::Chunked: {
            if (Begin == End) {
                const uint32_t left = Left(since, stallMs);
                const TNetResult r = left ? Fill(abort, left) : NoProgress;
                if ((r.Kind == TNet::Stalled || r.Kind == TNet::Eof) && Chunks.DataComplete()) {
                    // The last chunk came, so the body is whole; trailers that do not end
                    // are not worth waiting for, and nothing after them is an answer.
                    Closing = true;
                    Spent = true;
                    return ended();
                }
                if (r.Kind == TNet::Eof) return CutShort;
                if (r.Kind != TNet::Ok) return r;
            }
            const size_t look = std::min<size_t>(End - Begin, std::max<uint32_t>(max, 1));
            const auto step = Chunks.Next(Buffer.data() + Begin, look);
            const size_t at = Begin;
            Begin += step.Consumed;
            switch (step.Step) {
            case TChunkedDecoder::TStep::Data:
                data = Buffer.data() + at + step.Offset;
                return {TNet::Ok, 0, static_cast<uint32_t>(step.Length)};
            case TChunkedDecoder::TStep::End:
                return ended();
            case TChunkedDecoder::TStep::Error:
                Closing = true;
                if (Chunks.DataComplete()) { // trailers beyond their limit, or not trailers
                    Spent = true;
                    return ended();
                }
                return {TNet::Failed, NetBadResponse, 0};
            case TChunkedDecoder::TStep::NeedMore:
                continue; // the decoder keeps what it has seen of a frame: fetch the rest
            }
            return {TNet::Failed, NetBadResponse, 0};
        }
        case TFraming::Close: {
            if (Begin == End) {
                const TNetResult r = Fill(abort, stallMs);
                if (r.Kind == TNet::Eof) {
                    // Over TLS the end must be the server's word, not a cut connection.
                    if (Tls && !Tls->ClosedCleanly()) return CutShort;
                    Closing = true;
                    Unproven = !Tls;
                    return ended();
                }
                if (r.Kind != TNet::Ok) return r;
            }
            const auto n = static_cast<uint32_t>(std::min<size_t>(End - Begin, max));
            data = Buffer.data() + Begin;
            Begin += n;
            return {TNet::Ok, 0, n};
        }
        case TFraming::None:
            return ended();
        }
    }
}

} // namespace xldl
