#include "app/ExitCodes.h"

#include "engine/XLDownload.h"

#include <iterator>

TExitCode ExitCodeOf(uint32_t engineError) {
    switch (engineError) {
    case ErrorSignInPage:
        return TExitCode::SignInPage;
    case ErrorVerify:
    case ErrorUnstable:
        return TExitCode::NotTheMakers;
    case ErrorDiskFull:
    case ErrorFile:
    case ErrorRename:
    case ErrorBadUrl: // no file name or folder the engine could use: it says it cannot save
        return TExitCode::CannotSave;
    case ErrorInUse:
        return TExitCode::InUse;
    default:
        return TExitCode::Network;
    }
}

TExitCode ExitCodeOf(TStartTrouble trouble) {
    switch (trouble) {
    case TStartTrouble::NotTheMakers:
    case TStartTrouble::NotTheMakersKept:
        return TExitCode::NotTheMakers;
    case TStartTrouble::Older:
    case TStartTrouble::OlderKept:
        return TExitCode::Older;
    case TStartTrouble::InUse:
        return TExitCode::InUse;
    case TStartTrouble::Declined:
        return TExitCode::Cancelled;
    default:
        return TExitCode::StartFailed;
    }
}

const char* ExitCodeText(TExitCode code) {
    static const char* const texts[] = {
        "the installer was started",
        "the tool could not start its window or its download engine",
        "bad arguments, nothing downloaded",
        "another run of the tool did not end within a minute",
        "mirror or network failure",
        "the network answered with a sign-in page",
        "not the maker's installer, or damaged",
        "older than an installer already verified",
        "disk full, or the folder cannot be written",
        "the file is held by another program",
        "cancelled",
        "the installer could not be started",
        "the maker's installer is in the layout folder, nothing started",
    };
    static_assert(std::size(texts) == static_cast<size_t>(TExitCode::LayoutFinished) + 1);
    return texts[static_cast<size_t>(code)];
}
