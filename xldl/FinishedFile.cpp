#include "xldl/FinishedFile.h"

#include "xldl/Files.h"
#include "xldl/HttpConnection.h"
#include "xldl/core/Confirmation.h"
#include "xldl/core/Hashes.h"

#include <algorithm>
#include <vector>

namespace xldl {

std::optional<std::array<uint8_t, 32>> FileSha256(const std::wstring& path, HANDLE abort,
                                                  int64_t* size) {
    const HANDLE f = CreateFileW(path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::nullopt;
    TSha256 sha;
    std::vector<uint8_t> buffer(1 << 20);
    int64_t read = 0;
    bool ok = true;
    while (ok) {
        if (WaitForSingleObject(abort, 0) == WAIT_OBJECT_0) {
            ok = false;
            break;
        }
        DWORD got = 0;
        if (!ReadFile(f, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        sha.Update(buffer.data(), got);
        read += got;
    }
    CloseHandle(f);
    if (!ok) return std::nullopt;
    if (size) *size = read;
    return sha.Final();
}

TFinishedFile::TFinishedFile(std::wstring target, std::string url, std::string name, TSeal seal)
    : Target(std::move(target)), RecordPath(Target + L".done"), Url(std::move(url)),
      Name(std::move(name)), Seal(std::move(seal)) {}

std::optional<TSavedState> TFinishedFile::Local(HANDLE abort) {
    if (Seal.Withheld) return std::nullopt; // nothing to judge it by this run: left as it is
    const auto text = ReadSmallFile(RecordPath, MaxStateBytes);
    if (!text) return std::nullopt;
    TStateProblem problem = TStateProblem::None;
    auto record = ParseState(*text, Url, Name, &problem, Seal);
    // Another URL's record still describes the file; it is simply not about this task.
    if (problem == TStateProblem::Foreign) return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA file{};
    const bool there = GetFileAttributesExW(Target.c_str(), GetFileExInfoStandard, &file) &&
                       !(file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    const int64_t length = int64_t{file.nFileSizeHigh} << 32 | file.nFileSizeLow;
    // Cheap tests first: most changed files have another length.
    if (!record || record->Digest.Kind != TDigestKind::Sha256 || !there ||
        length != record->Total) {
        Forget();
        return std::nullopt;
    }
    int64_t read = -1;
    const auto sha = FileSha256(Target, abort, &read);
    if (!sha) return std::nullopt; // unreadable now, or stopped: no verdict on the record
    if (read != record->Total ||
        !std::equal(sha->begin(), sha->end(), record->Digest.Bytes.begin())) {
        Forget();
        return std::nullopt;
    }
    // An older engine's record, believed once: from now on it is sealed.
    const std::string sealed = FormatState(*record, Seal);
    if (sealed != *text) ReplaceSmallFile(RecordPath, sealed);
    return record;
}

bool TFinishedFile::Confirmed(const TSavedState& record, TUrl url, const TSettings& settings,
                              TProxyRouter& proxies, HANDLE abort) {
    const std::string condition = ConfirmationHeaders(record);
    if (condition.empty()) return false;
    const std::string headers = "Accept: */*\r\n" + condition;
    for (uint32_t hops = 0; hops <= settings.MaxRedirects; ++hops) {
        THttpConnection connection(url, proxies);
        TNetResult r = connection.Request(url, headers, abort, settings.StallMs);
        if (r.Kind == TNet::Ok) r = connection.ReadHead(abort, settings.StallMs);
        if (r.Kind != TNet::Ok) return false;
        // The connection closes with the answer's body unread: one byte at most, or nothing.
        const TConfirmAnswer a = JudgeConfirmation(connection.Head(), record);
        if (a.Verdict != TConfirmation::Redirect) return a.Verdict == TConfirmation::Same;
        const auto next = ParseUrl(ResolveReference(FormatUrl(url), a.Location));
        if (!next || (url.Secure && !next->Secure)) return false;
        url = *next;
    }
    return false;
}

bool TFinishedFile::Record(const std::string& location, int64_t total, const std::string& validator,
                           const std::optional<std::array<uint8_t, 32>>& sha256, HANDLE abort) {
    // Nothing to ask a server about later, or nothing to seal it with this run.
    if (validator.empty() || total < 0 || Seal.Withheld) return false;
    TSavedState record;
    record.Url = Url;
    record.Name = Name;
    record.Location = location;
    record.Total = total;
    SetStateValidator(record, validator);
    auto sha = sha256;
    if (!sha) {
        int64_t read = -1;
        sha = FileSha256(Target, abort, &read);
        if (!sha || read != total) return false;
    }
    record.Digest.Kind = TDigestKind::Sha256;
    record.Digest.Bytes.assign(sha->begin(), sha->end());
    record.Done = {{0, total}};
    if (total == 0) record.Done.clear();
    return ReplaceSmallFile(RecordPath, FormatState(record, Seal));
}

void TFinishedFile::Forget() {
    DeleteFileW(RecordPath.c_str());
}

} // namespace xldl
