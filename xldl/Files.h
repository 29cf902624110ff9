// The engine's side of the disk: the temporary file beside the target, written at any offset
// by several connections, checked at the end, then moved over the final name.
#pragma once

#include "xldl/core/HttpHeaders.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace xldl {

class TPartFile {
public:
    ~TPartFile() { Close(); }
    // Opens the file, creating it when missing, and keeps others from writing it while it is
    // open (ERROR_SHARING_VIOLATION when someone else has it); 0 or the system error.
    DWORD Open(const std::wstring& path);
    // Writes at `offset`; safe from several threads at once (each write names its offset).
    DWORD WriteAt(int64_t offset, const void* data, uint32_t size);
    // Reads exactly `size` bytes at `offset`; 0 or the system error (ERROR_HANDLE_EOF when
    // the file ends first). Safe beside writers of other offsets.
    DWORD ReadAt(int64_t offset, void* data, uint32_t size) const;
    DWORD Truncate();
    DWORD SetSize(int64_t size);
    int64_t Size() const;
    // Makes what was written durable (on the disk, not only in the system's cache).
    DWORD Flush();
    // Whether the file's bytes hash to `digest`; false also when reading fails or `abort`
    // is signalled (`aborted` tells which).
    bool Matches(const TDigest& digest, HANDLE abort, bool& aborted, DWORD& error) const;
    // The file's digest of `kind`; nothing when reading fails or `abort` is signalled.
    std::optional<TDigest> Hash(TDigestKind kind, HANDLE abort, bool& aborted, DWORD& error) const;
    void Close();
    bool IsOpen() const { return File != INVALID_HANDLE_VALUE; }

private:
    HANDLE File = INVALID_HANDLE_VALUE;
};

// Free bytes for the caller on the volume of `folder`; -1 when unknown.
int64_t FreeBytes(const std::wstring& folder);

// Moves `from` over `to`, replacing it; retries while the target is in use (open elsewhere,
// scanned by an antivirus) for up to `waitMs`. 0 or the last system error. The target is
// replaced whole or not at all. Each attempt goes through `attempt` (given the move, it
// returns 0 or the system error), so that a caller can make the move and what it means one
// step under a lock of its own.
DWORD MoveIntoPlace(const std::wstring& from, const std::wstring& to, uint32_t waitMs, HANDLE abort,
                    const std::function<DWORD(const std::function<DWORD()>&)>& attempt);

bool IsDiskFull(DWORD error);

// A file name as UTF-8, as the state file records it.
std::string Utf8Name(const std::wstring& name);
// The whole of a small file the engine keeps beside a download (a state, a record), or nothing
// when it is missing; empty when it cannot be read or is larger than `limit`.
std::optional<std::string> ReadSmallFile(const std::wstring& path, size_t limit);
// Replaces `path` whole with `text`: a new copy written and flushed, then renamed over the
// old one, so that a crash leaves the old file or the new one, never a mix.
bool ReplaceSmallFile(const std::wstring& path, const std::string& text);

} // namespace xldl
