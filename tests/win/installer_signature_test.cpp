// The check that an installer is the maker's, over the stand-in installer signed in every way
// it must tell apart, and its start: held against writers until the shell has it, deleted when
// refused, and the shell's failures told apart.
#include "app/InstallerLaunch.h"
#include "app/InstallerSignature.h"
#include "app/InstallerVersion.h"
#include "tests/win/SignedInstallers.h"
#include "tests/win/TestPaths.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

TSignatureCheck Check(const std::string& variant, const std::wstring& publisher = MakerName) {
    const std::wstring path = Wide(SignedInstaller(variant));
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << variant;
    const TSignatureCheck check = VerifyInstallerSignature(file, path, publisher);
    CloseHandle(file);
    return check;
}

// What Windows' own check passes under Wine is marked: the cases this check exists for.
TEST(InstallerSignature, OnlyTheMakersIntactSignatureValidNowOrWhenStampedPasses) {
    struct Case {
        const char* Variant;
        TSignatureVerdict Verdict;
        bool Stamped;
    };
    const Case cases[] = {
        {"good", TSignatureVerdict::Good, false},
        {"good-stamped", TSignatureVerdict::Good, true},
        {"expired-stamped", TSignatureVerdict::Good, true}, // expired since; valid when stamped
        {"host1", TSignatureVerdict::Good, false},
        {"not-a-program", TSignatureVerdict::Good, false},
        {"library-newer", TSignatureVerdict::Good, false},
        {"tampered", TSignatureVerdict::Broken, false},
        {"bad-signature", TSignatureVerdict::Broken, false},
        {"forged", TSignatureVerdict::Broken, false}, // Wine's check passes it
        {"unsigned", TSignatureVerdict::Unsigned, false},
        {"other-publisher", TSignatureVerdict::OtherPublisher, false}, // Wine passes it
        {"lookalike", TSignatureVerdict::OtherPublisher, false},       // Wine passes it
        {"untrusted-root", TSignatureVerdict::Untrusted, false},       // Wine passes it
        {"expired", TSignatureVerdict::Expired, false},                // Wine passes it
        {"not-yet-valid", TSignatureVerdict::Expired, false},          // Wine passes it
        {"expired-stamped-late", TSignatureVerdict::Expired, true},    // stamped after expiry
        {"expired-untrusted-stamp", TSignatureVerdict::BadTimestamp, false},
        // A stamp of the day it was valid, lifted from another signature.
        {"expired-borrowed-stamp", TSignatureVerdict::BadTimestamp, false},
        {"server-auth", TSignatureVerdict::WrongUsage, false}, // Wine passes it
        {"revoked", TSignatureVerdict::Revoked, false},        // its issuer's list comes with it
        // The older Authenticode counter-signature, told apart as the RFC 3161 stamp is.
        {"expired-legacy-stamped", TSignatureVerdict::Good, true},
        {"expired-legacy-late", TSignatureVerdict::Expired, true},
        {"expired-legacy-untrusted", TSignatureVerdict::BadTimestamp, false},
        {"expired-legacy-borrowed", TSignatureVerdict::BadTimestamp, false},
        {"expired-legacy-forged", TSignatureVerdict::BadTimestamp, false},
        // An authority not made for time stamping: its chain for it passes, the stamp counts not.
        {"expired-legacy-no-usage", TSignatureVerdict::BadTimestamp, false},
        // Lifetime signing: the stamp sets no time, so expired is expired.
        {"lifetime-expired-stamped", TSignatureVerdict::Expired, false},
        // Both kinds on one signature: the RFC 3161 time counts, and both must verify.
        {"expired-both-stamped", TSignatureVerdict::Good, true},
        {"expired-both-late", TSignatureVerdict::Expired, true},
        {"expired-both-untrusted-legacy", TSignatureVerdict::BadTimestamp, false},
    };
    for (const Case& c : cases) {
        const TSignatureCheck check = Check(c.Variant);
        EXPECT_EQ(SignatureVerdictName(check.Verdict), std::string(SignatureVerdictName(c.Verdict)))
            << c.Variant << ", detail 0x" << std::hex << check.Detail;
        EXPECT_EQ(check.Stamped, c.Stamped) << c.Variant;
    }
}

