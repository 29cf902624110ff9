// The log of a run with switches: plain UTF-8 lines, each after the local time, in the file the
// run names (/log) or else in the user's temporary folder under a fixed name, which each such
// run replaces, so that support can ask for the last one. Lines written before the file is
// open are kept and written when it opens. What the run says to its user (progress, the
// outcome) also goes to the console it was started from, or wherever its output was sent.
// No line holds a password, a proxy credential or a cookie: callers write URLs through
// LoggableUrl (app/CommandLine) and never the installer's arguments.
#pragma once

#include <windows.h>

#include <string>

// The file the last run's log is kept in, without /log.
constexpr const wchar_t* FixedLogName = L"OrlenzDownloader.log";

class TRunLog {
public:
    TRunLog();
    ~TRunLog();
    TRunLog(const TRunLog&) = delete;
    TRunLog& operator=(const TRunLog&) = delete;

    // Opens the log at `path` (empty: the fixed one), replacing what was there, readable by
    // others while it is written; false when it cannot be written (another run holds it, or
    // the folder is not there).
    bool Open(const std::wstring& path);
    bool IsOpen() const { return FFile != INVALID_HANDLE_VALUE; }

    void Line(const std::wstring& text);
    // A line that is UTF-8 already.
    void Line(const std::string& utf8);
    // A line for the log and for the console.
    void Say(const std::wstring& text);

private:
    void Write(const std::string& utf8);
    void Console(const std::wstring& text);

    HANDLE FFile = INVALID_HANDLE_VALUE;
    std::string FPending; // written before the file was open
    // Where the run's user reads: a console (written as UTF-16), a file or pipe the output was
    // sent to (UTF-8), or nothing.
    HANDLE FOutput = nullptr;
    bool FOutputIsConsole = false;
    bool FOwnOutput = false;
};
