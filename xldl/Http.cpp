#include "xldl/Http.h"

#include <wininet.h>

#include <algorithm>
#include <map>
#include <vector>

namespace xldl {

// Each request has a slot that WinINet's completion callback finds by number (the request's
// context value), never by pointer: a callback may come after the request was closed. A slot
// closed with an operation pending is kept until that operation reports back, because WinINet
// still holds its address (the byte count of a pending query); if it never reports, the few
// bytes stay allocated rather than be written after being freed.
struct THttpRequest::TSlot {
    DWORD_PTR Id = 0;
    HANDLE Event = nullptr; // auto-reset: one completion
    DWORD Result = 0;
    DWORD Error = 0;
    DWORD Available = 0;
    INTERNET_BUFFERSA Buffers{}; // a read's buffer and, once it completes, its count
    bool Pending = false;        // an operation is out in WinINet
    bool Abandoned = false;      // closed while pending: the callback frees it
    std::vector<uint8_t> Buffer;
};

namespace {

CRITICAL_SECTION SlotLock;
std::map<DWORD_PTR, THttpRequest::TSlot*>* Slots;
DWORD_PTR NextSlotId = 1;
HINTERNET Session;

void FreeSlot(THttpRequest::TSlot* slot) {
    CloseHandle(slot->Event);
    delete slot;
}

void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    if (status != INTERNET_STATUS_REQUEST_COMPLETE || !context || !info) return;
    const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
    EnterCriticalSection(&SlotLock);
    const auto it = Slots->find(context);
    if (it != Slots->end()) {
        THttpRequest::TSlot* slot = it->second;
        if (slot->Abandoned) {
            Slots->erase(it);
            FreeSlot(slot);
        } else {
            slot->Result = static_cast<DWORD>(result->dwResult);
            slot->Error = result->dwError;
            SetEvent(slot->Event);
        }
    }
    LeaveCriticalSection(&SlotLock);
}

} // namespace

void HttpProcessAttach() {
    InitializeCriticalSection(&SlotLock);
    Slots = new std::map<DWORD_PTR, THttpRequest::TSlot*>;
}

bool HttpStartup(const std::optional<TProxy>& proxy) {
    if (proxy)
        Session = InternetOpenA("xldl/1.0", INTERNET_OPEN_TYPE_PROXY, proxy->Server.c_str(),
                                proxy->Bypass.empty() ? nullptr : proxy->Bypass.c_str(),
                                INTERNET_FLAG_ASYNC);
    else
        Session = InternetOpenA("xldl/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                INTERNET_FLAG_ASYNC);
    if (!Session) return false;
    if (InternetSetStatusCallbackA(Session, StatusCallback) == INTERNET_INVALID_STATUS_CALLBACK) {
        InternetCloseHandle(Session);
        Session = nullptr;
        return false;
    }
    // WinINet allows two connections per server by default; a task may use four. The
    // option is process-wide, and the process is ours.
    DWORD conns = 8;
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &conns, sizeof conns);
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &conns, sizeof conns);
    return true;
}

void HttpShutdown() {
    if (Session) InternetCloseHandle(Session);
    Session = nullptr;
}

bool IsTransientNetError(uint32_t error) {
    switch (error) {
    case ERROR_INTERNET_INVALID_URL:
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
        return false;
    default:
        return true;
    }
}

THttpRequest::THttpRequest() {
    Slot = new TSlot;
    Slot->Event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    Slot->Buffer.resize(BufferSize);
    EnterCriticalSection(&SlotLock);
    Slot->Id = NextSlotId++;
    (*Slots)[Slot->Id] = Slot;
    LeaveCriticalSection(&SlotLock);
}

THttpRequest::~THttpRequest() {
    Close();
    EnterCriticalSection(&SlotLock);
    if (Slot->Pending) {
        Slot->Abandoned = true;
    } else {
        Slots->erase(Slot->Id);
        FreeSlot(Slot);
    }
    LeaveCriticalSection(&SlotLock);
}

void THttpRequest::Close() {
    if (Request) InternetCloseHandle(Request);
    if (Connect) InternetCloseHandle(Connect);
    Request = Connect = nullptr;
}

const uint8_t* THttpRequest::Data() const {
    return Slot->Buffer.data();
}

TNetResult THttpRequest::Wait(HANDLE abort, uint32_t stallMs) {
    const HANDLE handles[2] = {Slot->Event, abort};
    const DWORD w = WaitForMultipleObjects(abort ? 2 : 1, handles, FALSE, stallMs);
    if (w == WAIT_OBJECT_0) {
        EnterCriticalSection(&SlotLock);
        Slot->Pending = false;
        LeaveCriticalSection(&SlotLock);
        return {TNet::Ok, 0, 0};
    }
    if (w == WAIT_OBJECT_0 + 1) return {TNet::Aborted, 0, 0};
    return {TNet::Stalled, 0, 0};
}

