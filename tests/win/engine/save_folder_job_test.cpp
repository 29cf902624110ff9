// The whole job where drive D: cannot take the installer: run by with_drive.py, in a prefix of
// its own, once per state of D: (XLDL_TEST_DRIVE). Where D: works the installer is exactly at
// D:\KORVA\setup.exe as always; where it does not, in the user's Downloads folder (moved, and
// named in scripts the ANSI code page lacks) plus KORVA\, or in the local application data plus
// Orlenz\KORVA\ when even that cannot be; verified and started there, exit code 0.
#include "tests/win/MovedDownloads.h"
#include "tests/win/engine/WholeJobSupport.h"

#include <cstdlib>

namespace {

using namespace mirror;

std::optional<std::vector<uint8_t>> ReadWide(const std::wstring& path) {
    const HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<size_t>(GetFileSize(f, nullptr)));
    DWORD got = 0;
    const bool ok = ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(f);
    if (!ok || got != bytes.size()) return std::nullopt;
    return bytes;
}

bool ExistsWide(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class SaveFolderJob : public WholeJob {
protected:
    void SetUp() override {
        const char* drive = std::getenv("XLDL_TEST_DRIVE");
        if (!drive) GTEST_SKIP() << "run through with_drive.py";
        Drive = drive;
        WholeJob::SetUp();
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        // "Downloads" in Chinese, Korean and with a letter no East Asian code page has.
        Downloads = std::wstring(temp) + L"\u4E0B\u8F7D-\uB2E4\uC6B4\uB85C\uB4DC-\u00D8";
        LocalData = std::wstring(temp) + L"local-\uB2E4\uC6B4";
        for (const std::wstring& folder : {Downloads, LocalData + L"\\Orlenz"})
            for (const wchar_t* f :
                 {L"\\KORVA\\setup.exe", L"\\KORVA\\setup.exe.done", L"\\KORVA\\setup-started.txt"})
                DeleteFileW((folder + f).c_str());
        RemoveDirectoryW((LocalData + L"\\Orlenz\\KORVA").c_str()); // made by the run
        RemoveDirectoryW((LocalData + L"\\Orlenz").c_str());
        CreateDirectoryW(Downloads.c_str(), nullptr);
        CreateDirectoryW(LocalData.c_str(), nullptr);
    }

    // What D: is, as the tool will find it: the harness set it up.
    void ExpectDrive() {
        const DWORD root = GetFileAttributesW(L"D:\\");
        if (Drive == "none") {
            EXPECT_EQ(root, INVALID_FILE_ATTRIBUTES) << "there is a drive D:";
            return;
        }
        ASSERT_NE(root, INVALID_FILE_ATTRIBUTES);
        const HANDLE probe =
            CreateFileW(L"D:\\probe.tmp", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);
            DeleteFileW(L"D:\\probe.tmp");
        }
        EXPECT_EQ(probe != INVALID_HANDLE_VALUE, Drive != "readonly") << "D: takes files";
        if (Drive == "blocked") {
            const DWORD a = GetFileAttributesW(L"D:\\KOrva");
            EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY))
                << "no file in the folder's way";
        }
    }

    // One run: the installer saved in `folder`, byte for byte mirror 1's, started there.
    void ExpectSavedIn(const std::wstring& folder, const std::string& what) {
        TToolProcess tool;
        ASSERT_TRUE(StartAndPress(tool, 1)) << what;
        EXPECT_EQ(tool.ExitCode(120000), 0) << what;
        const auto saved = ReadWide(folder + L"setup.exe");
        ASSERT_TRUE(saved.has_value()) << what << ": nothing in the folder";
        EXPECT_TRUE(*saved == Served[0]) << what;
        EXPECT_TRUE(WaitFor([&] { return ExistsWide(folder + L"setup-started.txt"); }, 15000))
            << what << ": not started there";
        if (folder != L"D:\\KORVA\\") {
            EXPECT_FALSE(ExistsWide(L"D:\\KORVA\\setup.exe")) << what;
        }
    }

    std::string Drive;
    std::wstring Downloads, LocalData;
};

TEST_F(SaveFolderJob, TheInstallerLandsWhereItCanBeSaved) {
    ExpectDrive();
    // Never the Downloads folder of whoever runs the tests: Wine links it to their home.
    TMovedDownloads moved(Downloads);
    if (Drive == "usable") {
        ExpectSavedIn(L"D:\\KORVA\\", "D: works");
        return;
    }
    ExpectSavedIn(Downloads + L"\\KORVA\\", "D: " + Drive);
    if (Drive != "none") return;
    // A Downloads folder that cannot be (under a file): a folder made in the local application
    // data, named in another script as well.
    TMovedDownloads local(LocalData, TMovedDownloads::LocalAppData);
    const std::wstring file = LocalData + L"\\in-the-way";
    const HANDLE f =
        CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
    moved.Set(file + L"\\Downloads");
    Script("{}");
    ExpectSavedIn(LocalData + L"\\Orlenz\\KORVA\\", "neither D: nor Downloads");
}

} // namespace
