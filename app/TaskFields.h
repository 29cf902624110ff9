// Writing the tool's texts into the UTF-16 fields of an engine record.
#pragma once

#include <cstddef>
#include <string>

// Converts `text` from the program's code page (936) into `field` (`capacity` UTF-16 units,
// terminating NUL included). All or nothing: a text whose UTF-16 form needs capacity units
// or more leaves the empty string, since a cut name or URL would name something else.
// Returns whether the text fitted.
bool CopyToUtf16Field(const std::string& text, char16_t* field, size_t capacity);
// The same for a text that is UTF-16 already (a path the system gave, in whatever script):
// copied as it is, never through a code page.
bool CopyToUtf16Field(const std::wstring& text, char16_t* field, size_t capacity);

template <size_t N> bool CopyToUtf16Field(const std::string& text, char16_t (&field)[N]) {
    return CopyToUtf16Field(text, field, N);
}
template <size_t N> bool CopyToUtf16Field(const std::wstring& text, char16_t (&field)[N]) {
    return CopyToUtf16Field(text, field, N);
}
