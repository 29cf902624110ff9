#include "app/TaskFields.h"

#include "framework/ProgramText.h"

#include <windows.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 units");

bool CopyToUtf16Field(const std::string& text, char16_t* field, size_t capacity) {
    if (capacity == 0) return false;
    field[0] = 0;
    if (text.empty()) return true;
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(ProgramCodePage, 0, text.data(), length, nullptr, 0);
    if (units <= 0 || static_cast<size_t>(units) > capacity - 1) return false;
    auto* out = reinterpret_cast<wchar_t*>(field);
    MultiByteToWideChar(ProgramCodePage, 0, text.data(), length, out, units);
    field[units] = 0;
    return true;
}

bool CopyToUtf16Field(const std::wstring& text, char16_t* field, size_t capacity) {
    if (capacity == 0) return false;
    field[0] = 0;
    if (text.size() > capacity - 1) return false;
    for (size_t i = 0; i < text.size(); ++i)
        field[i] = static_cast<char16_t>(text[i]);
    field[text.size()] = 0;
    return true;
}
