// Starting the downloaded installer: only the maker's (app/InstallerSignature), and only its
// installer of this product, not anything else it signed (app/InstallerVersion), and none of a
// lower version than the newest this user's tool has verified (app/InstallerVersion: so that an
// old build, with whatever it got wrong, cannot be passed off as the current one), held open
// against writers from its check until the shell has started it, so that nothing can swap it in
// between; a file refused is deleted from its name; a start that fails says why.
#pragma once

#include "app/DownloadTexts.h"
#include "app/InstallerSignature.h"
#include "runtime/FolderHold.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

// The tool's key under HKEY_CURRENT_USER, and the value there that holds the newest version of
// an installer it verified (REG_BINARY, app/InstallerVersion's record); tests running side by
// side in one prefix each name a value of their own. The value an earlier release kept (the
// newest signing time) is removed when the first version is recorded.
constexpr const wchar_t* ToolRegistryKey = L"Software\\Orlenz\\Downloader";
extern const wchar_t* NewestVersionValue;
constexpr const wchar_t* EarlierNewestValue = L"NewestInstallerSigned";

// How the installer is started; tests put a recorder here.
using TShellExecuteProc = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
extern TShellExecuteProc ShellExecuteProc;

// How a run with switches has the installer started: with the arguments given for it, with
// its process handed back to wait for, or not at all (a layout is checked only).
struct TStartOptions {
    std::wstring Parameters;
    bool KeepProcess = false;
    bool CheckOnly = false;
};

struct TLaunch {
    bool Verified = false; // the maker's, and not older: started, or kept as checked
    bool Started = false;
    HANDLE Process = nullptr; // with KeepProcess, when the shell gave one: the caller's
    TStartTrouble Trouble = TStartTrouble::Other; // when not started
    DWORD Error = 0;                              // the system's word behind the trouble
    TSignatureCheck Signature;
    bool OtherFile = false; // the maker's signature, but not on this product's installer
};

// Checks the installer at `path` and, when it is the maker's and not older, asks the shell to
// open it (verb "Open", shown normally, owned by `owner`). Does not wait for the installer.
// With `folder`, only while the installer's folder is still the one held there: a folder put
// in its place by someone else is as if the file were gone.
TLaunch LaunchInstaller(HWND owner, const std::wstring& path, const TFolderHold* folder = nullptr,
                        const TStartOptions& options = {});

// The trouble behind a system error of opening or starting the file.
TStartTrouble StartTroubleOf(DWORD error);
