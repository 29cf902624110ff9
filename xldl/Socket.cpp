#include "xldl/Socket.h"

#include "xldl/NameLookup.h"
#include "xldl/Trace.h"
#include "xldl/core/TraceFormat.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <vector>

namespace xldl {

namespace {

int Users = 0; // XL_Init and XL_UnInit come one at a time, under the engine's lock

bool WouldBlock(int error) {
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}

} // namespace

bool IsTransientNetError(uint32_t error) {
    switch (error) {
    case NetTlsUntrusted:
    case NetTlsFailed:
    case NetProxyAuth:
    case WSAEAFNOSUPPORT:
    case WSAEPROTONOSUPPORT:
        return false;
    default:
        return true;
    }
}

bool NetStartup() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    ++Users;
    return true;
}

void NetShutdown() {
    if (Users == 0) return;
    --Users;
    WSACleanup();
}

void TSocket::Close() {
    if (Socket != INVALID_SOCKET) closesocket(Socket);
    if (Event != WSA_INVALID_EVENT) WSACloseEvent(Event);
    Socket = INVALID_SOCKET;
    Event = WSA_INVALID_EVENT;
    if (HoldsNet) WSACleanup();
    HoldsNet = false;
}

TNetResult TSocket::Wait(long events, HANDLE abort, uint32_t stallMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= stallMs) return {TNet::Stalled, 0, 0};
        const HANDLE handles[2] = {Event, abort};
        const DWORD w = WaitForMultipleObjects(abort ? 2 : 1, handles, FALSE, stallMs - spent);
        if (w == WAIT_OBJECT_0 + 1) return {TNet::Aborted, 0, 0};
        if (w == WAIT_TIMEOUT) return {TNet::Stalled, 0, 0};
        if (w != WAIT_OBJECT_0) return {TNet::Failed, GetLastError(), 0};
        WSANETWORKEVENTS happened{};
        if (WSAEnumNetworkEvents(Socket, Event, &happened) != 0)
            return {TNet::Failed, static_cast<uint32_t>(WSAGetLastError()), 0};
        // A close is worth a look by the reader or writer: what is left to read, or the error.
        if (happened.lNetworkEvents & (events | FD_CLOSE)) return {TNet::Ok, 0, 0};
    }
}

namespace {

// A socket that may become the connection, while the race runs.
struct TAttempt {
    SOCKET Socket = INVALID_SOCKET;
    WSAEVENT Event = WSA_INVALID_EVENT;
    bool Started = false;
    uint32_t Error = 0; // why it failed, once it has
    void Close() {
        if (Socket != INVALID_SOCKET) closesocket(Socket);
        if (Event != WSA_INVALID_EVENT) WSACloseEvent(Event);
        Socket = INVALID_SOCKET;
        Event = WSA_INVALID_EVENT;
    }
};

// Each attempt's event takes one handle of a wait, and the abort event one more.
constexpr size_t MaxAttempts = MAXIMUM_WAIT_OBJECTS - 1;

std::string Describe(const TEndpoint& e) {
    return std::string(e.Address.ss_family == AF_INET6 ? "IPv6 " : "IPv4 ") + EndpointText(e);
}

// The race over one host's addresses: the sockets of its attempts, live ones closed with it.
class TConnectRace {
public:
    TConnectRace(std::vector<TEndpoint> found, TFamilies failing, uint32_t delayMs)
        : Found(std::move(found)), Race({}, 0) {
        if (Found.size() > MaxAttempts) Found.resize(MaxAttempts);
        std::vector<TFamily> listed;
        for (const TEndpoint& e : Found)
            listed.push_back(e.Address.ss_family == AF_INET6 ? TFamily::V6 : TFamily::V4);
        Order = AttemptOrder(listed, failing);
        std::vector<TFamily> families;
        for (size_t i : Order)
            families.push_back(listed[i]);
        Race = TAttemptRace(families, delayMs);
        Attempts.resize(Order.size());
    }
    ~TConnectRace() {
        for (TAttempt& a : Attempts)
            a.Close();
    }
    TConnectRace(const TConnectRace&) = delete;
    TConnectRace& operator=(const TConnectRace&) = delete;

