// Whether a folder is this user's alone, from what Windows says of it, of the folders above it
// and of the links on the way to it.
#include "runtime/FolderFacts.h"

#include <gtest/gtest.h>

#include <map>

namespace {

constexpr uint32_t Read = 0x1200A9, Modify = 0x1301BF, Full = 0x1F01FF, Delete = 0x10000,
                   DeleteChild = 0x40, WriteDac = 0x40000;

// A folder of ours: the user, SYSTEM and the Administrators may do anything, everyone may read.
TFolderFacts Ours() {
    TFolderFacts f;
    f.Folder = f.AccessControl = f.OwnerOurs = true;
    f.Grants = {{true, Full, false}, {true, Full, false}, {false, Read, false}};
    return f;
}

using TChange = void (*)(TFolderFacts&);
// Someone else may do `Rights` to the folder itself (or, `Inside`, to what is made in it).
template <uint32_t Rights, bool Inside = false> void Others(TFolderFacts& f) {
    f.Grants.push_back({false, Rights, Inside});
}
void SomeoneElses(TFolderFacts& f) {
    f.OwnerOurs = false;
}
void Link(TFolderFacts& f) {
    f.Link = true;
}
// `levels` folders, each in the one before.
std::wstring Deep(int levels) {
    std::wstring path;
    for (int i = 0; i < levels; ++i)
        path += L"\\a";
    return path;
}

TEST(FolderFacts, OnlyAFolderNobodyElseMayChangeIsOurs) {
    const struct {
        const char* What;
        TChange Change;
        bool Ours;
    } cases[] = {
        {"ours", [](TFolderFacts&) {}, true},
        {"someone else's", SomeoneElses, false},
        {"others may write", Others<Modify>, false},
        // Each right that changes the folder, on its own.
        {"others may delete it", Others<Delete>, false},
        {"others may delete what is in it", Others<DeleteChild>, false},
        {"others may change its access list", Others<WriteDac>, false},
        {"others may take it over", Others<0x80000>, false},
        {"others may do anything", Others<0x10000000>, false},
        {"others may write, generically", Others<0x40000000>, false},
        {"others may write what is made inside only", Others<Full, true>, true},
        {"no access list", [](TFolderFacts& f) { f.NoAccessList = true; }, false},
        {"on FAT", [](TFolderFacts& f) { f.AccessControl = false; }, false},
        {"not there", [](TFolderFacts& f) { f.Folder = false; }, false},
    };
    for (const auto& c : cases) {
        TFolderFacts f = Ours();
        c.Change(f);
        EXPECT_EQ(OnlyOurs(f), c.Ours) << c.What;
    }
}

// The folder and every folder above it, as each is seen and as followed where it is a link;
// every path not named reads as a folder of ours.
TEST(FolderFacts, NobodyElseMayChangeOrRenameItOrAFolderAboveItNorALinkOnTheWay) {
    const struct {
        const char* What;
        std::wstring Folder;
        std::map<std::wstring, TChange> Seen, Followed;
        bool Ours;
    } cases[] = {
        {"a plain folder", L"D:\\KORVA\\", {}, {}, true},
        {"a link of ours to a folder of ours, elsewhere",
         L"D:\\KORVA",
         {{L"D:\\KORVA", Link}},
         {{L"D:\\KORVA", [](TFolderFacts& f) { f.FinalPath = L"E:\\dl\\KORVA"; }}},
         true},
        {"a link of ours to someone else's folder",
         L"D:\\KORVA",
         {{L"D:\\KORVA", Link}},
         {{L"D:\\KORVA", SomeoneElses}},
         false},
        {"someone else's link",
         L"D:\\KORVA",
         {{L"D:\\KORVA", [](TFolderFacts& f) { Link(f), SomeoneElses(f); }}},
         {},
         false},
        {"a link above it that others may change",
         L"D:\\KORVA",
         {{L"D:\\", [](TFolderFacts& f) { Link(f), Others<Modify>(f); }}},
         {},
         false},
        {"its parent lets others delete what is in it",
         L"D:\\KORVA",
         {{L"D:\\", Others<DeleteChild>}},
         {},
         false},
        {"its parent lets others take it over",
         L"D:\\KORVA",
         {{L"D:\\", Others<WriteDac>}},
         {},
         false},
        {"its parent is someone else's", L"D:\\K", {{L"D:\\", SomeoneElses}}, {}, false},
        {"not there",
         L"D:\\KORVA",
         {{L"D:\\KORVA", [](TFolderFacts& f) { f.Folder = false; }}},
         {},
         false},
        {"others may make folders beside it, and do anything to what is made inside only",
         L"D:\\KORVA",
         {{L"D:\\", [](TFolderFacts& f) { Others<0x1200AF>(f), Others<Full, true>(f); }}},
         {},
         true},
        {"a root others may delete", L"D:\\KORVA", {{L"D:\\", Others<Delete>}}, {}, true},
        {"three levels up, one lets others delete what is in it",
         L"C:\\Users\\Ann\\Downloads\\KORVA",
         {{L"C:\\Users", Others<DeleteChild>}},
         {},
         false},
        {"two levels up, one others may delete",
         L"C:\\Users\\Ann\\Downloads\\KORVA",
         {{L"C:\\Users\\Ann", Others<Delete>}},
         {},
         false},
        {"a link above it leads to a folder that lets others delete what is in it",
         L"C:\\Users\\Ann\\Downloads\\KORVA",
         {{L"C:\\Users\\Ann\\Downloads", Link}},
         {{L"C:\\Users\\Ann\\Downloads", Others<DeleteChild>}},
         false},
        {"where links lead, a folder above its own path lets others delete what is in it",
         L"C:\\Users\\Ann\\Downloads\\KORVA",
         {{L"E:\\Users", Others<DeleteChild>}},
         {{L"C:\\Users\\Ann\\Downloads\\KORVA",
           [](TFolderFacts& f) { f.FinalPath = L"E:\\Users\\Ann\\Downloads\\KORVA"; }}},
         false},
        {"where links lead, a folder above its own, shorter path lets others delete what is in it",
         L"C:\\Users\\Ann\\Downloads\\KORVA",
         {{L"E:\\dl", Others<DeleteChild>}},
         {{L"C:\\Users\\Ann\\Downloads\\KORVA",
           [](TFolderFacts& f) { f.FinalPath = L"E:\\dl\\KORVA"; }}},
         false},
        {"on a share, the walk ending at its root",
         L"\\\\server\\share\\dl\\KORVA",
         {{L"\\\\server\\", [](TFolderFacts& f) { f.Folder = false; }}},
         {},
         true},
        {"128 folders deep", std::wstring(L"D:") + Deep(128), {}, {}, true},
        {"deeper", std::wstring(L"D:") + Deep(129), {}, {}, false},
        {"on a share whose root lets others delete what is in it",
         L"\\\\server\\share\\KORVA",
         {{L"\\\\server\\share\\", Others<DeleteChild>}},
         {},
         false},
        {"on a share, a folder above it others may delete",
         L"\\\\server\\share\\dl\\KORVA",
         {{L"\\\\server\\share\\dl", Others<Delete>}},
         {},
         false},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> asked;
        const auto read = [&](const std::wstring& path, bool follow) {
            asked.push_back(path);
            TFolderFacts f = Ours();
            const auto& changes = follow ? c.Followed : c.Seen;
            if (const auto it = changes.find(path); it != changes.end()) it->second(f);
            return f;
        };
        EXPECT_EQ(FolderIsOurs(c.Folder, read), c.Ours) << c.What;
        if (c.Ours) {
            EXPECT_EQ(asked.back().back(), L'\\') << c.What << ": the walk ends at the root";
        }
    }
}

} // namespace
