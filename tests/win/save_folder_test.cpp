// Where the installer is saved: the first folder of D:, the Downloads folder as the shell
// reports it (moved, and named outside the ANSI code page) and the local application data's
// that works; whichever folder was chosen exists, takes files, and is held in place. Drive D: is
// this build's folder (the tests that change it run the whole program in a prefix of their own).
#include "app/SaveFolder.h"
#include "tests/win/MovedDownloads.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool IsFolder(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Nothing but the folder itself: the test file that proved it takes files is gone.
bool Empty(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((folder + L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return true;
    int entries = 0;
    do {
        const std::wstring name = found.cFileName;
        entries += name != L"." && name != L"..";
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return entries == 0;
}

class SaveFolder : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        Base = std::wstring(temp) + L"orlenz-save-" +
               std::to_wstring(::testing::UnitTest::GetInstance()->random_seed()) + L"-" +
               std::to_wstring(GetTickCount()) + L"\\";
        ASSERT_TRUE(CreateDirectoryW(Base.c_str(), nullptr));
    }
    void TearDown() override { RemoveD(); }
    // A file in D:'s folder's place, as some users have (what other tests left there goes).
    void BlockD() {
        RemoveD();
        WIN32_FIND_DATAW found;
        const HANDLE find = FindFirstFileW(L"D:\\KORVA\\*", &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileW((std::wstring(L"D:\\KORVA\\") + found.cFileName).c_str());
            } while (FindNextFileW(find, &found));
            FindClose(find);
        }
        RemoveDirectoryW(PreferredFolderToCreate);
        const HANDLE f = CreateFileW(PreferredFolderToCreate, GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        CloseHandle(f);
        Blocked = true;
    }
    void RemoveD() {
        if (Blocked) DeleteFileW(PreferredFolderToCreate);
        Blocked = false;
    }
    std::wstring Base;
    TFolderHold Hold;
    bool Blocked = false;
};

TEST_F(SaveFolder, TheFirstCandidateThatTakesFilesWins) {
    // A file where the folder would be; a folder whose parent is missing; then one that works.
    CreateDirectoryW((Base + L"blocked").c_str(), nullptr);
    const HANDLE f = CreateFileW((Base + L"blocked\\KOrva").c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
    const std::vector<TSaveFolder> candidates{
        {Base + L"blocked\\KOrva", Base + L"blocked\\KORVA\\"},
        {Base + L"missing\\deeper\\KOrva", Base + L"missing\\deeper\\KORVA\\"},
        {Base + L"good\\KOrva", Base + L"good\\KORVA\\"},
        {Base + L"later\\KOrva", Base + L"later\\KORVA\\"},
    };
    CreateDirectoryW((Base + L"good").c_str(), nullptr);
    CreateDirectoryW((Base + L"later").c_str(), nullptr);
    EXPECT_EQ(ChooseSaveFolder(candidates, Hold), Base + L"good\\KORVA\\");
    EXPECT_TRUE(IsFolder(Base + L"good\\KORVA"));
    EXPECT_TRUE(Empty(Base + L"good\\KORVA\\"));
    EXPECT_FALSE(IsFolder(Base + L"later\\KORVA")) << "nothing made beyond the choice";
    EXPECT_FALSE(IsFolder(Base + L"missing")) << "parents are not made";
    EXPECT_TRUE(Hold.At(Base + L"good\\KORVA")) << "held";
    // Made already: taken as it is.
    EXPECT_EQ(ChooseSaveFolder(candidates, Hold), Base + L"good\\KORVA\\");

    // None works: none, and nothing held.
    const std::vector<TSaveFolder> none(candidates.begin(), candidates.begin() + 2);
    EXPECT_EQ(ChooseSaveFolder(none, Hold), L"");
    EXPECT_FALSE(Hold.Held());
    // Where it may, the folder above is made too.
    EXPECT_EQ(ChooseSaveFolder({{Base + L"made\\KOrva", Base + L"made\\KORVA\\", true}}, Hold),
              Base + L"made\\KORVA\\");
}

TEST_F(SaveFolder, DWhereItWorksElseDownloadsElseTheLocalApplicationData) {
    // A user name in another script: Hangul and a Latin letter that code page 936 lacks.
    const std::wstring downloads = Base + L"\uB2E4\uC6B4\uB85C\uB4DC-\u00D8rn";
    const std::wstring local = Base + L"\u4E0B\u8F7D-\uB2E4\uC6B4";
    ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(local.c_str(), nullptr));
    TMovedDownloads moved(downloads), movedLocal(local, TMovedDownloads::LocalAppData);
    const std::vector<TSaveFolder> c = SaveFolderCandidates();
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0].Create, L"D:\\KOrva");
    EXPECT_EQ(c[0].Folder, L"D:\\KORVA\\");
    EXPECT_EQ(c[1].Folder, downloads + L"\\KORVA\\");
    EXPECT_EQ(c[2].Folder, local + L"\\Orlenz\\KORVA\\");

    EXPECT_EQ(ChooseSaveFolder(Hold), L"D:\\KORVA\\");
    Hold.Release();
    BlockD();
    EXPECT_EQ(ChooseSaveFolder(Hold), downloads + L"\\KORVA\\");
    EXPECT_TRUE(IsFolder(downloads + L"\\KORVA")) << "made under its real name";

    // A Downloads folder that cannot be: its parent is a file.
    const HANDLE f =
        CreateFileW((Base + L"file").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
    moved.Set(Base + L"file\\Downloads");
    EXPECT_EQ(ChooseSaveFolder(Hold), local + L"\\Orlenz\\KORVA\\");
    EXPECT_TRUE(OnlyOurs(ReadFolderFacts(local + L"\\Orlenz", false))) << "made the user's alone";
}