    // Until an attempt connects (Ok), every one has failed (Failed), `deadline` has passed
    // (Stalled) or `abort` is set.
    TNetResult Run(HANDLE abort, uint64_t deadline);
    // The winner's socket and event, now the caller's.
    void TakeWinner(SOCKET& socket, WSAEVENT& event) {
        TAttempt& a = Attempts[*Race.Winner()];
        socket = a.Socket;
        event = a.Event;
        a.Socket = INVALID_SOCKET;
        a.Event = WSA_INVALID_EVENT;
    }
    const TAttemptRace& Outcome() const { return Race; }
    // For the trace: the address used, or "nothing".
    std::string Used() const {
        const auto won = Race.Winner();
        return won ? Describe(Found[Order[*won]]) : "nothing";
    }
    // For the trace: "; " and each other address tried, with what became of it.
    std::string Others() const;
    size_t Tried() const {
        return static_cast<size_t>(std::count_if(Attempts.begin(), Attempts.end(),
                                                 [](const TAttempt& a) { return a.Started; }));
    }
    size_t Listed() const { return Attempts.size(); }

private:
    void Begin(size_t i);
    void Fail(size_t i, uint32_t error) {
        Attempts[i].Close();
        Attempts[i].Error = error ? error : static_cast<uint32_t>(WSAECONNREFUSED);
        Race.Failed(i);
    }
    // The error to report when every attempt failed: the last one that may pass, so that a
    // family this system lacks does not make a host that refused us now look gone for good.
    uint32_t LostError() const;

