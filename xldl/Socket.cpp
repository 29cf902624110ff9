#include "xldl/Socket.h"

#include <ws2tcpip.h>

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
        if (happened.lNetworkEvents & FD_CONNECT & events) {
            const int error = happened.iErrorCode[FD_CONNECT_BIT];
            if (error) return {TNet::Failed, static_cast<uint32_t>(error), 0};
            return {TNet::Ok, 0, 0};
        }
        // A close is worth a look by the reader or writer: what is left to read, or the error.
        if (happened.lNetworkEvents & (events | FD_CLOSE)) return {TNet::Ok, 0, 0};
    }
}

TNetResult TSocket::Connect(const std::string& host, uint16_t port, HANDLE abort,
                            uint32_t stallMs) {
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    // An IPv6 literal comes in brackets, as URLs write it.
    std::string name = host;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    if (const int error = getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &found))
        return {TNet::Failed, static_cast<uint32_t>(error), 0};
    if (WaitForSingleObject(abort, 0) == WAIT_OBJECT_0) {
        freeaddrinfo(found);
        return {TNet::Aborted, 0, 0};
    }
    TNetResult last{TNet::Failed, static_cast<uint32_t>(WSAEHOSTUNREACH), 0};
    for (addrinfo* a = found; a; a = a->ai_next) {
        Socket = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (Socket == INVALID_SOCKET) {
            last = {TNet::Failed, static_cast<uint32_t>(WSAGetLastError()), 0};
            continue;
        }
        Event = WSACreateEvent();
        // Requests are small and a pipelined one must leave at once, not wait for an ACK.
        const BOOL noDelay = TRUE;
        setsockopt(Socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                   sizeof noDelay);
        // Non-blocking from here on; every wait is on the event.
        if (WSAEventSelect(Socket, Event, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) != 0) {
            last = {TNet::Failed, static_cast<uint32_t>(WSAGetLastError()), 0};
            Close();
            continue;
        }
        if (connect(Socket, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
            last = {TNet::Ok, 0, 0};
            break;
        }
        const int error = WSAGetLastError();
        if (!WouldBlock(error)) {
            last = {TNet::Failed, static_cast<uint32_t>(error), 0};
            Close();
            continue;
        }
        last = Wait(FD_CONNECT, abort, stallMs);
        if (last.Kind == TNet::Ok) break;
        Close();
        if (last.Kind == TNet::Aborted) break;
    }
    freeaddrinfo(found);
    return last;
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
