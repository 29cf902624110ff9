#include "xldl/NameLookup.h"

#include "xldl/Trace.h"
#include "xldl/core/Text.h"

#include <ws2tcpip.h>

#include <cstring>
#include <map>

namespace xldl {

namespace {

struct TLookup {
    std::string Host;
    HANDLE Done = nullptr; // manual reset: Error and Found are final
    HMODULE Module = nullptr;
    volatile LONG Refs = 2; // the thread's and its first waiter's
    int Error = 0;
    std::vector<TEndpoint> Found; // port 0
};

SRWLOCK Lock = SRWLOCK_INIT; // guards UnderWay()

// Never destroyed: a lookup thread may still look at it while the process ends.
std::map<std::string, TLookup*>& UnderWay() {
    static auto* lookups = new std::map<std::string, TLookup*>;
    return *lookups;
}

void Release(TLookup* lookup) {
    if (InterlockedDecrement(&lookup->Refs) != 0) return;
    CloseHandle(lookup->Done);
    delete lookup;
}

void Forget(TLookup* lookup) {
    AcquireSRWLockExclusive(&Lock);
    auto& lookups = UnderWay();
    const auto it = lookups.find(lookup->Host);
    if (it != lookups.end() && it->second == lookup) lookups.erase(it);
    ReleaseSRWLockExclusive(&Lock);
}

addrinfo StreamHints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    return hints;
}

void Collect(const addrinfo* list, std::vector<TEndpoint>& found) {
    for (const addrinfo* a = list; a; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) || !a->ai_addr ||
            a->ai_addrlen > sizeof(SOCKADDR_STORAGE))
            continue;
        TEndpoint e;
        std::memcpy(&e.Address, a->ai_addr, a->ai_addrlen);
        e.Length = static_cast<int>(a->ai_addrlen);
        found.push_back(e);
    }
}

void SetPort(std::vector<TEndpoint>& found, uint16_t port) {
    for (TEndpoint& e : found) {
        if (e.Address.ss_family == AF_INET)
            reinterpret_cast<sockaddr_in&>(e.Address).sin_port = htons(port);
        else
            reinterpret_cast<sockaddr_in6&>(e.Address).sin6_port = htons(port);
    }
}

DWORD WINAPI LookupMain(void* argument) {
    auto* lookup = static_cast<TLookup*>(argument);
    const HMODULE module = lookup->Module;
    const uint64_t start = GetTickCount64();
    WSADATA data;
    int error = WSAStartup(MAKEWORD(2, 2), &data);
    if (error == 0) {
        const addrinfo hints = StreamHints(0);
        addrinfo* list = nullptr;
        error = getaddrinfo(lookup->Host.c_str(), nullptr, &hints, &list);
        if (error == 0) {
            Collect(list, lookup->Found);
            freeaddrinfo(list);
        }
        WSACleanup();
    }
    lookup->Error = error;
    if (Tracing())
        Trace("lookup %s: %u addresses, error %d, after %llu ms", lookup->Host.c_str(),
              static_cast<unsigned>(lookup->Found.size()), error,
              static_cast<unsigned long long>(GetTickCount64() - start));
    // A later caller must start afresh rather than take this answer, which may be a failure.
    Forget(lookup);
    SetEvent(lookup->Done);
    Release(lookup);
    FreeLibraryAndExitThread(module, 0);
}

// Starts `lookup`'s thread: false (with Error set) when it cannot run.
bool StartLookup(TLookup* lookup) {
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&LookupMain), &lookup->Module)) {
        lookup->Error = static_cast<int>(GetLastError());
        return false;
    }
    const HANDLE thread = CreateThread(nullptr, 0, LookupMain, lookup, 0, nullptr);
    if (!thread) {
        lookup->Error = static_cast<int>(GetLastError());
        FreeLibrary(lookup->Module);
        return false;
    }
    CloseHandle(thread);
    return true;
}

} // namespace

TNetResult LookUpHost(const std::string& host, uint16_t port, HANDLE abort, uint32_t waitMs,
                      std::vector<TEndpoint>& found) {
    found.clear();
    const addrinfo numeric = StreamHints(AI_NUMERICHOST);
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &numeric, &list) == 0) {
        Collect(list, found);
        freeaddrinfo(list);
        SetPort(found, port);
        if (found.empty()) return {TNet::Failed, static_cast<uint32_t>(WSAHOST_NOT_FOUND), 0};
        return {TNet::Ok, 0, 0};
    }

    const std::string key = LowerText(host);
    TLookup* lookup = nullptr;
    bool start = false;
    AcquireSRWLockExclusive(&Lock);
    auto& lookups = UnderWay();
    if (const auto it = lookups.find(key); it != lookups.end()) {
        lookup = it->second;
        InterlockedIncrement(&lookup->Refs);
    } else {
        lookup = new TLookup;
        lookup->Host = key;
        lookup->Done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (lookup->Done) {
            lookups[key] = lookup;
            start = true;
        }
    }
    ReleaseSRWLockExclusive(&Lock);
    if (!lookup->Done) {
        const auto error = static_cast<uint32_t>(GetLastError());
        delete lookup;
        return {TNet::Failed, error, 0};
    }
    if (start && !StartLookup(lookup)) {
        Forget(lookup);
        SetEvent(lookup->Done);
        Release(lookup); // the thread's
    }

    const HANDLE handles[2] = {lookup->Done, abort};
    const DWORD w = WaitForMultipleObjects(abort ? 2 : 1, handles, FALSE, waitMs);
    TNetResult r{TNet::Failed, 0, 0};
    if (w == WAIT_OBJECT_0) {
        if (lookup->Error == 0) found = lookup->Found;
        SetPort(found, port);
        if (lookup->Error != 0)
            r.Error = static_cast<uint32_t>(lookup->Error);
        else if (found.empty())
            r.Error = static_cast<uint32_t>(WSAHOST_NOT_FOUND);
        else
            r.Kind = TNet::Ok;
    } else if (w == WAIT_OBJECT_0 + 1) {
        r.Kind = TNet::Aborted;
    } else if (w == WAIT_TIMEOUT) {
        r.Kind = TNet::Stalled;
    } else {
        r.Error = GetLastError();
    }
    Release(lookup);
    return r;
}

std::string EndpointText(const TEndpoint& endpoint) {
    char text[64];
    DWORD size = sizeof text;
    SOCKADDR_STORAGE address = endpoint.Address;
    if (WSAAddressToStringA(reinterpret_cast<sockaddr*>(&address), endpoint.Length, nullptr, text,
                            &size) != 0)
        return "?";
    return text;
}

} // namespace xldl