TEST(InstallerSignature, ThePublisherIsTheWholeCommonNameAndNothingElse) {
    // The other publisher's certificate is fine in every other way: only the name refuses it.
    EXPECT_EQ(Check("other-publisher", L"Kestrel Utilities Co., Ltd.").Verdict,
              TSignatureVerdict::Good);
    // Its organisation is the maker's name: that does not count.
    EXPECT_EQ(Check("other-publisher").Verdict, TSignatureVerdict::OtherPublisher);
    EXPECT_EQ(Check("lookalike", L"Orlenz Software Co., Ltd").Verdict, TSignatureVerdict::Good);
    for (const wchar_t* almost : {L"Orlenz Software Co., Ltd", L"orlenz software co., ltd.",
                                  L"Orlenz Software Co., Ltd. ", L"Orlenz Software"})
        EXPECT_EQ(Check("good", almost).Verdict, TSignatureVerdict::OtherPublisher);
}

TEST(InstallerSignature, AFileNotOpenIsNotChecked) {
    EXPECT_EQ(VerifyInstallerSignature(INVALID_HANDLE_VALUE, L"Z:\\nothing.exe").Verdict,
              TSignatureVerdict::Unreadable);
}

// The tool's record of the newest installer it verified, under a name of this test process's
// own (tests and tools run side by side in this prefix), empty at the start and removed after.
class TOwnRecord {
public:
    TOwnRecord() : Name(L"NewestInstallerVersion-test-" + std::to_wstring(GetCurrentProcessId())) {
        Clear();
        NewestVersionValue = Name.c_str();
    }
    ~TOwnRecord() {
        Clear();
        NewestVersionValue = Saved;
    }
    TOwnRecord(const TOwnRecord&) = delete;
    TOwnRecord& operator=(const TOwnRecord&) = delete;

    void Set(const wchar_t* name, DWORD type, const std::vector<uint8_t>& bytes) const {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, ToolRegistryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr);
        RegSetValueExW(key, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
        RegCloseKey(key);
    }
    void Set(const TVersionRecord& record) const {
        Set(Name.c_str(), REG_BINARY, FormatVersionRecord(record));
    }
    std::optional<TVersionRecord> Get(const wchar_t* name = nullptr) const {
        uint8_t bytes[16];
        DWORD size = sizeof bytes;
        if (RegGetValueW(HKEY_CURRENT_USER, ToolRegistryKey, name ? name : Name.c_str(), RRF_RT_ANY,
                         nullptr, bytes, &size) != ERROR_SUCCESS)
            return std::nullopt;
        return ParseVersionRecord(bytes, size);
    }

private:
    void Clear() const {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, ToolRegistryKey, 0, KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS)
            return;
        RegDeleteValueW(key, Name.c_str());
        RegCloseKey(key);
    }
    const std::wstring Name;
    const wchar_t* const Saved = NewestVersionValue;
};

// The launch, in a folder of its own, with the shell recorded or real.
class Launch : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        Dir = std::string(temp) + "orlenz-launch-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(Dir.c_str(), nullptr);
        Path = Dir + "\\setup.exe";
        DeleteFileA(Path.c_str());
        DeleteFileA((Dir + "\\setup-started.txt").c_str());
        Saved = ShellExecuteProc;
        Calls = 0;
    }
    void TearDown() override { ShellExecuteProc = Saved; }

    static BOOL WINAPI Recorder(SHELLEXECUTEINFOW* info) {
        ++Calls;
        // Nobody can change or remove the file while the shell starts it.
        const HANDLE writer = CreateFileW(info->lpFile, GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        WriterRefused = writer == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        const std::wstring moved = std::wstring(info->lpFile) + L".moved";
        RenameRefused = !MoveFileW(info->lpFile, moved.c_str());
        if (!RenameRefused) MoveFileW(moved.c_str(), info->lpFile);
        return TRUE;
    }

    TOwnRecord OwnRecord;
    std::string Dir, Path;
    TShellExecuteProc Saved = nullptr;
    static inline int Calls = 0;
    static inline bool WriterRefused = false, RenameRefused = false;
};

