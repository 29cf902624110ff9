// The WinHTTP leg of http_stacks.
#include "HttpStacks.h"

#include <winhttp.h>

bool ViaWinHttp(const TTarget& t, TSink& sink, std::vector<char>& buffer) {
    const std::wstring host(t.Host.begin(), t.Host.end());
    const std::wstring path(t.Path.begin(), t.Path.end());
    HINTERNET s = WinHttpOpen(L"http_stacks", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    HINTERNET c = WinHttpConnect(s, host.c_str(), static_cast<INTERNET_PORT>(t.Port), 0);
    HINTERNET r = WinHttpOpenRequest(c, L"GET", path.c_str(), nullptr, nullptr, nullptr, 0);
    bool ok = r && WinHttpSendRequest(r, nullptr, 0, nullptr, 0, 0, 0) &&
              WinHttpReceiveResponse(r, nullptr);
    for (DWORD got = 0; ok;) {
        ok = WinHttpReadData(r, buffer.data(), static_cast<DWORD>(buffer.size()), &got) != 0;
        if (!ok || got == 0) break;
        ok = sink.Put(buffer.data(), got);
    }
    WinHttpCloseHandle(r);
    WinHttpCloseHandle(c);
    WinHttpCloseHandle(s);
    return ok;
}
