#include "xldl/core/WebPage.h"

#include "xldl/core/Text.h"

#include <algorithm>

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

TPageCheck::TVerdict TPageCheck::Add(const uint8_t* data, size_t size) {
    const size_t take = std::min(size, PageCheckBytes - std::min(Bytes.size(), PageCheckBytes));
    Bytes.insert(Bytes.end(), data, data + take);
    const TVerdict verdict = Judge();
    // Nothing but a mark, white space and "<" where a program's signature should be.
    return verdict == TVerdict::Undecided && Bytes.size() >= PageCheckBytes ? TVerdict::Page
                                                                            : verdict;
}

TPageCheck::TVerdict TPageCheck::End() const {
    const TVerdict verdict = Judge();
    return verdict == TVerdict::Page ? verdict : TVerdict::NotPage;
}

TPageCheck::TVerdict TPageCheck::Judge() const {
    static const uint8_t Bom[] = {0xEF, 0xBB, 0xBF};
    const size_t size = Bytes.size();
    size_t i = 0;
    while (i < 3 && i < size && Bytes[i] == Bom[i])
        ++i;
    if (i < 3 && i == size) return TVerdict::Undecided; // the mark may go on
    if (i < 3) i = 0;
    while (i < size &&
           (Bytes[i] == ' ' || Bytes[i] == '\t' || Bytes[i] == '\r' || Bytes[i] == '\n'))
        ++i;
    if (i == size) return TVerdict::Undecided;
    if (Bytes[i] != '<') return TVerdict::NotPage;
    if (i + 1 == size) return TVerdict::Undecided;
    const char next = Lower(static_cast<char>(Bytes[i + 1]));
    return (next >= 'a' && next <= 'z') || next == '!' || next == '?' ? TVerdict::Page
                                                                      : TVerdict::NotPage;
}

} // namespace xldl
