// A run with switches (app/CommandLine), from its arguments to its exit code (app/ExitCodes):
// the help box, bad arguments refused before anything is fetched, another run of the tool
// waited for, the log (app/RunLog), and the download itself: on the tool's window, driven
// from here instead of by its handlers (the press at once under /passive and /layout, the
// other mirror tried once after a failure, the end a few seconds after a failure shown), or
// with no window at all under /quiet. The window's own handlers serve runs without arguments
// only.
#pragma once

#include "app/CommandLine.h"

// Runs the tool as `command` asks (it has arguments); the process's exit code.
int RunWithSwitches(const TCommandLine& command);
