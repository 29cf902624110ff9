// The program's texts are code page 936 bytes wherever they are data (layouts, captions, the
// engine's records); they reach Windows as UTF-16 converted from that code page, never through
// the system's own ANSI code page, so that they read the same on an English, Japanese or Korean
// Windows as on a Chinese one.
#pragma once

#include <windows.h>

#include <string>

constexpr UINT ProgramCodePage = 936;

// A program text as UTF-16.
std::wstring ToWide(const std::string& text);
// UTF-16 as a program text (characters the code page lacks become '?'), or in `codePage`.
std::string FromWide(const std::wstring& text, UINT codePage = ProgramCodePage);

// The name Windows knows a Chinese face by on every system ("SimSun" for 宋体), else `face`:
// a Windows of another language may not match the Chinese name.
std::wstring FontFaceForSystem(const std::wstring& face);

// The character set a font is asked for: a Chinese face with the Western one (ANSI_CHARSET,
// 0, as stored layouts name it) or the system's own (DEFAULT_CHARSET) is asked for with
// GB2312_CHARSET, so that a system without that face falls back to one with Chinese glyphs,
// not to a Western one that draws boxes. At code page 936 the face found is the same.
BYTE CharsetForSystem(BYTE charset, const std::wstring& face);

// A number in decimal digits. (std::to_wstring would bring the C runtime's whole wide printf.)
inline std::wstring DecimalText(long long value) {
    const std::string digits = std::to_string(value);
    return std::wstring(digits.begin(), digits.end());
}

// A caption as a screen reader reads it: without the '&' that marks its accelerator.
std::wstring WithoutAccelerator(const std::wstring& caption);
