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
        {"others may delete it",
         [](TFolderFacts& f) {
             f.Grants.push_back({false, 0x10000, false});
         },
         false},
        {"others may change its access list",
         [](TFolderFacts& f) {
             f.Grants.push_back({false, 0x40000, false});
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

TEST(FolderFacts, EveryLinkOnTheWayIsOursAndTheFolderLeadsToOneOfOurs) {
    // D:\KORVA, its volume's root D:\, and where links lead.
    struct {
        const char* What;
        std::map<std::wstring, TFolderFacts> Seen, Followed;
        bool Ours;
    } cases[] = {
        {"a plain folder", {{L"D:\\KORVA", Ours()}, {L"D:\\", Ours()}}, {}, true},
        {"a link of ours to a folder of ours",
         {{L"D:\\KORVA", Ours()}, {L"D:\\", Ours()}},
         {{L"D:\\KORVA", Ours()}},
         true},
        {"a link of ours to someone else's folder",
         {{L"D:\\KORVA", Ours()}, {L"D:\\", Ours()}},
         {{L"D:\\KORVA", Ours()}},
         false},
        {"someone else's link", {{L"D:\\KORVA", Ours()}, {L"D:\\", Ours()}}, {}, false},
        {"someone else's link above it", {{L"D:\\KORVA", Ours()}, {L"D:\\", Ours()}}, {}, false},
    };
    cases[1].Seen[L"D:\\KORVA"].Link = true;
    cases[2].Seen[L"D:\\KORVA"].Link = true;
    cases[2].Followed[L"D:\\KORVA"].OwnerOurs = false;
    cases[3].Seen[L"D:\\KORVA"].Link = true;
    cases[3].Seen[L"D:\\KORVA"].OwnerOurs = false;
    cases[4].Seen[L"D:\\"].Link = true;
    cases[4].Seen[L"D:\\"].Grants.push_back({false, Modify, false});
    for (const auto& c : cases) {
        std::vector<std::wstring> asked;
        const auto read = [&](const std::wstring& path, bool follow) {
            asked.push_back(path);
            const auto& where = follow ? c.Followed : c.Seen;
            const auto it = where.find(path);
            return it == where.end() ? TFolderFacts{} : it->second;
        };
        EXPECT_EQ(FolderIsOurs(L"D:\\KORVA\\", read), c.Ours) << c.What;
        if (c.Ours) {
            EXPECT_EQ(asked.back(), L"D:\\") << c.What << ": the walk ends at the root";
        }
    }
}

} // namespace
