// Whether a folder is this user's alone, from what Windows says of it and of the links on the
// way to it.
#include "runtime/FolderFacts.h"

#include <gtest/gtest.h>

#include <map>

namespace {

constexpr uint32_t Read = 0x1200A9, Modify = 0x1301BF, Full = 0x1F01FF;

// A folder of ours: the user, SYSTEM and the Administrators may do anything, everyone may read.
TFolderFacts Ours() {
    TFolderFacts f;
    f.Folder = f.AccessControl = f.OwnerOurs = true;
    f.Grants = {{true, Full, false}, {true, Full, false}, {false, Read, false}};
    return f;
}

TEST(FolderFacts, OnlyAFolderNobodyElseMayChangeIsOurs) {
    struct {
        const char* What;
        void (*Change)(TFolderFacts&);
        bool Ours;
    } cases[] = {
        {"ours", [](TFolderFacts&) {}, true},
        {"someone else's", [](TFolderFacts& f) { f.OwnerOurs = false; }, false},
        {"others may write",
         [](TFolderFacts& f) {
             f.Grants.push_back({false, Modify, false});
         },
         false},
        // Each right that changes the folder, on its own.
        {"others may delete it",
         [](TFolderFacts& f) {
             f.Grants.push_back({false, 0x10000, false});
         },
         false},
        {"others may delete what is in it",
         [](TFolderFacts& f) {
             f.Grants.push_back({false, 0x40, false});
         },
         false},
        {"others may change its access list",
         [](TFolderFacts& f) {
             f.Grants.push_back({false, 0x40000, false});
         },
         false},
        {"others may take it over",
         [](TFolderFacts& f) {
             f.Grants.push_back({false, 0x80000, false});
         },
         false},
        {"others may do anything",
         [](TFolderFacts& f) {
             f.Grants.push_back({false, 0x10000000, false});
         },
         false},
        {"others may write",
         [](TFolderFacts& f) {
             f.Grants.push_back({false, 0x40000000, false});
         },
         false},
        {"others may write what is made inside only",
         [](TFolderFacts& f) {
             f.Grants.push_back({false, Full, true});
         },
         true},
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
struct TWalk {
    const char* What;
    std::wstring Folder;
    std::map<std::wstring, void (*)(TFolderFacts&)> Seen, Followed;
    bool Ours;
};

void ExpectWalks(const TWalk& c) {
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

constexpr auto Link = [](TFolderFacts& f) { f.Link = true; };
constexpr auto OthersEmpty = [](TFolderFacts& f) { f.Grants.push_back({false, 0x40, false}); };

TEST(FolderFacts, EveryLinkOnTheWayIsOursAndTheFolderLeadsToOneOfOurs) {
    const TWalk cases[] = {
        {"a plain folder", L"D:\\KORVA\\", {}, {}, true},
        {"a link of ours to a folder of ours", L"D:\\KORVA", {{L"D:\\KORVA", Link}}, {}, true},
        {"a link of ours to someone else's folder",
         L"D:\\KORVA",
         {{L"D:\\KORVA", Link}},
         {{L"D:\\KORVA", [](TFolderFacts& f) { f.OwnerOurs = false; }}},
         false},
        {"someone else's link",
         L"D:\\KORVA",
         {{L"D:\\KORVA",
           [](TFolderFacts& f) {
               f.Link = true;
               f.OwnerOurs = false;
           }}},
         {},
         false},
        {"someone else's link above it",
         L"D:\\KORVA",
         {{L"D:\\",
           [](TFolderFacts& f) {
               f.Link = true;
               f.Grants.push_back({false, 0x1301BF, false});
           }}},
         {},
         false},
    };
    for (const TWalk& c : cases)
        ExpectWalks(c);
}

TEST(FolderFacts, NobodyElseMayRenameTheFolderOrOneAboveItUpToTheRoot) {
    const TWalk cases[] = {
        {"its parent lets others delete what is in it",
         L"D:\\KORVA",
         {{L"D:\\", OthersEmpty}},
         {},
         false},
        {"its parent lets others take it over",
         L"D:\\KORVA",
         {{L"D:\\",
           [](TFolderFacts& f) {
               f.Grants.push_back({false, 0x40000, false});
           }}},
         {},
         false},
        {"its parent is someone else's",
         L"D:\\KORVA",
         {{L"D:\\", [](TFolderFacts& f) { f.OwnerOurs = false; }}},
         {},
         false},
        {"others may make folders beside it, and delete what is made inside only",
         L"D:\\KORVA",
         {{L"D:\\",
           [](TFolderFacts& f) {
               f.Grants.push_back({false, 0x1200AF, false});
               f.Grants.push_back({false, 0x1F01FF, true});
           }}},
         {},
         true},
        {"a root others may delete",
         L"D:\\KORVA",
         {{L"D:\\",
           [](TFolderFacts& f) {
               f.Grants.push_back({false, 0x10000, false});
           }}},
         {},
         true},
        {"three levels up, one lets others delete what is in it",
         L"C:\\Users\\Ann\\Downloads\\KORVA",
         {{L"C:\\Users", OthersEmpty}},
         {},
         false},
        {"three levels up, one others may delete",
         L"C:\\Users\\Ann\\Downloads\\KORVA",
         {{L"C:\\Users\\Ann",
           [](TFolderFacts& f) {
               f.Grants.push_back({false, 0x10000, false});
           }}},
         {},
         false},
        {"a link above it leads to a folder that lets others empty it",
         L"C:\\Users\\Ann\\Downloads\\KORVA",
         {{L"C:\\Users\\Ann\\Downloads", Link}},
         {{L"C:\\Users\\Ann\\Downloads", OthersEmpty}},
         false},
        {"on a share", L"\\\\server\\share\\dl\\KORVA", {}, {}, true},
        {"on a share whose root lets others delete what is in it",
         L"\\\\server\\share\\KORVA",
         {{L"\\\\server\\share\\", OthersEmpty}},
         {},
         false},
        {"on a share, a folder above it others may delete",
         L"\\\\server\\share\\dl\\KORVA",
         {{L"\\\\server\\share\\dl",
           [](TFolderFacts& f) {
               f.Grants.push_back({false, 0x10000, false});
           }}},
         {},
         false},
    };
    for (const TWalk& c : cases)
        ExpectWalks(c);
    // Where links lead elsewhere, the folders above where it really is count too.
    TWalk elsewhere{"its own path lies under a folder that lets others empty it",
                    L"C:\\Users\\Ann\\Downloads\\KORVA",
                    {{L"E:\\dl", OthersEmpty}},
                    {{L"C:\\Users\\Ann\\Downloads\\KORVA",
                      [](TFolderFacts& f) { f.FinalPath = L"E:\\dl\\KORVA"; }}},
                    false};
    ExpectWalks(elsewhere);
}

} // namespace