    std::vector<TEndpoint> Found;
    std::vector<size_t> Order; // attempt -> index into Found
    TAttemptRace Race;
    std::vector<TAttempt> Attempts;
};

// Sets off attempt `i`: its socket, non-blocking from here on, every wait on its event.
void TConnectRace::Begin(size_t i) {
    TAttempt& a = Attempts[i];
    const TEndpoint& e = Found[Order[i]];
    a.Started = true;
    a.Socket = socket(e.Address.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (a.Socket == INVALID_SOCKET) return Fail(i, static_cast<uint32_t>(WSAGetLastError()));
    a.Event = WSACreateEvent();
    if (a.Event == WSA_INVALID_EVENT) return Fail(i, static_cast<uint32_t>(WSAGetLastError()));
    // Requests are small and a pipelined one must leave at once, not wait for an ACK.
    const BOOL noDelay = TRUE;
    setsockopt(a.Socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
    if (WSAEventSelect(a.Socket, a.Event, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) != 0)
        return Fail(i, static_cast<uint32_t>(WSAGetLastError()));
    if (connect(a.Socket, reinterpret_cast<const sockaddr*>(&e.Address), e.Length) == 0)
        return Race.Connected(i);
    const int error = WSAGetLastError();
    if (!WouldBlock(error)) Fail(i, static_cast<uint32_t>(error));
}

TNetResult TConnectRace::Run(HANDLE abort, uint64_t deadline) {
    for (;;) {
        const uint64_t now = GetTickCount64();
        while (const auto i = Race.Start(now))
            Begin(*i);
        if (Race.Winner()) return {TNet::Ok, 0, 0};
        if (Race.Lost()) return {TNet::Failed, LostError(), 0};
        if (now >= deadline) return {TNet::Stalled, 0, 0};
        uint64_t wait = deadline - now;
        if (const auto next = Race.UntilNext(now)) wait = std::min<uint64_t>(wait, *next);
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        size_t which[MAXIMUM_WAIT_OBJECTS];
        DWORD n = 0;
        for (size_t i = 0; i < Attempts.size(); ++i)
            if (Attempts[i].Event != WSA_INVALID_EVENT) {
                handles[n] = Attempts[i].Event;
                which[n++] = i;
            }
        const DWORD running = n;
        if (abort) handles[n++] = abort;
        if (n == 0) { // nothing to wait for but the clock
            Sleep(static_cast<DWORD>(wait));
            continue;
        }
        const DWORD w = WaitForMultipleObjects(n, handles, FALSE, static_cast<DWORD>(wait));
        if (w == WAIT_TIMEOUT) continue;
        if (w >= WAIT_OBJECT_0 + n) return {TNet::Failed, GetLastError(), 0};
        if (w - WAIT_OBJECT_0 == running) return {TNet::Aborted, 0, 0};
        const size_t i = which[w - WAIT_OBJECT_0];
        WSANETWORKEVENTS happened{};
        if (WSAEnumNetworkEvents(Attempts[i].Socket, Attempts[i].Event, &happened) != 0)
            Fail(i, static_cast<uint32_t>(WSAGetLastError()));
        else if (happened.lNetworkEvents & FD_CONNECT) {
            if (const int error = happened.iErrorCode[FD_CONNECT_BIT])
                Fail(i, static_cast<uint32_t>(error));
            else
                Race.Connected(i);
        }
    }
}

uint32_t TConnectRace::LostError() const {
    uint32_t error = static_cast<uint32_t>(WSAEHOSTUNREACH);
    bool transient = false;
    for (const TAttempt& a : Attempts) {
        if (!a.Error || (transient && !IsTransientNetError(a.Error))) continue;
        error = a.Error;
        transient = IsTransientNetError(a.Error);
    }
    return error;
}

std::string TConnectRace::Others() const {
    std::string text;
    for (size_t i = 0; i < Attempts.size(); ++i) {
        if (!Attempts[i].Started || Race.Winner() == i) continue;
        text += "; " + Describe(Found[Order[i]]);
        text += Attempts[i].Error ? " error " + std::to_string(Attempts[i].Error) : " no answer";
    }
    return text;
}

const char* KindText(TNet kind) {
    switch (kind) {
    case TNet::Ok:
        return "";
    case TNet::Aborted:
        return " aborted";
    case TNet::Stalled:
        return " stalled";
    default:
        return " failed";
    }
}

} // namespace

TFamilies THostFamilies::Failing(const std::string& host) {
    AcquireSRWLockShared(&Lock);
    const TFamilies failing = Memory.Failing(host);
    ReleaseSRWLockShared(&Lock);
    return failing;
}

void THostFamilies::Learn(const std::string& host, TFamilies worked, TFamilies failing) {
    AcquireSRWLockExclusive(&Lock);
    Memory.Learn(host, worked, failing);
    ReleaseSRWLockExclusive(&Lock);
}

TNetResult TSocket::Connect(const std::string& host, uint16_t port, HANDLE abort, uint32_t stallMs,
                            const TConnectOptions& options) {
    Close();
    WSADATA data;
    if (const int error = WSAStartup(MAKEWORD(2, 2), &data))
        return {TNet::Failed, static_cast<uint32_t>(error), 0};
    HoldsNet = true;
    const uint64_t start = GetTickCount64();
    char label[16] = "";
    if (options.TraceId >= 0) FormatTraceArgs(label, sizeof label, "c%d ", options.TraceId);

    // An IPv6 literal comes in brackets, as URLs write it.
    std::string name = host;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    std::vector<TEndpoint> found;
    TNetResult r = LookUpHost(name, port, abort, stallMs, found);
    const auto lookupMs = static_cast<unsigned long long>(GetTickCount64() - start);
    if (r.Kind != TNet::Ok) {
        if (Tracing())
            Trace("%sconnect %s:%u: lookup%s after %llu ms, error %u", label, name.c_str(), port,
                  KindText(r.Kind), lookupMs, r.Error);
        Close();
        return r;
    }

    TConnectRace race(std::move(found), options.Families ? options.Families->Failing(name) : 0,
                      options.AttemptDelayMs);
    r = race.Run(abort, start + stallMs);
    if (r.Kind == TNet::Ok) race.TakeWinner(Socket, Event);
    if (options.Families && r.Kind != TNet::Aborted)
        options.Families->Learn(name, race.Outcome().Worked(), race.Outcome().Failing());
    if (Tracing())
        Trace("%sconnect %s:%u%s: %s after %llu ms (lookup %llu ms, %u of %u addresses%s)", label,
              name.c_str(), port, KindText(r.Kind), race.Used().c_str(),
              static_cast<unsigned long long>(GetTickCount64() - start), lookupMs,
              static_cast<unsigned>(race.Tried()), static_cast<unsigned>(race.Listed()),
              race.Others().c_str());
    if (r.Kind != TNet::Ok) Close();
    return r;
}

TNetResult TSocket::Send(const void* data, size_t size, HANDLE abort, uint32_t stallMs) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const int chunk = static_cast<int>(size > 0x100000 ? 0x100000 : size);
        const int n = send(Socket, p, chunk, 0);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        const int error = WSAGetLastError();
        if (!WouldBlock(error)) return {TNet::Failed, static_cast<uint32_t>(error), 0};
        const TNetResult w = Wait(FD_WRITE, abort, stallMs);
        if (w.Kind != TNet::Ok) return w;
    }
    return {TNet::Ok, 0, 0};
}

TNetResult TSocket::ReceiveReady(void* data, size_t size) {
    const int n = recv(Socket, static_cast<char*>(data), static_cast<int>(size), 0);
    if (n > 0) return {TNet::Ok, 0, static_cast<uint32_t>(n)};
    if (n == 0) return {TNet::Eof, 0, 0};
    const int error = WSAGetLastError();
    if (WouldBlock(error)) return {TNet::Ok, 0, 0};
    return {TNet::Failed, static_cast<uint32_t>(error), 0};
}

TNetResult TSocket::Receive(void* data, size_t size, HANDLE abort, uint32_t stallMs) {
    for (;;) {
        const TNetResult r = ReceiveReady(data, size);
        if (r.Kind != TNet::Ok || r.Bytes > 0) return r;
        const TNetResult w = Wait(FD_READ, abort, stallMs);
        if (w.Kind != TNet::Ok) return w;
    }
}

} // namespace xldl
