#include "app/SaveFolder.h"

#include "framework/ProgramText.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

namespace {

TSaveFolder Inside(std::wstring parent) {
    if (!parent.empty() && parent.back() != L'\\') parent += L'\\';
    const std::wstring create = parent + FallbackFolderName;
    return {create, create + L"\\"};
}

std::wstring DownloadsFolder() {
    PWSTR path = nullptr;
    // KF_FLAG_CREATE: a Downloads folder the user never opened may not exist yet.
    const HRESULT hr = SHGetKnownFolderPath(FOLDERID_Downloads, KF_FLAG_CREATE, nullptr, &path);
    std::wstring folder = SUCCEEDED(hr) && path ? path : L"";
    CoTaskMemFree(path);
    return folder;
}

std::wstring TemporaryFolder() {
    wchar_t path[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, path);
    return n > 0 && n <= MAX_PATH ? std::wstring(path, n) : std::wstring();
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A power cut may keep a probe's creation and lose its removal: what earlier probes left goes.
void RemoveEarlierProbes(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((folder + L"~korva-*.tmp").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW((folder + found.cFileName).c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

// A folder can look fine and still refuse files: a read-only medium, a share without the
// right to write, a folder whose permissions say no. Only creating one tells.
bool CanCreateFileIn(const std::wstring& folder) {
    RemoveEarlierProbes(folder);
    for (unsigned attempt = 0; attempt < 8; ++attempt) {
        const std::wstring probe = folder + L"~korva-" + DecimalText(GetCurrentProcessId()) + L"-" +
                                   DecimalText(GetTickCount() + attempt) + L".tmp";
        const HANDLE f = CreateFileW(
            probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            CloseHandle(f);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

} // namespace

std::vector<TSaveFolder> SaveFolderCandidates() {
    std::vector<TSaveFolder> candidates{{PreferredFolderToCreate, PreferredSaveFolder}};
    const std::wstring downloads = DownloadsFolder();
    if (!downloads.empty()) candidates.push_back(Inside(downloads));
    const std::wstring temporary = TemporaryFolder();
    if (!temporary.empty()) candidates.push_back(Inside(temporary));
    return candidates;
}

bool PrepareSaveFolder(const TSaveFolder& candidate, const TFolderReader& read) {
    if (!IsFolder(candidate.Create) && !MakeOwnFolder(candidate.Create) &&
        !IsFolder(candidate.Create)) // made meanwhile by someone else: judged as found
        return false;
    return FolderIsOurs(candidate.Create, read) && CanCreateFileIn(candidate.Folder);
}

std::wstring ChooseSaveFolder(const std::vector<TSaveFolder>& candidates, const TFolderReader& read,
                              const TFolderTried& tried) {
    for (const TSaveFolder& c : candidates) {
        const bool works = PrepareSaveFolder(c, read);
        if (tried) tried(c, works);
        if (works) return c.Folder;
    }
    return candidates.empty() ? std::wstring() : candidates.back().Folder;
}

std::wstring ChooseSaveFolder() {
    return ChooseSaveFolder(SaveFolderCandidates());
}

bool PrepareGivenFolder(const std::wstring& folder) {
    std::wstring path = folder;
    if (path.empty() || path.back() != L'\\') path += L'\\';
    // SHCreateDirectoryExW makes the parents too; a folder already there is fine.
    const int made = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS)
        return false;
    return IsFolder(folder) && CanCreateFileIn(path);
}