TEST_F(Launch, TheMakersInstallerIsHeldUntilTheShellHasIt) {
    ASSERT_TRUE(PutSignedInstaller("good", Path));
    ShellExecuteProc = Recorder;
    const TLaunch launch = LaunchInstaller(nullptr, Wide(Path));
    EXPECT_TRUE(launch.Started);
    EXPECT_EQ(Calls, 1);
    EXPECT_TRUE(WriterRefused);
    EXPECT_TRUE(RenameRefused);
    const HANDLE writer =
        CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "released once started";
    CloseHandle(writer);
}

TEST_F(Launch, ARefusedInstallerIsDeletedAndNeverReachesTheShell) {
    ShellExecuteProc = Recorder;
    for (const char* variant : {"tampered", "forged", "unsigned", "untrusted-root"}) {
        ASSERT_TRUE(PutSignedInstaller(variant, Path));
        const TLaunch launch = LaunchInstaller(nullptr, Wide(Path));
        EXPECT_FALSE(launch.Started) << variant;
        EXPECT_EQ(launch.Trouble, TStartTrouble::NotTheMakers) << variant;
        EXPECT_EQ(GetFileAttributesA(Path.c_str()), INVALID_FILE_ATTRIBUTES) << variant;
    }
    EXPECT_EQ(Calls, 0);
}

// By their version resources: 2.0 all, but "host1-old-restamped", 1.0 though stamped today, and
// the maker's library and its other product, 3.0; stamped 200 and 100 days ago or not at all,
// which changes nothing.
TEST_F(Launch, NoInstallerOfALowerVersionThanTheNewestVerifiedStarts) {
    ShellExecuteProc = Recorder;
    const TBuildVersion v2 = BuildVersion(2, 0, 0, 0);
    const int64_t now = static_cast<int64_t>(time(nullptr));
    struct Step {
        const char* Variant;
        bool Started;
        TStartTrouble Trouble;
        std::optional<TVersionRecord> Before = std::nullopt; // put in place first
    };
    const Step steps[] = {
        {"other-publisher", false, TStartTrouble::NotTheMakers}, // refused: its version not kept
        {"host1-old-restamped", true, {}},
        {"good", true, {}},
        // The maker's, but not its installer: refused as another's file, its version not kept.
        {"library-newer", false, TStartTrouble::NotTheMakers},
        {"other-product-newer", false, TStartTrouble::NotTheMakers},
        {"host1-old-restamped", false, TStartTrouble::Older},
        {"expired-stamped", true, {}},        // the same build again
        {"expired-legacy-stamped", true, {}}, // and again
        {"good", false, TStartTrouble::Older, TVersionRecord{v2 + 1, now + 86000}},
        // A record kept by a clock that ran ahead (or planted) is no wall.
        {"good", true, {}, TVersionRecord{v2 + 1, now + 2 * 86400}},
        {"host1-old-restamped", false, TStartTrouble::Older},
    };
    // What an earlier release kept (a signing time far ahead) orders nothing, and goes.
    OwnRecord.Set(EarlierNewestValue, REG_QWORD, std::vector<uint8_t>(8, 0x7F));
    int started = 0;
    for (const Step& s : steps) {
        if (s.Before) OwnRecord.Set(*s.Before);
        ASSERT_TRUE(PutSignedInstaller(s.Variant, Path));
        const TLaunch launch = LaunchInstaller(nullptr, Wide(Path));
        EXPECT_EQ(launch.Started, s.Started) << s.Variant;
        started += s.Started;
        EXPECT_EQ(Calls, started) << s.Variant;
        if (s.Started) {
            const auto kept = OwnRecord.Get();
            ASSERT_TRUE(kept.has_value()) << s.Variant;
            EXPECT_LE(std::abs(kept->RecordedAt - now), 3600) << s.Variant;
            continue;
        }
        EXPECT_EQ(launch.Trouble, s.Trouble) << s.Variant;
        EXPECT_EQ(GetFileAttributesA(Path.c_str()), INVALID_FILE_ATTRIBUTES) << s.Variant;
    }
    EXPECT_EQ(OwnRecord.Get()->Version, v2);
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, ToolRegistryKey, EarlierNewestValue, RRF_RT_ANY,
                           nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
}

