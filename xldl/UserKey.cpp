#include "xldl/UserKey.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

namespace xldl {

namespace {

constexpr const char* KeyPath = "Software\\Orlenz\\Downloader";
constexpr const char* ValueName = "EngineSealKey";

TKeptKey Kept() {
    HKEY key;
    const LONG open = RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath, 0, KEY_QUERY_VALUE, &key);
    if (open == ERROR_FILE_NOT_FOUND) return {};
    if (open != ERROR_SUCCESS) return {TKeyKept::Unreadable, {}};
    BYTE buffer[2048];
    DWORD size = sizeof buffer, type = 0;
    const LONG read = RegQueryValueExA(key, ValueName, nullptr, &type, buffer, &size);
    RegCloseKey(key);
    if (read == ERROR_FILE_NOT_FOUND) return {};
    if (read != ERROR_SUCCESS || type != REG_BINARY) return {TKeyKept::Unreadable, {}};
    DATA_BLOB in{size, buffer}, out{};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &out))
        return {TKeyKept::Unreadable, {}};
    TKeptKey kept{TKeyKept::Key, std::vector<uint8_t>(out.pbData, out.pbData + out.cbData)};
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    return kept;
}

bool Make(std::vector<uint8_t>& key) {
    key.resize(SealKeyBytes);
    return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, key.data(), static_cast<ULONG>(key.size()),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

void KeepIfNone(const std::vector<uint8_t>& plain) {
    DATA_BLOB in{static_cast<DWORD>(plain.size()), const_cast<BYTE*>(plain.data())}, out{};
    if (!CryptProtectData(&in, L"xldl", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return;
    // The user's processes in this session make it one at a time. One that waits too long (a
    // name taken by someone else) goes on: at worst two make one at once, and the read back
    // still settles which is kept.
    const HANDLE turn = CreateMutexA(nullptr, FALSE, "Local\\OrlenzEngineSealKey");
    const DWORD waited = turn ? WaitForSingleObject(turn, 10000) : WAIT_FAILED;
    HKEY key;
    if (Kept().Kept == TKeyKept::None &&
        RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key, ValueName, 0, REG_BINARY, out.pbData, out.cbData);
        RegCloseKey(key);
    }
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(turn);
    if (turn) CloseHandle(turn);
    LocalFree(out.pbData);
}

} // namespace

const TSealKey& UserSealKey() {
    static const TSealKey key = ObtainSealKey({Kept, Make, KeepIfNone});
    return key;
}

} // namespace xldl
