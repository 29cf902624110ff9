#include "xldl/HttpsFirst.h"

#include "xldl/HttpConnection.h"
#include "xldl/Locked.h"
#include "xldl/Threads.h"
#include "xldl/Trace.h"
#include "xldl/core/Eyeballs.h"

namespace xldl {

struct THttpsFirst::TTry {
    THttpsFirst* Owner;
    size_t Index;
    TUrl Twin;
    TProxyRouter* Proxies;
    uint32_t AttemptDelayMs;
    HANDLE Reached = nullptr; // its port answered: a handshake is under way
    HANDLE Thread = nullptr;
    bool Up = false;       // guarded by the owner's lock, as is what follows
    bool Reported = false; // its twin was told: in what Found gave, or to Late
};

unsigned __stdcall THttpsFirst::TryMain(void* argument) {
    auto& t = *static_cast<TTry*>(argument);
    THttpsFirst& owner = *t.Owner;
    const DWORD start = GetTickCount();
    // A proxy that asks for a password the system does not have ends the try: the plain
    // transfer asks the user, once.
    THttpConnection c(t.Twin, *t.Proxies,
                      TConnectOptions{t.AttemptDelayMs, nullptr, -1, false, t.Reached});
    const TNetResult r = c.Open(owner.Stop, HttpsFirstMs);
    const bool up = r.Kind == TNet::Ok;
    if (Tracing())
        Trace("https first: %s %s after %lu ms%s", FormatUrl(t.Twin).c_str(),
              up ? "answers over TLS" : "not used", static_cast<unsigned long>(GetTickCount() - start),
              up ? ""
                 : (" (kind " + std::to_string(static_cast<int>(r.Kind)) + ", error " +
                    std::to_string(r.Error) + ", certificate " +
                    std::to_string(c.CertificateStatus()) + "): plain http")
                       .c_str());
    {
        TLocked l(owner.Lock);
        t.Up = up;
        // Late, and still wanted: the mirror's requests go there from now on. Called under the
        // lock, so that OnLate never returns while a call is under way.
        if (up && owner.Late) {
            t.Reported = true;
            owner.Late(t.Index, t.Twin);
        }
    }
    InterlockedDecrement(&LiveThreads);
    return 0;
}

TUrl HttpsTwin(const TUrl& url, uint16_t port) {
    TUrl twin = url;
    twin.Secure = true;
    twin.Port = port;
    return twin;
}

THttpsFirst::THttpsFirst(const std::vector<TUrl>& urls, const TSettings& settings,
                         TProxyRouter& proxies, HANDLE abort)
    : Stop(CreateEventA(nullptr, TRUE, FALSE, nullptr)), Tries(urls.size()),
      Started(GetTickCount()) {
    InitializeCriticalSection(&Lock);
    if (!Stop) return;
    for (size_t i = 0; i < urls.size(); ++i) {
        const uint16_t port = urls[i].Secure ? 0 : HttpsPortFor(settings, urls[i].Port);
        if (!port) continue;
        Tries[i].reset(
            new TTry{this, i, HttpsTwin(urls[i], port), &proxies, settings.AttemptDelayMs});
        Tries[i]->Reached = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (Tries[i]->Reached) Tries[i]->Thread = StartThread(TryMain, Tries[i].get());
        if (!Tries[i]->Thread) {
            if (Tries[i]->Reached) CloseHandle(Tries[i]->Reached);
            Tries[i].reset();
        }
    }
    Abort = abort;
}

THttpsFirst::~THttpsFirst() {
    OnLate(nullptr);
    // Whatever is still trying is of no more use: every wait of a connection ends on Stop.
    if (Stop) SetEvent(Stop);
    for (const auto& t : Tries)
        if (t) {
            WaitForSingleObject(t->Thread, INFINITE);
            CloseHandle(t->Thread);
            CloseHandle(t->Reached);
        }
    if (Stop) CloseHandle(Stop);
    DeleteCriticalSection(&Lock);
}

std::vector<std::optional<TUrl>> THttpsFirst::Found(uint32_t ms) {
    for (const auto& t : Tries) {
        if (!t) continue;
        for (;;) {
            const bool reached = WaitForSingleObject(t->Reached, 0) == WAIT_OBJECT_0;
            const uint32_t left = HttpsWaitLeftMs(reached, GetTickCount() - Started, ms, HttpsFirstMs);
            if (!left) break;
            std::vector<HANDLE> handles{t->Thread};
            if (Abort) handles.push_back(Abort);
            if (!reached) handles.push_back(t->Reached);
            const DWORD w = WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                   handles.data(), FALSE, left);
            if (w == WAIT_TIMEOUT) continue;
            // Ended, or stopped: nothing more to wait for. The port answering: a longer wait.
            if (w - WAIT_OBJECT_0 >= handles.size() || handles[w - WAIT_OBJECT_0] != t->Reached)
                break;
        }
    }
    std::vector<std::optional<TUrl>> found(Tries.size());
    TLocked l(Lock);
    for (size_t i = 0; i < Tries.size(); ++i)
        if (Tries[i] && Tries[i]->Up) {
            Tries[i]->Reported = true;
            found[i] = Tries[i]->Twin;
        }
    return found;
}

void THttpsFirst::OnLate(TLate late) {
    TLocked l(Lock);
    Late = std::move(late);
    // What came up since Found is late too.
    for (const auto& t : Tries)
        if (Late && t && t->Up && !t->Reported) {
            t->Reported = true;
            Late(t->Index, t->Twin);
        }
}

} // namespace xldl
