// The leg of http_stacks that runs our engine's own HTTP client, apart from the engine.
#include "xldl/HttpConnection.h"

#include "HttpStacks.h"

bool ViaXldl(const TTarget& t, TSink& sink) {
    using namespace xldl;
    if (!NetStartup()) return false;
    const auto url = ParseUrl("http://" + t.Host + ":" + std::to_string(t.Port) + t.Path);
    if (!url) return false;
    THttpConnection c(*url, std::nullopt);
    const HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool ok = c.Request(*url, "", never, 30000).Kind == TNet::Ok &&
              c.ReadHead(never, 30000).Kind == TNet::Ok && c.Head().Status == 200;
    while (ok) {
        const uint8_t* data = nullptr;
        const TNetResult r = c.ReadBody(data, 1 << 20, never, 30000);
        if (r.Kind == TNet::Eof) break;
        ok = r.Kind == TNet::Ok && sink.Put(data, r.Bytes);
    }
    CloseHandle(never);
    NetShutdown();
    return ok;
}
