// The switches of a run for those who deploy the tool: how it runs (a press, no press, no
// window), where the installer comes from and goes, what it is started with, where the log
// goes. Read from the whole command line as Windows hands it over, split into arguments as the
// C runtime splits them. Switches are case-insensitive, `/x` and `-x` alike, with a value after
// a space or a colon; `--` ends them, and what follows goes to the installer as it stands.
// Pure: nothing here asks the system whether a folder or file exists.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum class TRunMode {
    Window,  // the window, waiting for a press
    Passive, // the window, the download at once
    Quiet,   // no window, the download at once
};

enum class TSourceKind {
    Mirrors, // the chosen mirror, backed by the other
    Url,     // an http:// or https:// address of the admin's, alone
    Path,    // a file on a drive or share of the admin's, copied
};

struct TSwitches {
    bool Help = false;
    TRunMode Mode = TRunMode::Window;
    int Mirror = 1; // the chosen one: 1 or 2
    TSourceKind Source = TSourceKind::Mirrors;
    std::wstring SourceText; // the URL or the path
    std::wstring Layout;     // where to download and verify only; empty: start the installer
    std::wstring Log;        // empty: the fixed log in the user's temporary folder
    // What follows `--`, exactly as written on the command line.
    std::wstring InstallerArguments;

    // Whether the download begins without a press: /passive, /quiet, and /layout alone.
    bool Unattended() const { return Mode != TRunMode::Window || !Layout.empty(); }
};

enum class TArgumentFault {
    None,
    Unknown,         // no switch of ours, or not a switch at all
    MissingValue,    // a switch that takes a value came without one
    NeedsNoValue,    // a switch that takes none came with one
    Repeated,        // the same switch twice
    BadMirror,       // a mirror other than 1 or 2
    BadSource,       // neither an http(s) URL nor a full path to a file
    QuietAndPassive, // both: one run cannot be both
    MirrorAndSource, // a source of one's own takes the mirrors' place
    NothingToStart,  // installer arguments with /layout, which starts nothing
    LayoutUnusable,  // the layout folder cannot be made or written (found by the caller)
    LogUnusable,     // the log cannot be written there (found by the caller)
};

struct TCommandLine {
    // Whether there was anything after the program's name: without, the tool as always.
    bool Given = false;
    TSwitches Switches;
    TArgumentFault Fault = TArgumentFault::None;
    std::wstring Argument; // the argument at fault, as given
};

// The arguments after the program's name, as the C runtime makes them: separated by blanks
// outside double quotes; 2n backslashes before a quote are n and the quote opens or closes,
// 2n+1 are n and a quote; "" inside quotes is one quote; other backslashes are themselves.
struct TArgument {
    std::wstring Text;
    size_t End = 0; // where it ends in the command line
};
std::vector<TArgument> SplitArguments(const std::wstring& commandLine);

TCommandLine ParseCommandLine(const std::wstring& commandLine);

// Why an argument is refused, for the message box (program text) and for the log (English).
std::string ArgumentFaultText(TArgumentFault fault);
std::string ArgumentFaultLogText(TArgumentFault fault);

// The run's switches as the log records them: those in force, values quoted, URLs as
// LoggableUrl keeps them, the installer's arguments only counted (they may hold a password).
std::wstring DescribeSwitches(const TSwitches& switches);

// A URL as the log may keep it: scheme, host, port and path; no user name or password, no
// query or fragment (which may carry a token).
std::wstring LoggableUrl(const std::wstring& url);

// The message box of /? and /help (program text).
extern const char* const SwitchesHelpText;
