#include "app/InstallerLaunch.h"

#include <optional>

TShellExecuteProc ShellExecuteProc = ShellExecuteExW;
const wchar_t* NewestSignedValue = L"NewestInstallerSigned";

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

// The newest signing time recorded, if any.
std::optional<int64_t> NewestSigned() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, ToolRegistryKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return std::nullopt;
    int64_t seconds = 0;
    DWORD type = 0, size = sizeof seconds;
    const LONG read = RegQueryValueExW(key, NewestSignedValue, nullptr, &type,
                                       reinterpret_cast<BYTE*>(&seconds), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_QWORD || size != sizeof seconds) return std::nullopt;
    return seconds;
}

// Keeps `seconds` as the newest signing time. A record that cannot be written costs only the
// protection against older builds, not the start.
void RecordSigned(int64_t seconds) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, ToolRegistryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, NewestSignedValue, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&seconds),
                   sizeof seconds);
    RegCloseKey(key);
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

TLaunch LaunchInstaller(HWND owner, const std::wstring& path, const TStartOptions& options) {
    TLaunch launch;
    THeldFile file(path);
    if (file.Handle == INVALID_HANDLE_VALUE) {
        launch.Error = file.Error;
        launch.Trouble = StartTroubleOf(file.Error);
        return launch;
    }
    launch.Signature = VerifyInstallerSignature(file.Handle, path);
    const bool good = launch.Signature.Verdict == TSignatureVerdict::Good;
    const std::optional<int64_t> signedAt = launch.Signature.SignedAt;
    const std::optional<int64_t> newest = NewestSigned();
    // One that cannot say when it was signed cannot show it is not older either.
    const bool older = newest && (!signedAt || *signedAt < *newest);
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
    if (signedAt && (!newest || *signedAt > *newest)) RecordSigned(*signedAt);
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
