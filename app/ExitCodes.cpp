#include "app/ExitCodes.h"

#include "engine/XLDownload.h"

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
    switch (code) {
    case TExitCode::Started:
        return "the installer was started";
    case TExitCode::CannotRun:
        return "the tool could not start its window or its download engine";
    case TExitCode::BadArguments:
        return "bad arguments, nothing downloaded";
    case TExitCode::AnotherRun:
        return "another run of the tool did not end within a minute";
    case TExitCode::Network:
        return "mirror or network failure";
    case TExitCode::SignInPage:
        return "the network answered with a sign-in page";
    case TExitCode::NotTheMakers:
        return "not the maker's installer, or damaged";
    case TExitCode::Older:
        return "older than an installer already verified";
    case TExitCode::CannotSave:
        return "disk full, or the folder cannot be written";
    case TExitCode::InUse:
        return "the file is held by another program";
    case TExitCode::Cancelled:
        return "cancelled";
    case TExitCode::StartFailed:
        return "the installer could not be started";
    case TExitCode::LayoutFinished:
        return "the maker's installer is in the layout folder, nothing started";
    }
    return "";
}
