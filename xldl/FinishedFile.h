// A download finished earlier, kept so that it is not fetched again: beside the file, a record
// ("NAME.done", the format of xldl/core/Confirmation.h) of what it is, where it was found, its
// validators, its length and the SHA-256 of its bytes. A later task for the same URL and name
// takes the file as finished only when the file still has exactly those bytes and the server
// confirms, in one small conditional request, that it still has the same file; else the
// download runs as always.
#pragma once

#include "xldl/ProxyRouter.h"
#include "xldl/core/ProxyRules.h"
#include "xldl/core/Settings.h"
#include "xldl/core/StateFile.h"
#include "xldl/core/Url.h"

#include <windows.h>

#include <array>
#include <optional>
#include <string>

namespace xldl {

class TFinishedFile {
public:
    // The file `target`, downloaded from `url` under the name `name` (UTF-8).
    // Records are sealed, and read, with `seal`.
    TFinishedFile(std::wstring target, std::string url, std::string name, TSeal seal);

    // The record, when it is whole, about this URL and name, and the file under the target
    // name has the recorded length and SHA-256 (all of it is read; nothing when `abort` is
    // set meanwhile). A record that does not describe the file is removed.
    std::optional<TSavedState> Local(HANDLE abort);
    // Whether the server still has the file `record` describes: the question goes to `url`,
    // follows redirects (never from https to http) and gets no second try.
    bool Confirmed(const TSavedState& record, TUrl url, const TSettings& settings,
                   TProxyRouter& proxies, HANDLE abort);
    // Records the file now under the target name: found at `location`, `total` bytes, with the
    // server's `validator`. Reads the file for its SHA-256 unless `sha256` is given (a digest
    // the server advertised and the bytes matched). False when it could not be recorded.
    bool Record(const std::string& location, int64_t total, const std::string& validator,
                const std::optional<std::array<uint8_t, 32>>& sha256, HANDLE abort);
    // No record any more.
    void Forget();

private:
    const std::wstring Target;
    const std::wstring RecordPath;
    const std::string Url;
    const std::string Name;
    const TSeal Seal;
};

// The SHA-256 of the file at `path` (read shared, so a writer may hold it), or nothing when it
// cannot be read or `abort` is set.
std::optional<std::array<uint8_t, 32>> FileSha256(const std::wstring& path, HANDLE abort,
                                                  int64_t* size = nullptr);

} // namespace xldl
