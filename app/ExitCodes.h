// How a run with switches ends, as its exit code: one code per outcome the tool tells apart,
// never 0 for a failure. With /quiet the installer's own code stands where the tool started it.
// A run without arguments ends with 0 whatever happened, as it always has.
#pragma once

#include "app/DownloadTexts.h"

#include <cstdint>

enum class TExitCode : int {
    Started = 0,         // the installer was started (without /quiet)
    CannotRun = 1,       // the tool's window or its download engine could not start
    BadArguments = 2,    // nothing was downloaded
    AnotherRun = 3,      // the tool ran for this user and did not end within a minute
    Network = 4,         // no mirror (or source) gave the file: network, server, proxy, TLS
    SignInPage = 5,      // the network answered with a sign-in page
    NotTheMakers = 6,    // not the maker's signature, or damaged on the way
    Older = 7,           // the maker's, but older than one this user already verified
    CannotSave = 8,      // disk full, or the folder cannot be written
    InUse = 9,           // another program holds the file
    Cancelled = 10,      // closed before the end, or the installer's elevation declined
    StartFailed = 11,    // the installer was refused by the system or could not be started
    LayoutFinished = 12, // /layout: the maker's installer is in the folder, nothing started
};

// The outcome of a task the engine gave up on, by its reason (a TEngineError).
TExitCode ExitCodeOf(uint32_t engineError);
// The outcome of a finished download that was not started (or, with /layout, not verified).
TExitCode ExitCodeOf(TStartTrouble trouble);
// The outcome in a few words, for the log and the console (as the README's table has them).
const char* ExitCodeText(TExitCode code);
