#include "runtime/OwnFolder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <vector>

namespace {

struct TLocalFree {
    void operator()(void* p) const { LocalFree(p); }
};

// The user this process runs as.
std::vector<BYTE> UserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    std::vector<BYTE> buffer(256);
    DWORD size = 0;
    bool ok = GetTokenInformation(token, TokenUser, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), &size);
    if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        buffer.resize(size);
        ok = GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    }
    CloseHandle(token);
    if (!ok) return {};
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

// The Windows installer service, which owns the system's own folders (C:\ among them on
// Windows 10 and later): S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
struct {
    BYTE Revision = 1, Count = 6;
    BYTE Authority[6] = {0, 0, 0, 0, 0, 5};
    DWORD Parts[6] = {80u, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u};
} TrustedInstaller;

bool IsOurs(PSID sid, const std::vector<BYTE>& user) {
    if (!sid || !IsValidSid(sid)) return false;
    return (!user.empty() && EqualSid(sid, const_cast<BYTE*>(user.data()))) ||
           IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || EqualSid(sid, &TrustedInstaller);
}

// "\\?\D:\KORVA" as "D:\KORVA", "\\?\UNC\server\share" as "\\server\share".
std::wstring FinalPathOf(HANDLE h) {
    wchar_t path[1024];
    const DWORD n = GetFinalPathNameByHandleW(h, path, 1024, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= 1024) return {};
    std::wstring p(path, n);
    if (p.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + p.substr(8);
    if (p.compare(0, 4, L"\\\\?\\") == 0) return p.substr(4);
    return p;
}

} // namespace

TFolderFacts ReadFolderFacts(const std::wstring& path, bool follow) {
    TFolderFacts facts;
    const HANDLE h = CreateFileW(
        path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    if (h == INVALID_HANDLE_VALUE) return facts;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(h, &info)) {
        facts.Folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        facts.Link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    if (follow) facts.FinalPath = FinalPathOf(h);
    DWORD flags = 0;
    if (GetVolumeInformationByHandleW(h, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
        facts.AccessControl = (flags & FS_PERSISTENT_ACLS) != 0;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    const DWORD error =
        GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        &owner, nullptr, &dacl, nullptr, &raw);
    CloseHandle(h);
    if (error != ERROR_SUCCESS) {
        facts.AccessControl = false; // nothing known of who may change it
        return facts;
    }
    const std::unique_ptr<void, TLocalFree> descriptor(raw);
    const std::vector<BYTE> user = UserSid();
    facts.OwnerOurs = IsOurs(owner, user);
    facts.NoAccessList = dacl == nullptr;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
        if (ace->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        TGrant grant;
        grant.Rights = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->Mask;
        grant.InheritOnly = (ace->AceFlags & INHERIT_ONLY_ACE) != 0;
        // Other kinds (object and callback entries) name their trustee elsewhere: counted as
        // someone else's.
        if (ace->AceType == ACCESS_ALLOWED_ACE_TYPE)
            grant.Ours = IsOurs(
                reinterpret_cast<PSID>(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart),
                user);
        facts.Grants.push_back(grant);
    }
    return facts;
}

bool MakeOwnFolder(const std::wstring& path) {
    const std::vector<BYTE> user = UserSid();
    LPWSTR text = nullptr;
    if (user.empty() || !ConvertSidToStringSidW(const_cast<BYTE*>(user.data()), &text))
        return false;
    const std::wstring sddl =
        std::wstring(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;") + text + L")";
    LocalFree(text);
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &raw,
                                                              nullptr))
        return false;
    const std::unique_ptr<void, TLocalFree> descriptor(raw);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, raw, FALSE};
    return CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}
