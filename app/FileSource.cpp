#include "app/FileSource.h"

#include <cstring>
#include <vector>

namespace {

bool DiskFull(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

class THandle {
public:
    explicit THandle(HANDLE h) : Handle(h) {}
    ~THandle() {
        if (Handle != INVALID_HANDLE_VALUE) CloseHandle(Handle);
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    HANDLE Handle;
};

} // namespace

TFileCopy::TFileCopy(std::wstring source, std::wstring target)
    : FSource(std::move(source)), FTarget(std::move(target)), FPart(FTarget + L".copying") {}

TFileCopy::~TFileCopy() {
    FStop = true;
    if (!FThread) return;
    WaitForSingleObject(FThread, INFINITE);
    CloseHandle(FThread);
}

bool TFileCopy::Start() {
    FState = 2; // connecting, as the engine says while it waits for a first answer
    FThread = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    return FThread != nullptr;
}

void TFileCopy::Query(DownloadTaskInfo& info) const {
    std::memset(&info, 0, sizeof info);
    info.State = FState;
    info.TotalSize = FTotal;
    info.DoneSize = FDone;
    const uint32_t error = FError;
    std::memcpy(reinterpret_cast<uint8_t*>(&info) + InfoErrorOffset, &error, sizeof error);
}

DWORD WINAPI TFileCopy::ThreadMain(void* copy) {
    auto& c = *static_cast<TFileCopy*>(copy);
    const uint32_t error = c.Copy();
    if (error != ErrorNone) {
        DeleteFileW(c.FPart.c_str());
        c.FError = error;
    }
    c.FState = error == ErrorNone ? StateFinished : StateFailed;
    return 0;
}

uint32_t TFileCopy::Copy() {
    // Held against writers while it is read: what is copied is one version of the file.
    THandle source(CreateFileW(FSource.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (source.Handle == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_ACCESS_DENIED:
            return ErrorHttpStatus; // as a server that has no such file for us
        case ERROR_SHARING_VIOLATION:
            return ErrorInUse;
        default:
            return ErrorNetwork; // the share or the medium cannot be reached
        }
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(source.Handle, &size)) return ErrorNetwork;
    FTotal = size.QuadPart;
    FState = StateDownloading;
    {
        THandle part(CreateFileW(FPart.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (part.Handle == INVALID_HANDLE_VALUE) {
            const DWORD e = GetLastError();
            return e == ERROR_SHARING_VIOLATION ? ErrorInUse
                   : DiskFull(e)                ? ErrorDiskFull
                                                : ErrorFile;
        }
        std::vector<char> block(1 << 20);
        int64_t done = 0;
        while (done < size.QuadPart) {
            if (FStop) return ErrorNetwork;
            DWORD got = 0;
            if (!ReadFile(source.Handle, block.data(), static_cast<DWORD>(block.size()), &got,
                          nullptr))
                return ErrorNetwork;
            if (got == 0) return ErrorUnstable; // shorter than it was: changed meanwhile
            DWORD put = 0;
            if (!WriteFile(part.Handle, block.data(), got, &put, nullptr) || put != got)
                return DiskFull(GetLastError()) ? ErrorDiskFull : ErrorFile;
            done += got;
            FDone = done;
        }
    }
    if (MoveFileExW(FPart.c_str(), FTarget.c_str(), MOVEFILE_REPLACE_EXISTING)) return ErrorNone;
    return GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_ACCESS_DENIED
               ? ErrorInUse
               : ErrorRename;
}
