#include "xldl/Files.h"

#include "xldl/core/Hashes.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace xldl {

DWORD TPartFile::Open(const std::wstring& path) {
    Close();
    // No write sharing: two writers never share one partial, in this process or another.
    File = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return File == INVALID_HANDLE_VALUE ? GetLastError() : 0;
}

DWORD TPartFile::SetSize(int64_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = size;
    if (!SetFilePointerEx(File, at, nullptr, FILE_BEGIN) || !SetEndOfFile(File))
        return GetLastError();
    return 0;
}

DWORD TPartFile::Flush() {
    return FlushFileBuffers(File) ? 0 : GetLastError();
}

DWORD TPartFile::WriteAt(int64_t offset, const void* data, uint32_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
        at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
        DWORD written = 0;
        if (!WriteFile(File, p, size, &written, &at)) return GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        p += written;
        offset += written;
        size -= written;
    }
    return 0;
}

DWORD TPartFile::ReadAt(int64_t offset, void* data, uint32_t size) const {
    auto* p = static_cast<uint8_t*>(data);
    while (size) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
        at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
        DWORD got = 0;
        if (!ReadFile(File, p, size, &got, &at)) return GetLastError();
        if (got == 0) return ERROR_HANDLE_EOF;
        p += got;
        offset += got;
        size -= got;
    }
    return 0;
}

DWORD TPartFile::Truncate() {
    return SetSize(0);
}

int64_t TPartFile::Size() const {
    LARGE_INTEGER size{};
    return GetFileSizeEx(File, &size) ? size.QuadPart : -1;
}

bool TPartFile::Matches(const TDigest& digest, HANDLE abort, bool& aborted, DWORD& error) const {
    const auto got = Hash(digest.Kind, abort, aborted, error);
    return got && got->Bytes == digest.Bytes;
}

std::optional<TDigest> TPartFile::Hash(TDigestKind kind, HANDLE abort, bool& aborted,
                                       DWORD& error) const {
    aborted = false;
    error = 0;
    if (kind == TDigestKind::None) return std::nullopt;
    TSha256 sha;
    TMd5 md5;
    std::vector<uint8_t> buffer(1 << 20);
    int64_t offset = 0;
    for (;;) {
        if (WaitForSingleObject(abort, 0) == WAIT_OBJECT_0) {
            aborted = true;
            return std::nullopt;
        }
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
        at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
        DWORD got = 0;
        if (!ReadFile(File, buffer.data(), static_cast<DWORD>(buffer.size()), &got, &at)) {
            error = GetLastError();
            if (error != ERROR_HANDLE_EOF) return std::nullopt;
            error = 0;
            got = 0;
        }
        if (got == 0) break;
        if (kind == TDigestKind::Sha256)
            sha.Update(buffer.data(), got);
        else
            md5.Update(buffer.data(), got);
        offset += got;
    }
    TDigest d;
    d.Kind = kind;
    if (kind == TDigestKind::Sha256) {
        const auto h = sha.Final();
        d.Bytes.assign(h.begin(), h.end());
    } else {
        const auto h = md5.Final();
        d.Bytes.assign(h.begin(), h.end());
    }
    return d;
}

void TPartFile::Close() {
    if (File != INVALID_HANDLE_VALUE) CloseHandle(File);
    File = INVALID_HANDLE_VALUE;
}

int64_t FreeBytes(const std::wstring& folder) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return -1;
    return available.QuadPart > static_cast<uint64_t>(INT64_MAX)
               ? INT64_MAX
               : static_cast<int64_t>(available.QuadPart);
}

DWORD MoveIntoPlace(const std::wstring& from, const std::wstring& to, uint32_t waitMs, HANDLE abort,
                    const std::function<DWORD(const std::function<DWORD()>&)>& attempt) {
    const DWORD start = GetTickCount();
    DWORD pause = 50;
    const auto move = [&]() -> DWORD {
        return MoveFileExW(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                   ? 0
                   : GetLastError();
    };
    for (;;) {
        const DWORD error = attempt(move);
        if (!error) return 0;
        const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                          error == ERROR_LOCK_VIOLATION;
        if (!busy || GetTickCount() - start >= waitMs) return error;
        if (WaitForSingleObject(abort, pause) == WAIT_OBJECT_0) return ERROR_OPERATION_ABORTED;
        pause = std::min<DWORD>(pause * 2, 500);
    }
}

bool IsDiskFull(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

std::string Utf8Name(const std::wstring& name) {
    if (name.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), s.data(), n,
                        nullptr, nullptr);
    return s;
}

std::optional<std::string> ReadSmallFile(const std::wstring& path, size_t limit) {
    const HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string text(limit + 1, '\0');
    DWORD got = 0;
    const BOOL ok = ReadFile(f, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
    CloseHandle(f);
    if (!ok || got > limit) return std::string(); // unreadable: as good as damaged
    text.resize(got);
    return text;
}

bool ReplaceSmallFile(const std::wstring& path, const std::string& text) {
    const std::wstring fresh = path + L".new";
    const HANDLE f = CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && FlushFileBuffers(f);
    CloseHandle(f);
    if (ok && MoveFileExW(fresh.c_str(), path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(fresh.c_str());
    return false;
}

} // namespace xldl
