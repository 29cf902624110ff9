#include "app/SaveFolder.h"

#include "framework/ProgramText.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

namespace {

TSaveFolder Inside(std::wstring parent, bool makeParent = false) {
    if (!parent.empty() && parent.back() != L'\\') parent += L'\\';
    const std::wstring create = parent + FallbackFolderName;
    return {create, create + L"\\", makeParent};
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    // KF_FLAG_CREATE: a Downloads folder the user never opened may not exist yet.
    const HRESULT hr = SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path);
    std::wstring folder = SUCCEEDED(hr) && path ? path : L"";
    CoTaskMemFree(path);
    return folder;
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
    const std::wstring downloads = KnownFolder(FOLDERID_Downloads);
    if (!downloads.empty()) candidates.push_back(Inside(downloads));
    // The user's alone by the system's making: nobody else may even look into it.
    const std::wstring local = KnownFolder(FOLDERID_LocalAppData);
    if (!local.empty()) candidates.push_back(Inside(local + L"\\" + MakerFolderName, true));
    return candidates;
}

bool PrepareSaveFolder(const TSaveFolder& candidate, TFolderHold& hold, const TFolderReader& read) {
    hold.Release();
    const std::wstring parent = candidate.Create.substr(0, candidate.Create.find_last_of(L'\\'));
    if (candidate.MakeParent && !IsFolder(parent)) MakeOwnFolder(parent);
    if (!IsFolder(candidate.Create) && !MakeOwnFolder(candidate.Create) &&
        !IsFolder(candidate.Create)) // made meanwhile by someone else: judged as found
        return false;
    // Held first, then judged: what was judged cannot be swapped for another before the start.
    hold = TFolderHold(candidate.Create);
    if (hold.Held() && FolderIsOurs(candidate.Create, read) && hold.At(candidate.Create) &&
        CanCreateFileIn(candidate.Folder))
        return true;
    hold.Release();
    return false;
}

std::wstring ChooseSaveFolder(const std::vector<TSaveFolder>& candidates, TFolderHold& hold,
                              const TFolderReader& read, const TFolderTried& tried) {
    for (const TSaveFolder& c : candidates) {
        const bool works = PrepareSaveFolder(c, hold, read);
        if (tried) tried(c, works);
        if (works) return c.Folder;
    }
    return {};
}

std::wstring ChooseSaveFolder(TFolderHold& hold) {
    return ChooseSaveFolder(SaveFolderCandidates(), hold);
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
