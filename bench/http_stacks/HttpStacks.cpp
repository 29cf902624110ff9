// http_stacks: one plain GET of a URL through one of Windows' HTTP stacks, the body written to
// a file (or dropped), timed. It tells what each layer costs under Wine, apart from our engine:
//
//   http_stacks STACK URL [OUT-FILE|-] [--read KIB]
//     STACK  wininet        WinINet, blocking InternetReadFile
//            wininet-async  WinINet in asynchronous mode, InternetReadFileEx, waiting on events
//            winhttp        WinHTTP, blocking WinHttpReadData
//            winsock        a socket and a hand-written request, blocking recv
//            xldl           our engine's HTTP client alone (one connection)
//     --read the size of each read (1024 KiB)
//
// Prints "STACK BYTES SECONDS"; exit code 0 when the body came to its end.
#include "HttpStacks.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool Split(const std::string& url, TTarget& t) {
    if (url.rfind("http://", 0) != 0) return false;
    const std::string rest = url.substr(7);
    const size_t slash = rest.find('/');
    std::string hostPort = rest.substr(0, slash);
    t.Path = slash == std::string::npos ? "/" : rest.substr(slash);
    const size_t colon = hostPort.find(':');
    t.Host = hostPort.substr(0, colon);
    if (colon != std::string::npos) t.Port = std::atoi(hostPort.c_str() + colon + 1);
    return true;
}

bool ViaWinInet(const TTarget& t, TSink& sink, std::vector<char>& buffer) {
    HINTERNET net = InternetOpenA("http_stacks", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET con = InternetConnectA(net, t.Host.c_str(), static_cast<INTERNET_PORT>(t.Port),
                                     nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET req = HttpOpenRequestA(con, "GET", t.Path.c_str(), "HTTP/1.1", nullptr, nullptr,
                                     INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    bool ok = req && HttpSendRequestA(req, nullptr, 0, nullptr, 0);
    for (DWORD got = 0; ok;) {
        ok = InternetReadFile(req, buffer.data(), static_cast<DWORD>(buffer.size()), &got) != 0;
        if (!ok || got == 0) break;
        ok = sink.Put(buffer.data(), got);
    }
    InternetCloseHandle(req);
    InternetCloseHandle(con);
    InternetCloseHandle(net);
    return ok;
}

HANDLE AsyncEvent;
void CALLBACK AsyncCallback(HINTERNET, DWORD_PTR, DWORD status, LPVOID, DWORD) {
    if (status == INTERNET_STATUS_REQUEST_COMPLETE) SetEvent(AsyncEvent);
}

bool ViaWinInetAsync(const TTarget& t, TSink& sink, std::vector<char>& buffer) {
    AsyncEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HINTERNET net = InternetOpenA("http_stacks", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr,
                                  INTERNET_FLAG_ASYNC);
    InternetSetStatusCallbackA(net, AsyncCallback);
    HINTERNET con = InternetConnectA(net, t.Host.c_str(), static_cast<INTERNET_PORT>(t.Port),
                                     nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1);
    HINTERNET req = HttpOpenRequestA(con, "GET", t.Path.c_str(), "HTTP/1.1", nullptr, nullptr,
                                     INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 1);
    bool ok = req != nullptr;
    if (ok && !HttpSendRequestA(req, nullptr, 0, nullptr, 0)) {
        ok = GetLastError() == ERROR_IO_PENDING &&
             WaitForSingleObject(AsyncEvent, INFINITE) == WAIT_OBJECT_0;
    }
    while (ok) {
        INTERNET_BUFFERSA b{};
        b.dwStructSize = sizeof b;
        b.lpvBuffer = buffer.data();
        b.dwBufferLength = static_cast<DWORD>(buffer.size());
        if (!InternetReadFileExA(req, &b, 0, 1)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                ok = false;
                break;
            }
            WaitForSingleObject(AsyncEvent, INFINITE);
        }
        if (b.dwBufferLength == 0) break;
        ok = sink.Put(buffer.data(), b.dwBufferLength);
    }
    InternetCloseHandle(req);
    InternetCloseHandle(con);
    InternetCloseHandle(net);
    return ok;
}

// Just enough HTTP for a plain 200 with a Content-Length, from a server we control.
bool ViaWinsock(const TTarget& t, TSink& sink, std::vector<char>& buffer) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(t.Host.c_str(), std::to_string(t.Port).c_str(), &hints, &found)) return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    bool ok = connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0;
    freeaddrinfo(found);
    const std::string request =
        "GET " + t.Path + " HTTP/1.1\r\nHost: " + t.Host + "\r\nConnection: close\r\n\r\n";
    ok = ok && send(s, request.data(), static_cast<int>(request.size()), 0) ==
                   static_cast<int>(request.size());
    std::string head;
    long long left = -1;
    while (ok) {
        const int got = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0);
        if (got <= 0) {
            ok = got == 0 && left <= 0;
            break;
        }
        const char* data = buffer.data();
        int size = got;
        if (left < 0) {
            head.append(data, static_cast<size_t>(size));
            const size_t end = head.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            const size_t at = head.find("Content-Length:");
            left = at == std::string::npos ? (1LL << 62) : std::atoll(head.c_str() + at + 15);
            const size_t body = end + 4;
            const std::string first = head.substr(body);
            ok = sink.Put(first.data(), static_cast<DWORD>(first.size()));
            left -= static_cast<long long>(first.size());
        } else {
            ok = sink.Put(data, static_cast<DWORD>(size));
            left -= size;
        }
        if (left == 0) break;
    }
    closesocket(s);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: http_stacks STACK URL [OUT-FILE|-] [--read KIB]\n");
        return 2;
    }
    const std::string stack = argv[1];
    TTarget target;
    if (!Split(argv[2], target)) return 2;
    const char* out = argc > 3 && std::strncmp(argv[3], "--", 2) != 0 ? argv[3] : "-";
    size_t readKib = 1024;
    for (int i = 3; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--read") == 0) readKib = std::strtoul(argv[i + 1], nullptr, 10);
    std::vector<char> buffer(readKib * 1024);
    TSink sink(out);
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    bool ok;
    if (stack == "wininet")
        ok = ViaWinInet(target, sink, buffer);
    else if (stack == "wininet-async")
        ok = ViaWinInetAsync(target, sink, buffer);
    else if (stack == "winhttp")
        ok = ViaWinHttp(target, sink, buffer);
    else if (stack == "winsock")
        ok = ViaWinsock(target, sink, buffer);
    else if (stack == "xldl")
        ok = ViaXldl(target, sink);
    else
        return 2;
    QueryPerformanceCounter(&b);
    std::printf("%s %llu %.3f\n", stack.c_str(), sink.Bytes,
                static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart));
    return ok ? 0 : 1;
}
