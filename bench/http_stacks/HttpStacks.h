// What the stacks of http_stacks share: where to fetch from, and where the bytes go.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

struct TTarget {
    std::string Host;
    int Port = 80;
    std::string Path;
};

class TSink {
public:
    explicit TSink(const char* path) {
        if (path && std::strcmp(path, "-") != 0)
            File = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    }
    ~TSink() {
        if (File != INVALID_HANDLE_VALUE) CloseHandle(File);
    }
    TSink(const TSink&) = delete;
    TSink& operator=(const TSink&) = delete;
    bool Put(const void* data, DWORD size) {
        Bytes += size;
        DWORD written = 0;
        return File == INVALID_HANDLE_VALUE ||
               (WriteFile(File, data, size, &written, nullptr) && written == size);
    }
    unsigned long long Bytes = 0;

private:
    HANDLE File = INVALID_HANDLE_VALUE;
};

// WinHTTP, apart: its header and WinINet's cannot meet in one file.
bool ViaWinHttp(const TTarget& t, TSink& sink, std::vector<char>& buffer);
// Our engine's own client (xldl/HttpConnection), one connection, one request.
bool ViaXldl(const TTarget& t, TSink& sink);
