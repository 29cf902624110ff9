// Writing the tool's texts into the UTF-16 fields of an engine record.
#pragma once

#include "engine/XLDownload.h"

#include <cstddef>
#include <cstring>
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

// The record of the tool's one kind of task: `url` saved in `folder` as `fileName`, with as
// many connections as the engine likes. (Texts that do not fit are left empty, and the engine
// refuses the task.)
template <class Text>
void FillTaskParam(DownloadTaskParam& param, const Text& url, const Text& fileName,
                   const std::wstring& folder) {
    std::memset(&param, 0, sizeof param);
    CopyToUtf16Field(url, param.TaskUrl);
    CopyToUtf16Field(fileName, param.FileName);
    CopyToUtf16Field(folder, param.SavePath);
    param.OptionFlag = 0xFFFFFFFF;
}
