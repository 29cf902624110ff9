#include "xldl/FinishedFile.h"

#include "xldl/Files.h"
#include "xldl/HttpConnection.h"
#include "xldl/core/Confirmation.h"

#include <bcrypt.h>

#include <algorithm>
#include <vector>

namespace xldl {

namespace {

// The system's SHA-256: where the processor has instructions for it, several times the speed
// of a portable one, and a finished file may be large.
class TSystemSha256 {
public:
    TSystemSha256() {
        if (BCryptOpenAlgorithmProvider(&Algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
            Algorithm = nullptr;
        else if (BCryptCreateHash(Algorithm, &Hash, nullptr, 0, nullptr, 0, 0) != 0)
            Hash = nullptr;
    }
    ~TSystemSha256() {
        if (Hash) BCryptDestroyHash(Hash);
        if (Algorithm) BCryptCloseAlgorithmProvider(Algorithm, 0);
    }
    TSystemSha256(const TSystemSha256&) = delete;
    TSystemSha256& operator=(const TSystemSha256&) = delete;

    bool Usable() const { return Hash != nullptr; }
    bool Update(const uint8_t* data, ULONG size) {
        return BCryptHashData(Hash, const_cast<PUCHAR>(data), size, 0) == 0;
    }
    std::optional<std::array<uint8_t, 32>> Final() {
        std::array<uint8_t, 32> digest;
        if (BCryptFinishHash(Hash, digest.data(), static_cast<ULONG>(digest.size()), 0) != 0)
            return std::nullopt;
        return digest;
    }

private:
    BCRYPT_ALG_HANDLE Algorithm = nullptr;
    BCRYPT_HASH_HANDLE Hash = nullptr;
};

} // namespace

std::optional<std::array<uint8_t, 32>> FileSha256(const std::wstring& path, HANDLE abort,
                                                  int64_t* size) {
    const HANDLE f = CreateFileW(path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::nullopt;
    TSystemSha256 sha;
    std::vector<uint8_t> buffer(1 << 20);
    int64_t read = 0;
    bool ok = sha.Usable();
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
        ok = sha.Update(buffer.data(), got);
        read += got;
    }
    CloseHandle(f);
    if (!ok) return std::nullopt;
    if (size) *size = read;
    return sha.Final();
}

TFinishedFile::TFinishedFile(std::wstring target, std::string url, std::string name)
    : Target(std::move(target)), RecordPath(Target + L".done"), Url(std::move(url)),
      Name(std::move(name)) {}

std::optional<TSavedState> TFinishedFile::Local(HANDLE abort) {
    const auto text = ReadSmallFile(RecordPath, MaxStateBytes);
    if (!text) return std::nullopt;
    TStateProblem problem = TStateProblem::None;
    auto record = ParseState(*text, Url, Name, &problem);
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
    if (validator.empty() || total < 0) return false; // nothing to ask a server about later
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
    return ReplaceSmallFile(RecordPath, FormatState(record));
}

void TFinishedFile::Forget() {
    DeleteFileW(RecordPath.c_str());
}

} // namespace xldl
