#include "framework/ProgramText.h"

#include <iterator>

std::wstring ToWide(const std::string& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(ProgramCodePage, 0, text.data(), length, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(ProgramCodePage, 0, text.data(), length, wide.data(), n);
    return wide;
}

std::string FromWide(const std::wstring& text, UINT codePage) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int n =
        WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), length, narrow.data(), n, nullptr, nullptr);
    return narrow;
}

namespace {

const struct {
    const wchar_t* Chinese;
    const wchar_t* English;
} ChineseFaces[] = {
    {L"宋体", L"SimSun"},   {L"新宋体", L"NSimSun"}, {L"黑体", L"SimHei"},
    {L"楷体", L"KaiTi"},    {L"仿宋", L"FangSong"},  {L"微软雅黑", L"Microsoft YaHei"},
    {L"等线", L"DengXian"}, {L"隶书", L"LiSu"},      {L"幼圆", L"YouYuan"},
};

} // namespace

std::wstring FontFaceForSystem(const std::wstring& face) {
    for (const auto& f : ChineseFaces)
        if (face == f.Chinese) return f.English;
    return face;
}

BYTE CharsetForSystem(BYTE charset, const std::wstring& face) {
    if (charset != DEFAULT_CHARSET && charset != ANSI_CHARSET) return charset;
    for (const auto& f : ChineseFaces)
        if (face == f.Chinese || face == f.English) return GB2312_CHARSET;
    return charset;
}

std::wstring WithoutAccelerator(const std::wstring& caption) {
    std::wstring plain;
    for (auto it = caption.begin(); it != caption.end(); ++it) {
        if (*it == L'&' && std::next(it) != caption.end()) ++it; // "&x" is x, "&&" is '&'
        plain += *it;
    }
    return plain;
}
