#include "app/InstallerLaunch.h"

#include "app/InstallerVersion.h"

#include <ctime>
#include <optional>

TShellExecuteProc ShellExecuteProc = ShellExecuteExW;
const wchar_t* NewestVersionValue = L"NewestInstallerVersion";

namespace {

class THeldFile {
public:
    // Others may read the file (the shell, to start it) but neither write, rename nor
    // delete it while it is held.
    explicit THeldFile(const std::wstring& path)
        : Handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr)),
          Error(Handle == INVALID_HANDLE_VALUE ? GetLastError() : 0) {}
    ~THeldFile() { Release(); }
    THeldFile(const THeldFile&) = delete;
    THeldFile& operator=(const THeldFile&) = delete;
    void Release() {
        if (Handle != INVALID_HANDLE_VALUE) CloseHandle(Handle);
        Handle = INVALID_HANDLE_VALUE;
    }

    HANDLE Handle;
    const DWORD Error;
};

// The newest version recorded, if a record of this release's is there.
std::optional<TVersionRecord> NewestVerified() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, ToolRegistryKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return std::nullopt;
    uint8_t bytes[17];
    DWORD type = 0, size = sizeof bytes;
    const LONG read = RegQueryValueExW(key, NewestVersionValue, nullptr, &type, bytes, &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_BINARY) return std::nullopt;
    return ParseVersionRecord(bytes, size);
}

// Keeps `version` as the newest verified, in place of whatever an earlier release kept. A
// record that cannot be written costs only the protection against older builds, not the start.
void RecordVerified(TBuildVersion version) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, ToolRegistryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    const std::vector<uint8_t> bytes =
        FormatVersionRecord({version, static_cast<int64_t>(std::time(nullptr))});
    if (RegSetValueExW(key, NewestVersionValue, 0, REG_BINARY, bytes.data(),
                       static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS)
        RegDeleteValueW(key, EarlierNewestValue);
    RegCloseKey(key);
}

// The version of the installer held as `file`, read through that handle; nothing when the file
// is not this product's installer.
std::optional<TBuildVersion> VersionOf(HANDLE file) {
    return ReadInstallerVersion(
        [file](uint64_t offset, void* into, size_t size) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            DWORD got = 0;
            return ReadFile(file, into, static_cast<DWORD>(size), &got, &at) && got == size;
        },
        InstallerProduct);
}

} // namespace

TStartTrouble StartTroubleOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return TStartTrouble::Missing;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return TStartTrouble::InUse;
    case ERROR_CANCELLED:
        return TStartTrouble::Declined;
    case ERROR_ACCESS_DENIED:
    case 225: // ERROR_VIRUS_INFECTED: an antivirus found something
    case 226: // ERROR_VIRUS_DELETED
        return TStartTrouble::Blocked;
    default:
        return TStartTrouble::Other;
    }
}

TLaunch LaunchInstaller(HWND owner, const std::wstring& path, const TFolderHold* folder,
                        const TStartOptions& options) {
    TLaunch launch;
    THeldFile file(path);
    // Where the folder can be renamed while held (Wine), it is asked again after the file is
    // held and once more just before the start.
    const auto moved = [&] {
        return folder && !folder->At(path.substr(0, path.find_last_of(L'\\')));
    };
    const DWORD unopened = moved() ? ERROR_PATH_NOT_FOUND : file.Error;
    if (file.Handle == INVALID_HANDLE_VALUE || unopened) {
        launch.Error = unopened;
        launch.Trouble = StartTroubleOf(unopened);
        return launch;
    }
    launch.Signature = VerifyInstallerSignature(file.Handle, path);
    // Only a file the maker signed says which file and build it is; whatever else the maker
    // signed is as foreign as another's file, and its version orders nothing.
    const std::optional<TBuildVersion> version = launch.Signature.Verdict == TSignatureVerdict::Good
                                                     ? VersionOf(file.Handle)
                                                     : std::optional<TBuildVersion>();
    launch.OtherFile = launch.Signature.Verdict == TSignatureVerdict::Good && !version;
    const bool good = version.has_value();
    const TBuildOrder order =
        JudgeBuildOrder(version, NewestVerified(), static_cast<int64_t>(std::time(nullptr)));
    const bool older = good && order.Older;
    if (!good || older) {
        // Never left under the name the user expects to run.
        file.Release();
        const bool deleted = DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
        launch.Error = deleted ? 0 : GetLastError();
        if (!good)
            launch.Trouble =
                deleted ? TStartTrouble::NotTheMakers : TStartTrouble::NotTheMakersKept;
        else
            launch.Trouble = deleted ? TStartTrouble::Older : TStartTrouble::OlderKept;
        return launch;
    }
    if (moved()) {
        launch.Error = ERROR_PATH_NOT_FOUND;
        launch.Trouble = StartTroubleOf(launch.Error);
        return launch;
    }
    if (order.Record) RecordVerified(*version);
    launch.Verified = true;
    if (options.CheckOnly) return launch;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // The tool says itself what went wrong; NOASYNC: the start is done when the call returns,
    // so the file is released only once the new process has it.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.hwnd = owner;
    info.lpVerb = L"Open";
    info.lpFile = path.c_str();
    if (!options.Parameters.empty()) info.lpParameters = options.Parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    const bool started = ShellExecuteProc(&info) != FALSE;
    DWORD error = started ? 0 : GetLastError();
    if (!started && !error) { // only the shell's own code, in hInstApp
        const auto code = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(info.hInstApp));
        error = code == SE_ERR_SHARE ? ERROR_SHARING_VIOLATION : code;
    }
    if (info.hProcess && options.KeepProcess)
        launch.Process = info.hProcess;
    else if (info.hProcess)
        CloseHandle(info.hProcess);
    file.Release();
    launch.Started = started;
    if (!started) {
        launch.Error = error;
        launch.Trouble = StartTroubleOf(error);
    }
    return launch;
}
