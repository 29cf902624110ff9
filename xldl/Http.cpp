#include "xldl/Http.h"

#include <wininet.h>

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
    INTERNET_BUFFERSA Read{}; // a pending read writes to it: it lives as long as the slot
    bool Pending = false;     // an operation is out in WinINet
    bool Abandoned = false;   // closed while pending: the callback frees it
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
    if (!HttpSendRequestA(Request, nullptr, 0, nullptr, 0)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            Slot->Pending = false;
            return {TNet::Failed, error, 0};
        }
        const TNetResult w = Wait(abort, stallMs);
        if (w.Kind != TNet::Ok) return w;
        if (!Slot->Result)
            return {TNet::Failed, Slot->Error ? Slot->Error : ERROR_INTERNET_INTERNAL_ERROR, 0};
    } else {
        Slot->Pending = false;
    }

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
    if (size > BufferSize) size = BufferSize;
    for (;;) {
        // Take as much as is at hand, up to the whole buffer, without waiting for more. Asked
        // first, before any query of what is available: such a query fills only WinINet's own
        // small buffer, and reads after it come in pieces of that size.
        INTERNET_BUFFERSA& buffers = Slot->Read;
        buffers = {};
        buffers.dwStructSize = sizeof buffers;
        buffers.lpvBuffer = Slot->Buffer.data();
        buffers.dwBufferLength = size;
        ResetEvent(Slot->Event);
        Slot->Pending = true;
        if (!InternetReadFileExA(Request, &buffers, IRF_NO_WAIT, Slot->Id)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                Slot->Pending = false;
                return {TNet::Failed, error, 0};
            }
            // Nothing at hand, and WinINet went on to wait for it (it does on some answers),
            // with no telling afterwards how much it wrote. Wait as for any bytes, so that a
            // pause is not taken for a failure and a stall is still noticed; then give the
            // connection up and let the caller resume where its bytes end.
            const TNetResult w = Wait(abort, stallMs);
            if (w.Kind != TNet::Ok) return w;
            return {TNet::Failed, ERROR_IO_PENDING, 0};
        }
        Slot->Pending = false;
        if (buffers.dwBufferLength > 0) return {TNet::Ok, 0, buffers.dwBufferLength};

        // Nothing at hand, or the end: ask what has arrived. When nothing has, WinINet
        // reports back once something does (or the body ends), and we wait for that on our
        // terms.
        ResetEvent(Slot->Event);
        Slot->Available = 0;
        Slot->Pending = true;
        if (!InternetQueryDataAvailable(Request, &Slot->Available, 0, 0)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                Slot->Pending = false;
                return {TNet::Failed, error, 0};
            }
            const TNetResult w = Wait(abort, stallMs);
            if (w.Kind != TNet::Ok) return w;
            if (!Slot->Result && Slot->Error) return {TNet::Failed, Slot->Error, 0};
            continue; // something arrived (or the end did): read it
        }
        Slot->Pending = false;
        if (Slot->Available == 0) return {TNet::Eof, 0, 0};
    }
}

} // namespace xldl
