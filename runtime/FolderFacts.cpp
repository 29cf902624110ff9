#include "runtime/FolderFacts.h"

#include <string>

namespace {

// The rights that change a folder or what is in it (their values as Windows has them).
constexpr uint32_t ChangingRights = 0x00000002 | // FILE_ADD_FILE
                                    0x00000004 | // FILE_ADD_SUBDIRECTORY
                                    0x00000010 | // FILE_WRITE_EA
                                    0x00000040 | // FILE_DELETE_CHILD
                                    0x00000100 | // FILE_WRITE_ATTRIBUTES
                                    0x00010000 | // DELETE
                                    0x00040000 | // WRITE_DAC
                                    0x00080000 | // WRITE_OWNER
                                    0x10000000 | // GENERIC_ALL
                                    0x40000000;  // GENERIC_WRITE

// `path` without the backslashes it may end in, but for a root's ("D:\").
std::wstring Bare(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    return path;
}

// The folder above `path` ("D:\KORVA" -> "D:\"), or nothing at a root.
std::wstring Parent(const std::wstring& path) {
    const std::wstring p = Bare(path);
    const size_t slash = p.find_last_of(L'\\');
    if (slash == std::wstring::npos || p.size() <= 3) return {};
    // "X:\" stays a root with its backslash; a share's root ("\\server\share") ends the walk.
    if (slash == 2 && p[1] == L':') return p.substr(0, 3);
    if (p.compare(0, 2, L"\\\\") == 0 && p.find(L'\\', 2) >= slash) return {};
    return p.substr(0, slash);
}

bool LinkIsOurs(const TFolderFacts& link) {
    return link.OwnerOurs && !OthersMayChange(link);
}

} // namespace

bool OthersMayChange(const TFolderFacts& facts) {
    if (facts.NoAccessList) return true;
    for (const TGrant& g : facts.Grants)
        if (!g.Ours && !g.InheritOnly && (g.Rights & ChangingRights)) return true;
    return false;
}

bool OnlyOurs(const TFolderFacts& facts) {
    return facts.Folder && facts.AccessControl && facts.OwnerOurs && !OthersMayChange(facts);
}

bool FolderIsOurs(const std::wstring& path, const TFolderReader& read) {
    const std::wstring folder = Bare(path);
    const TFolderFacts self = read(folder, false);
    if (!self.Folder) return false;
    if (self.Link ? !(LinkIsOurs(self) && OnlyOurs(read(folder, true))) : !OnlyOurs(self))
        return false;
    for (std::wstring above = Parent(folder); !above.empty(); above = Parent(above)) {
        const TFolderFacts f = read(above, false);
        if (f.Link && !LinkIsOurs(f)) return false;
    }
    return true;
}