// The folder renamed aside and another put in its place (where the system lets a held folder be
// renamed at all, as Wine does): nothing starts from that one.
TEST_F(Launch, NothingStartsFromAFolderPutInTheHeldOnesPlace) {
    ShellExecuteProc = Recorder;
    const std::string aside = Dir + "-aside";
    DeleteFileA((aside + "\\setup.exe").c_str());
    RemoveDirectoryA(aside.c_str());
    ASSERT_TRUE(PutSignedInstaller("good", Path));
    const TFolderHold hold(Wide(Dir));
    EXPECT_TRUE(LaunchInstaller(nullptr, Wide(Path), &hold).Started);
    if (!MoveFileA(Dir.c_str(), aside.c_str())) return; // held, as on Windows
    ASSERT_TRUE(CreateDirectoryA(Dir.c_str(), nullptr));
    ASSERT_TRUE(PutSignedInstaller("good", Path));
    const TLaunch launch = LaunchInstaller(nullptr, Wide(Path), &hold);
    EXPECT_FALSE(launch.Started);
    EXPECT_EQ(launch.Trouble, TStartTrouble::Missing);
    EXPECT_EQ(Calls, 1);
}

TEST_F(Launch, ARefusedInstallerThatCannotBeDeletedIsSaidToBeThere) {
    ASSERT_TRUE(PutSignedInstaller("unsigned", Path));
    // Another program reads it and lets nobody delete it.
    const HANDLE other = CreateFileA(Path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    const TLaunch launch = LaunchInstaller(nullptr, Wide(Path));
    CloseHandle(other);
    EXPECT_FALSE(launch.Started);
    EXPECT_EQ(launch.Trouble, TStartTrouble::NotTheMakersKept);
    EXPECT_NE(GetFileAttributesA(Path.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The real shell: a good installer runs; a file it cannot start, or one that is not there,
// is a trouble of its own.
TEST_F(Launch, TheRealShellStartsItOrSaysWhyNot) {
    ASSERT_TRUE(PutSignedInstaller("good", Path));
    TLaunch launch = LaunchInstaller(nullptr, Wide(Path));
    EXPECT_TRUE(launch.Started);
    EXPECT_TRUE(WaitFor(
        [&] {
            return GetFileAttributesA((Dir + "\\setup-started.txt").c_str()) !=
                   INVALID_FILE_ATTRIBUTES;
        },
        15000))
        << "the stand-in installer ran";

    ASSERT_TRUE(PutSignedInstaller("not-a-program", Path));
    launch = LaunchInstaller(nullptr, Wide(Path));
    EXPECT_FALSE(launch.Started);
    EXPECT_EQ(launch.Trouble, TStartTrouble::Other) << "error " << launch.Error;
    EXPECT_NE(GetFileAttributesA(Path.c_str()), INVALID_FILE_ATTRIBUTES) << "a good file stays";

    DeleteFileA(Path.c_str());
    launch = LaunchInstaller(nullptr, Wide(Path));
    EXPECT_EQ(launch.Trouble, TStartTrouble::Missing);
    EXPECT_EQ(launch.Error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

} // namespace
