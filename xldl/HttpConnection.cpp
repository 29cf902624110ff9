#include "xldl/HttpConnection.h"

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

} // namespace

THttpConnection::THttpConnection(const TUrl& origin, std::optional<TProxyServer> proxy,
                                 const TConnectOptions& connect)
    : Origin(origin), Proxy(std::move(proxy)), ConnectOptions(connect) {}

bool THttpConnection::Serves(const TUrl& url, const std::optional<TProxyServer>& proxy) const {
    return url.Secure == Origin.Secure && url.Port == Origin.Port &&
           SameHost(url.Host, Origin.Host) && proxy == Proxy;
}

int64_t THttpConnection::BodyRemaining() const {
    if (!InBody) return 0;
    return Frame.Kind == TFraming::Length ? BodyLeft : -1;
}

void THttpConnection::Close() {
    Tls.reset();
    Socket.Close();
    Begin = End = 0;
    Outstanding = 0;
    Answers = 0;
    Closing = false;
    InBody = false;
}

TNetResult THttpConnection::Open(HANDLE abort, uint32_t stallMs) {
    if (Socket.IsOpen()) return {TNet::Ok, 0, 0};
    Close();
    if (Buffer.empty()) Buffer.resize(BufferSize);
    CertStatus = 0;
    const std::string& host = Proxy ? Proxy->Host : Origin.Host;
    const uint16_t port = Proxy ? Proxy->Port : Origin.Port;
    TNetResult r = Socket.Connect(host, port, abort, stallMs, ConnectOptions);
    if (r.Kind != TNet::Ok) return r;
    if (!Origin.Secure) return r;
    if (Proxy) {
        r = OpenTunnel(abort, stallMs);
        if (r.Kind != TNet::Ok) {
            Close();
            return r;
        }
    }
    Tls = std::make_unique<TTlsSession>();
    r = Tls->Handshake(Socket, Origin.Host, abort, stallMs);
    if (r.Kind != TNet::Ok) {
        CertStatus = Tls->CertificateStatus();
        Close();
    }
    return r;
}

TNetResult THttpConnection::OpenTunnel(HANDLE abort, uint32_t stallMs) {
    TNetResult r = SendRaw(FormatConnectRequest(Origin.Host, Origin.Port), abort, stallMs);
    if (r.Kind != TNet::Ok) return r;
    for (;;) {
        const size_t end = FindHeadEnd(
            std::string_view(reinterpret_cast<const char*>(Buffer.data()) + Begin, End - Begin));
        if (end) {
            const THeaders head = ParseHeaderBlock(
                std::string_view(reinterpret_cast<const char*>(Buffer.data()) + Begin, end));
            Begin += end;
            if (head.Status >= 100 && head.Status < 200) continue;
            // The tunnel's first bytes are the server's, for TLS: nothing may come before.
            if (head.Status < 200 || head.Status > 299 || Begin != End)
                return {TNet::Failed, NetProxyRefused, 0};
            Begin = End = 0;
            return {TNet::Ok, 0, 0};
        }
        if (End - Begin >= MaxHeadBytes) return {TNet::Failed, NetProxyRefused, 0};
        r = Fill(abort, stallMs);
        if (r.Kind == TNet::Eof) return {TNet::Failed, NetProxyRefused, 0};
        if (r.Kind != TNet::Ok) return r;
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

TNetResult THttpConnection::Fill(HANDLE abort, uint32_t stallMs) {
    if (Begin == End) Begin = End = 0;
    if (End == Buffer.size()) Compact();
    if (End == Buffer.size()) return {TNet::Failed, NetBadResponse, 0};
    TNetResult r =
        Tls ? Tls->Receive(Socket, Buffer.data() + End, Buffer.size() - End, abort, stallMs)
            : Socket.Receive(Buffer.data() + End, Buffer.size() - End, abort, stallMs);
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

TNetResult THttpConnection::Request(const TUrl& url, const std::string& headers, HANDLE abort,
                                    uint32_t stallMs) {
    TNetResult r = Open(abort, stallMs);
    if (r.Kind != TNet::Ok) return r;
    if (Closing) return {TNet::Failed, NetNotAnswered, 0};
    r = SendRaw(FormatGetRequest(url, Proxy && !url.Secure, headers), abort, stallMs);
    if (r.Kind == TNet::Ok) ++Outstanding;
    return r;
}

TNetResult THttpConnection::ReadHead(HANDLE abort, uint32_t stallMs) {
    if (InBody || Outstanding == 0) return {TNet::Failed, NetBadResponse, 0};
    for (;;) {
        const std::string_view pending(reinterpret_cast<const char*>(Buffer.data()) + Begin,
                                       End - Begin);
        if (const size_t end = FindHeadEnd(pending)) {
            Response = ParseHeaderBlock(pending.substr(0, end));
            Begin += end;
            if (Response.Status >= 100 && Response.Status < 200) continue; // interim
            const auto framing = BodyFraming(Response);
            if (Response.Status == 0 || !framing) {
                Closing = true;
                return {TNet::Failed, NetBadResponse, 0};
            }
            Frame = *framing;
            ++Answers;
            if (!KeepsAlive(Response, Frame)) Closing = true;
            Chunks = TChunkedDecoder{};
            BodyLeft = Frame.Length;
            InBody = Frame.Kind != TFraming::None &&
                     !(Frame.Kind == TFraming::Length && Frame.Length == 0);
            if (!InBody) --Outstanding;
            return {TNet::Ok, 0, 0};
        }
        if (End - Begin >= MaxHeadBytes) {
            Closing = true;
            return {TNet::Failed, NetBadResponse, 0};
        }
        const bool nothingYet = Begin == End;
        const TNetResult r = Fill(abort, stallMs);
        if (r.Kind == TNet::Eof)
            return {TNet::Failed, nothingYet ? NetNotAnswered : NetBadResponse, 0};
        if (r.Kind != TNet::Ok) return r;
    }
}

TNetResult THttpConnection::ReadBody(const uint8_t*& data, uint32_t max, HANDLE abort,
                                     uint32_t stallMs) {
    data = nullptr;
    if (!InBody) return {TNet::Eof, 0, 0};
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
                const TNetResult r = Fill(abort, stallMs);
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
