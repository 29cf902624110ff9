#include "xldl/UserKey.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

namespace xldl {

namespace {

constexpr const char* KeyPath = "Software\\Orlenz\\Downloader";
constexpr const char* ValueName = "EngineSealKey";
// Beside the key: whoever creates it makes the key.
constexpr const char* MakerName = "EngineSealKeyMaker";
// How long one that found the key being made waits for it, in pauses.
constexpr int MakerPauses = 250;
constexpr DWORD MakerPauseMs = 20;

TKeptKey Kept(const std::string& path) {
    HKEY key;
    const LONG open = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key);
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

void KeepIfNone(const std::string& path, const std::function<void()>& beforeMaking,
                const std::vector<uint8_t>& plain) {
    DATA_BLOB in{static_cast<DWORD>(plain.size()), const_cast<BYTE*>(plain.data())}, out{};
    if (!CryptProtectData(&in, L"xldl", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return;
    if (beforeMaking) beforeMaking();
    // The same user may run us in several sessions at once (fast user switching, a remote one
    // beside the console), where no named object is shared but the registry is: it creates a
    // key for one caller only, and that one alone keeps its key; the others wait for it. The
    // maker's key is volatile, so that one that died before keeping holds it only until the
    // user logs off; one that could not keep gives it up at once.
    HKEY parent = nullptr, maker;
    DWORD made = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_CREATE_SUB_KEY, nullptr, &parent,
                        nullptr) == ERROR_SUCCESS &&
        RegCreateKeyExA(parent, MakerName, 0, nullptr, REG_OPTION_VOLATILE, KEY_READ, nullptr,
                        &maker, &made) == ERROR_SUCCESS) {
        RegCloseKey(maker);
        if (made != REG_CREATED_NEW_KEY) {
            for (int i = 0; i < MakerPauses && Kept(path).Kept == TKeyKept::None; ++i)
                Sleep(MakerPauseMs);
        } else if (Kept(path).Kept != TKeyKept::None || // kept by an engine before the maker's key
                   RegSetValueExA(parent, ValueName, 0, REG_BINARY, out.pbData, out.cbData) !=
                       ERROR_SUCCESS) {
            RegDeleteKeyA(parent, MakerName);
        }
    }
    if (parent) RegCloseKey(parent);
    LocalFree(out.pbData);
}

} // namespace

TKeyStore RegistryKeyStore(const std::string& path, std::function<void()> beforeMaking) {
    return {[path] { return Kept(path); }, Make,
            [path, beforeMaking](const std::vector<uint8_t>& key) {
                KeepIfNone(path, beforeMaking, key);
            }};
}

const TSealKey& UserSealKey() {
    static const TSealKey key = ObtainSealKey(RegistryKeyStore(KeyPath));
    return key;
}

} // namespace xldl
