#include "xldl/core/WebPage.h"

#include "xldl/core/Text.h"

namespace xldl {

bool MustNotBeWebPage(std::string_view fileName) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return false;
    const std::string extension = LowerText(fileName.substr(dot + 1));
    for (const char* program : {"exe", "msi", "msu", "msix", "dll", "zip", "7z", "rar", "cab",
                                "iso", "img", "gz", "xz", "bz2", "tar"})
        if (extension == program) return true;
    return false;
}

bool IsWebPageType(const THeaders& head) {
    const auto type = head.Get("content-type");
    if (!type) return false;
    std::string_view media = *type;
    media = Trim(media.substr(0, media.find(';')));
    return EqualsNoCase(media, "text/html") || EqualsNoCase(media, "application/xhtml+xml");
}

bool BeginsLikeWebPage(const uint8_t* data, size_t size) {
    size_t i = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) i = 3;
    while (i < size && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
        ++i;
    if (i + 1 >= size || data[i] != '<') return false;
    const char next = Lower(static_cast<char>(data[i + 1]));
    return (next >= 'a' && next <= 'z') || next == '!' || next == '?';
}

} // namespace xldl
