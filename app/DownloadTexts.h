// The download tool's text rules: the file name taken from a download URL, the short size text
// of the progress display ("512 KB", "3.50 MB") and what the window says when a download has
// failed for good or its installer could not be started. Pure functions, 8-bit texts.
#pragma once

#include <cstdint>
#include <string>

// The longest file name FileNameFromUrl gives.
constexpr size_t MaxFileNameLength = 1000;

// Whatever follows the URL's last '/', at most MaxFileNameLength characters; empty when there
// is no '/' or nothing after the last one. No decoding: a query or fragment stays in.
std::string FileNameFromUrl(const std::string& url);

// A byte count as kilobytes ("%d KB", rounded half to even) up to 1000 KB, else as megabytes
// with two decimals ("%.2f MB", halves away from zero), with `decimalSeparator` between the
// units and the decimals. Sizes beyond 32 bits are shown as they are.
std::string FormatSizeText(int64_t bytes, char decimalSeparator = '.');

// The status line for a task the engine gave up on, by its reason (a TEngineError): what went
// wrong in a user's words, and what to do about it. Short enough to stand left of the size
// text in the window's font.
std::string FailureText(uint32_t error);

// Whether another mirror may do better after the engine gave up for `error`: not when the
// trouble is on this machine (a full disk, a folder that cannot be written, a file another
// program holds).
bool MirrorMayHelp(uint32_t error);

// Why a finished download was not started.
enum class TStartTrouble {
    NotTheMakers,     // the signature is not the maker's, or not intact: the file is deleted
    NotTheMakersKept, // the same, but the file could not be deleted
    Older,            // the maker's, but signed before one already verified: the file is deleted
    OlderKept,        // the same, but the file could not be deleted
    Missing,          // the file is gone
    InUse,            // another program holds the file
    Declined,         // the user declined the elevation prompt
    Blocked,          // the system or an antivirus refused to start it
    Other,            // the shell failed for another reason
};

// The status line for a trouble: short enough to stand left of the size text.
std::string StartTroubleText(TStartTrouble trouble);

// Whether the other mirror may help: only a file the mirror sent can be its fault (an older
// build from a mirror not yet updated among them).
bool MirrorMayHelp(TStartTrouble trouble);
