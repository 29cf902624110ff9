#include "runtime/FolderFacts.h"

#include <string>

namespace {

// Rights as Windows has them.
constexpr uint32_t AddFile = 0x00000002, AddSubfolder = 0x00000004, WriteEa = 0x00000010,
                   DeleteChild = 0x00000040, WriteAttributes = 0x00000100, Delete = 0x00010000,
                   WriteDac = 0x00040000, WriteOwner = 0x00080000, GenericAll = 0x10000000,
                   GenericWrite = 0x40000000;
// What lets someone give themselves any right at all.
constexpr uint32_t TakeOver = WriteDac | WriteOwner | GenericAll;
// The rights that change a folder or what is in it.
constexpr uint32_t ChangingRights = AddFile | AddSubfolder | WriteEa | DeleteChild |
                                    WriteAttributes | Delete | TakeOver | GenericWrite;
// What lets someone delete or rename the folder itself; or what is in it.
constexpr uint32_t DeletingRights = Delete | TakeOver;
constexpr uint32_t EmptyingRights = DeleteChild | TakeOver;
// Far more folders above one than any save folder has: beyond, refused rather than judged.
constexpr int MaxLevels = 128;

// `path` without the backslashes it may end in, but for a root's ("D:\").
std::wstring Bare(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    return path;
}

// The folder above `path` ("D:\KORVA" -> "D:\", "\\server\share\KORVA" -> "\\server\share\"),
// or nothing at a root (a volume's, a share's).
std::wstring Parent(const std::wstring& path) {
    const std::wstring p = Bare(path);
    const size_t slash = p.find_last_of(L'\\');
    if (slash == std::wstring::npos || p.size() <= 3) return {};
    if (slash == 2 && p[1] == L':') return p.substr(0, 3);
    if (p.compare(0, 2, L"\\\\") == 0) {
        const size_t share = p.find(L'\\', 2); // before the share's name
        if (share == std::wstring::npos || share >= slash) return {};
        if (p.find(L'\\', share + 1) >= slash) return p.substr(0, slash + 1);
    }
    return p.substr(0, slash);
}

// Whether someone other than ours holds any of `rights` over the folder itself.
bool OthersHold(const TFolderFacts& facts, uint32_t rights) {
    if (facts.NoAccessList) return true;
    for (const TGrant& g : facts.Grants)
        if (!g.Ours && !g.InheritOnly && (g.Rights & rights)) return true;
    return false;
}

bool LinkIsOurs(const TFolderFacts& link) {
    return link.OwnerOurs && !OthersMayChange(link);
}

// Whether what lies in the folder stays there: nobody else may delete or rename it from there.
bool KeepsWhatIsInIt(const TFolderFacts& folder) {
    return folder.Folder && folder.AccessControl && folder.OwnerOurs &&
           !OthersHold(folder, EmptyingRights);
}

// Whether every folder above `folder` keeps it where it is: nobody else may delete or rename
// one of them, by its own rights or by its parent's, and every link among them is ours.
bool StaysInPlace(const std::wstring& folder, const TFolderReader& read) {
    int levels = 0;
    for (std::wstring above = Parent(folder); !above.empty(); above = Parent(above)) {
        if (++levels > MaxLevels) return false;
        const TFolderFacts seen = read(above, false);
        if (seen.Link && !LinkIsOurs(seen)) return false;
        // A link's contents are where it leads.
        if (!KeepsWhatIsInIt(seen.Link ? read(above, true) : seen)) return false;
        // A root cannot be renamed; anything below one can.
        if (!Parent(above).empty() && (!seen.OwnerOurs || OthersHold(seen, DeletingRights)))
            return false;
    }
    return true;
}

} // namespace

bool OthersMayChange(const TFolderFacts& facts) {
    return OthersHold(facts, ChangingRights);
}

bool OnlyOurs(const TFolderFacts& facts) {
    return facts.Folder && facts.AccessControl && facts.OwnerOurs && !OthersMayChange(facts);
}

bool FolderIsOurs(const std::wstring& path, const TFolderReader& read) {
    const std::wstring folder = Bare(path);
    const TFolderFacts self = read(folder, false);
    if (!self.Folder) return false;
    const TFolderFacts real = read(folder, true);
    if (self.Link ? !(LinkIsOurs(self) && OnlyOurs(real)) : !OnlyOurs(self)) return false;
    if (!StaysInPlace(folder, read)) return false;
    // Where it really lies (mostly the same path again).
    return real.FinalPath.empty() || StaysInPlace(Bare(real.FinalPath), read);
}
