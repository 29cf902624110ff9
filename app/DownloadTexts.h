// The download tool's text rules: the file name taken from a download URL, the short size text
// of the progress display ("512 KB", "3.50 MB") and what the window says when a download has
// failed for good. Pure functions, 8-bit texts.
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
