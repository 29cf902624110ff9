#include "xldl/core/HttpWire.h"

#include "xldl/core/Text.h"

#include <algorithm>

namespace xldl {

namespace {

// Whether a comma-separated field value lists `token`.
bool ListsToken(const std::optional<std::string>& value, std::string_view token) {
    if (!value) return false;
    std::string_view rest = *value;
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        if (EqualsNoCase(Trim(rest.substr(0, comma)), token)) return true;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return false;
}

int HexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string HostHeader(std::string_view host, uint16_t port, bool secure) {
    std::string h(host);
    if (port != (secure ? 443 : 80)) h += ":" + std::to_string(port);
    return h;
}

} // namespace

std::string FormatGetRequest(const TUrl& url, bool toProxy, std::string_view extra) {
    std::string r = "GET ";
    r += toProxy ? FormatUrl(url) : url.Target;
    r += " HTTP/1.1\r\nHost: ";
    r += HostHeader(url.Host, url.Port, url.Secure);
    r += "\r\nUser-Agent: xldl/2.0\r\nAccept-Encoding: identity\r\n";
    r += extra;
    r += "\r\n";
    return r;
}

std::string FormatConnectRequest(std::string_view host, uint16_t port) {
    const std::string authority = std::string(host) + ":" + std::to_string(port);
    return "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority +
           "\r\nUser-Agent: xldl/2.0\r\n\r\n";
}

size_t FindHeadEnd(std::string_view data) {
    for (size_t i = data.find('\n'); i != std::string_view::npos; i = data.find('\n', i + 1)) {
        if (i + 1 < data.size() && data[i + 1] == '\n') return i + 2;
        if (i + 2 < data.size() && data[i + 1] == '\r' && data[i + 2] == '\n') return i + 3;
    }
    return 0;
}

THeadReader::TResult THeadReader::Next(std::string_view data) {
    TResult r;
    for (;;) {
        const size_t end = FindHeadEnd(data.substr(0, MaxHeadBytes - Taken));
        if (end == 0) {
            r.Step = Taken + data.size() >= MaxHeadBytes ? TStep::TooLarge : TStep::NeedMore;
            return r;
        }
        Answer = ParseHeaderBlock(data.substr(0, end));
        data.remove_prefix(end);
        r.Consumed += end;
        if (Answer.Status == 0 || Answer.Status == 101) {
            r.Step = TStep::Bad;
            return r;
        }
        if (!IsInterimStatus(Answer.Status)) {
            r.Step = TStep::Head;
            return r;
        }
        Taken += end;
        ++Skipped;
    }
}

std::optional<TBodyFraming> BodyFraming(const THeaders& head) {
    if ((head.Status >= 100 && head.Status < 200) || head.Status == 204 || head.Status == 304)
        return TBodyFraming{TFraming::None, 0};
    if (const auto coding = head.Get("transfer-encoding")) {
        // Only chunked, and last, can be undone here; anything else would reach the file.
        std::string_view rest = *coding;
        const size_t lastComma = rest.rfind(',');
        const std::string_view last =
            Trim(lastComma == std::string_view::npos ? rest : rest.substr(lastComma + 1));
        if (!EqualsNoCase(last, "chunked") || lastComma != std::string_view::npos)
            return std::nullopt;
        return TBodyFraming{TFraming::Chunked, 0};
    }
    std::optional<int64_t> length;
    for (const auto& [name, value] : head.Fields) {
        if (name != "content-length") continue;
        std::string_view rest = value;
        while (true) {
            const size_t comma = rest.find(',');
            const auto n = ParseByteCount(rest.substr(0, comma));
            if (!n || (length && *length != *n)) return std::nullopt;
            length = n;
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    if (length) return TBodyFraming{TFraming::Length, *length};
    return TBodyFraming{TFraming::Close, 0};
}

bool KeepsAlive(const THeaders& head, const TBodyFraming& framing) {
    if (framing.Kind == TFraming::Close) return false;
    const auto connection = head.Get("connection");
    if (ListsToken(connection, "close")) return false;
    if (head.Version == "HTTP/1.0") return ListsToken(connection, "keep-alive");
    return head.Version.rfind("HTTP/1.", 0) == 0;
}

TChunkedDecoder::TResult TChunkedDecoder::Next(const uint8_t* input, size_t size) {
    constexpr size_t MaxLine = 4096;
    TResult r;
    size_t i = 0;
    const auto afterSize = [this] {
        LineBytes = 0;
        if (Left == 0) {
            State = TState::Trailer;
            TrailerLineEmpty = true;
            InTrailers = true;
        } else {
            State = TState::Data;
        }
    };
    const auto endOfTrailerLine = [this] {
        if (TrailerLineEmpty) {
            State = TState::Done;
            return;
        }
        State = TState::Trailer;
        TrailerLineEmpty = true;
        LineBytes = 0;
    };
    while (i < size) {
        const uint8_t c = input[i];
        switch (State) {
        case TState::Size: {
            const int v = HexValue(c);
            if (v >= 0) {
                if (Digits >= 15) { // more than 2^60 bytes in one chunk: not a real server
                    State = TState::Bad;
                    break;
                }
                Left = Left * 16 + static_cast<uint64_t>(v);
                ++Digits;
                ++i;
            } else if (Digits == 0) {
                State = TState::Bad;
            } else if (c == ';' || c == ' ' || c == '\t') {
                State = TState::Extension;
                ++i;
            } else if (c == '\r') {
                State = TState::SizeLf;
                ++i;
            } else if (c == '\n') {
                ++i;
                afterSize();
            } else {
                State = TState::Bad;
            }
            break;
        }
        case TState::Extension:
            ++i;
            if (c == '\r')
                State = TState::SizeLf;
            else if (c == '\n')
                afterSize();
            else if (++LineBytes > MaxLine)
                State = TState::Bad;
            break;
        case TState::SizeLf:
            if (c != '\n') {
                State = TState::Bad;
                break;
            }
            ++i;
            afterSize();
            break;
        case TState::Data: {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(Left, size - i));
            Left -= n;
            if (Left == 0) State = TState::DataCr;
            r.Step = TStep::Data;
            r.Offset = i;
            r.Length = n;
            r.Consumed = i + n;
            return r;
        }
        case TState::DataCr:
        case TState::DataLf:
            if (c == '\n') {
                State = TState::Size;
                Digits = 0;
                Left = 0;
            } else if (c == '\r' && State == TState::DataCr) {
                State = TState::DataLf;
            } else {
                State = TState::Bad;
                break;
            }
            ++i;
            break;
        case TState::Trailer:
            ++i;
            if (++TrailerBytes > MaxTrailerBytes) {
                State = TState::Bad;
                break;
            }
            if (c == '\r') {
                State = TState::TrailerLf;
            } else if (c == '\n') {
                endOfTrailerLine();
            } else {
                TrailerLineEmpty = false;
                if (++LineBytes > MaxLine) State = TState::Bad;
            }
            break;
        case TState::TrailerLf:
            if (c != '\n' || ++TrailerBytes > MaxTrailerBytes) {
                State = TState::Bad;
                break;
            }
            ++i;
            endOfTrailerLine();
            break;
        case TState::Done:
            r.Step = TStep::End;
            r.Consumed = i;
            return r;
        case TState::Bad:
            r.Step = TStep::Error;
            r.Consumed = i;
            return r;
        }
    }
    r.Consumed = i;
    r.Step = State == TState::Done  ? TStep::End
             : State == TState::Bad ? TStep::Error
                                    : TStep::NeedMore;
    return r;
}

} // namespace xldl