TEST_F(SaveFolder, AFolderSomeoneElseMayChangeOrRenameIsPassedOverForTheNext) {
    // What Windows would say of a folder found there (Wine keeps no such access lists of its
    // own): each flaw passes it over, silently, for the next.
    const std::vector<TSaveFolder> candidates{{Base + L"first\\KOrva", Base + L"first\\KORVA\\"},
                                              {Base + L"second\\KOrva", Base + L"second\\KORVA\\"}};
    ASSERT_TRUE(CreateDirectoryW((Base + L"first").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((Base + L"second").c_str(), nullptr));
    struct {
        const char* What;
        void (*Flaw)(TFolderFacts&);
        bool Above = false; // the folder's parent's flaw
    } flaws[] = {
        {"another user's", [](TFolderFacts& f) { f.OwnerOurs = false; }},
        {"others may write",
         [](TFolderFacts& f) {
             f.Grants.push_back({false, 0x1301BF, false});
         }},
        {"a junction of another user's",
         [](TFolderFacts& f) {
             f.Link = true;
             f.OwnerOurs = false;
         }},
        {"on FAT", [](TFolderFacts& f) { f.AccessControl = false; }},
        {"in a folder others may empty",
         [](TFolderFacts& f) {
             f.Grants.push_back({false, 0x40, false});
         },
         true},
    };
    for (const auto& flaw : flaws) {
        const std::wstring at = flaw.Above ? Base + L"first" : candidates[0].Create;
        const auto read = [&](const std::wstring& path, bool follow) {
            TFolderFacts f = ReadFolderFacts(path, follow);
            if (path == at) flaw.Flaw(f);
            return f;
        };
        EXPECT_EQ(ChooseSaveFolder(candidates, Hold, read), candidates[1].Folder) << flaw.What;
    }
    // None works: none, never the last that failed.
    const auto othersOwnAll = [](const std::wstring& path, bool follow) {
        TFolderFacts f = ReadFolderFacts(path, follow);
        f.OwnerOurs = false;
        return f;
    };
    EXPECT_EQ(ChooseSaveFolder(candidates, Hold, othersOwnAll), L"");
    // As it is: made here with an access list of its own, it reads back as ours alone.
    EXPECT_EQ(ChooseSaveFolder(candidates, Hold), candidates[0].Folder);
    const TFolderFacts made = ReadFolderFacts(candidates[0].Create, false);
    EXPECT_TRUE(OnlyOurs(made));
    for (const TGrant& g : made.Grants)
        EXPECT_TRUE(g.Ours || g.InheritOnly)
            << "a right for someone else: 0x" << std::hex << g.Rights;
}

} // namespace
