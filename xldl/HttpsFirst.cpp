#include "xldl/HttpsFirst.h"

#include "xldl/HttpConnection.h"
#include "xldl/Threads.h"
#include "xldl/Trace.h"

#include <memory>

namespace xldl {

namespace {

struct TTry {
    TUrl Twin;
    TProxyRouter* Proxies;
    uint32_t AttemptDelayMs;
    HANDLE Stop; // the task's abort, or the end of the time allowed
    TNetResult Result{TNet::Failed, 0, 0};
    uint32_t CertificateStatus = 0;
    DWORD Took = 0;
};

unsigned __stdcall TryMain(void* argument) {
    auto& t = *static_cast<TTry*>(argument);
    const DWORD start = GetTickCount();
    THttpConnection c(t.Twin, *t.Proxies, TConnectOptions{t.AttemptDelayMs, nullptr, -1});
    t.Result = c.Open(t.Stop, HttpsFirstMs);
    t.CertificateStatus = c.CertificateStatus();
    t.Took = GetTickCount() - start;
    InterlockedDecrement(&LiveThreads);
    return 0;
}

} // namespace

TUrl HttpsTwin(const TUrl& url, uint16_t port) {
    TUrl twin = url;
    twin.Secure = true;
    twin.Port = port;
    return twin;
}

std::vector<std::optional<TUrl>> TryHttpsFirst(const std::vector<TUrl>& urls,
                                               const TSettings& settings, TProxyRouter& proxies,
                                               HANDLE abort) {
    std::vector<std::optional<TUrl>> found(urls.size());
    const HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!stop) return found;
    std::vector<std::unique_ptr<TTry>> tries(urls.size());
    std::vector<HANDLE> threads(urls.size());
    for (size_t i = 0; i < urls.size(); ++i) {
        const uint16_t port = urls[i].Secure ? 0 : HttpsPortFor(settings, urls[i].Port);
        if (!port) continue;
        tries[i] = std::make_unique<TTry>(
            TTry{HttpsTwin(urls[i], port), &proxies, settings.AttemptDelayMs, stop});
        threads[i] = StartThread(TryMain, tries[i].get());
    }
    const DWORD start = GetTickCount();
    for (const HANDLE thread : threads) {
        if (!thread) continue;
        const DWORD spent = GetTickCount() - start;
        const HANDLE both[2] = {thread, abort};
        WaitForMultipleObjects(abort ? 2 : 1, both, FALSE,
                               spent < HttpsFirstMs ? HttpsFirstMs - spent : 0);
    }
    // Whatever is still trying has had its time: every wait of a connection ends on `stop`.
    SetEvent(stop);
    for (size_t i = 0; i < threads.size(); ++i) {
        if (!threads[i]) continue;
        WaitForSingleObject(threads[i], INFINITE);
        CloseHandle(threads[i]);
        const TTry& t = *tries[i];
        const bool ok = t.Result.Kind == TNet::Ok;
        if (ok) found[i] = t.Twin;
        if (Tracing())
            Trace("https first: %s %s after %lu ms%s", FormatUrl(t.Twin).c_str(),
                  ok ? "answers over TLS" : "not used", static_cast<unsigned long>(t.Took),
                  ok ? ""
                     : (" (kind " + std::to_string(static_cast<int>(t.Result.Kind)) + ", error " +
                        std::to_string(t.Result.Error) + ", certificate " +
                        std::to_string(t.CertificateStatus) + "): plain http")
                           .c_str());
    }
    CloseHandle(stop);
    return found;
}

} // namespace xldl