TNetResult THttpRequest::Complete(bool done, HANDLE abort, uint32_t stallMs) {
    if (done) {
        Slot->Pending = false;
        return {TNet::Ok, 0, 0};
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        Slot->Pending = false;
        return {TNet::Failed, error, 0};
    }
    const TNetResult w = Wait(abort, stallMs);
    if (w.Kind != TNet::Ok) return w;
    if (!Slot->Result)
        return {TNet::Failed, Slot->Error ? Slot->Error : ERROR_INTERNET_INTERNAL_ERROR, 0};
    return {TNet::Ok, 0, 0};
}

TNetResult THttpRequest::Send(const TUrl& url, const std::string& headers, HANDLE abort,
                              uint32_t stallMs) {
    Close();
    Response = {};
    if (Slot->Pending) {
        // The last operation never reported back: leave its slot to it, take a fresh one.
        TSlot* fresh = new TSlot;
        fresh->Event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        fresh->Buffer.resize(BufferSize);
        EnterCriticalSection(&SlotLock);
        Slot->Abandoned = true;
        fresh->Id = NextSlotId++;
        (*Slots)[fresh->Id] = fresh;
        LeaveCriticalSection(&SlotLock);
        Slot = fresh;
    }
    if (!Session) return {TNet::Failed, ERROR_INTERNET_NOT_INITIALIZED, 0};
    Connect = InternetConnectA(Session, url.Host.c_str(), url.Port, nullptr, nullptr,
                               INTERNET_SERVICE_HTTP, 0, 0);
    if (!Connect) return {TNet::Failed, GetLastError(), 0};
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                  INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                  INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_KEEP_CONNECTION;
    if (url.Secure) flags |= INTERNET_FLAG_SECURE;
    Request = HttpOpenRequestA(Connect, "GET", url.Target.c_str(), "HTTP/1.1", nullptr, nullptr,
                               flags, Slot->Id);
    if (!Request) return {TNet::Failed, GetLastError(), 0};
    if (!headers.empty() &&
        !HttpAddRequestHeadersA(Request, headers.c_str(), static_cast<DWORD>(headers.size()),
                                HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE))
        return {TNet::Failed, GetLastError(), 0};

    ResetEvent(Slot->Event);
    Slot->Pending = true;
    const TNetResult sent =
        Complete(HttpSendRequestA(Request, nullptr, 0, nullptr, 0) != FALSE, abort, stallMs);
    if (sent.Kind != TNet::Ok) return sent;

    // The head is in WinINet's hands now; reading it does not touch the network.
    DWORD size = 0;
    HttpQueryInfoA(Request, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr);
    std::string raw(size + 1, '\0');
    if (size && HttpQueryInfoA(Request, HTTP_QUERY_RAW_HEADERS_CRLF, raw.data(), &size, nullptr)) {
        raw.resize(size);
        Response = ParseHeaderBlock(raw);
    }
    if (Response.Status == 0) {
        DWORD status = 0, statusSize = sizeof status;
        if (HttpQueryInfoA(Request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                           &statusSize, nullptr))
            Response.Status = static_cast<int>(status);
    }
    if (Response.Status == 0) return {TNet::Failed, ERROR_HTTP_INVALID_SERVER_RESPONSE, 0};
    return {TNet::Ok, 0, 0};
}

TNetResult THttpRequest::Read(uint32_t size, HANDLE abort, uint32_t stallMs) {
    if (!Request) return {TNet::Failed, ERROR_INVALID_HANDLE, 0};
    // A read that has to wait completes only once its whole buffer is filled (or the body
    // ends), so it asks for about a quarter second's worth: large on a fast connection, small
    // on a slow one, where a large one would hold the progress back and look like a stall.
    const uint32_t want = std::min({size, BufferSize, ReadSize});
    Slot->Buffers = {};
    Slot->Buffers.dwStructSize = sizeof Slot->Buffers;
    Slot->Buffers.lpvBuffer = Slot->Buffer.data();
    Slot->Buffers.dwBufferLength = want;
    ResetEvent(Slot->Event);
    Slot->Pending = true;
    const DWORD start = GetTickCount();
    // Aborted or stalled, the read stays out with the slot and its buffer, which the next
    // request leaves to it.
    const TNetResult read = Complete(
        InternetReadFileExA(Request, &Slot->Buffers, 0, Slot->Id) != FALSE, abort, stallMs);
    if (read.Kind != TNet::Ok) return read;
    const DWORD got = Slot->Buffers.dwBufferLength;
    if (got == 0) return {TNet::Eof, 0, 0};
    const DWORD took = GetTickCount() - start;
    if (got == want && took < 100)
        ReadSize = std::min(BufferSize, ReadSize * 2);
    else if (took > 400)
        ReadSize = std::max(MinReadSize, ReadSize / 2);
    return {TNet::Ok, 0, got};
}

} // namespace xldl
