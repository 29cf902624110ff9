#include "xldl/UserKey.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <optional>

namespace xldl {

namespace {

constexpr const char* KeyPath = "Software\\Orlenz\\Downloader";
constexpr const char* ValueName = "EngineSealKey";
constexpr size_t KeyBytes = 32;

std::optional<std::vector<uint8_t>> Stored() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    BYTE buffer[2048];
    DWORD size = sizeof buffer, type = 0;
    const LONG read = RegQueryValueExA(key, ValueName, nullptr, &type, buffer, &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_BINARY) return std::nullopt;
    DATA_BLOB in{size, buffer}, out{};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &out))
        return std::nullopt;
    std::vector<uint8_t> plain(out.pbData, out.pbData + out.cbData);
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    if (plain.size() != KeyBytes) return std::nullopt;
    return plain;
}

bool Store(std::vector<uint8_t>& plain) {
    DATA_BLOB in{static_cast<DWORD>(plain.size()), plain.data()}, out{};
    if (!CryptProtectData(&in, L"xldl", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return false;
    HKEY key;
    bool stored = false;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        stored =
            RegSetValueExA(key, ValueName, 0, REG_BINARY, out.pbData, out.cbData) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    LocalFree(out.pbData);
    return stored;
}

std::vector<uint8_t> Make() {
    if (auto key = Stored()) return *key;
    std::vector<uint8_t> key(KeyBytes);
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, key.data(), static_cast<ULONG>(key.size()),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG)) ||
        !Store(key))
        return {};
    SecureZeroMemory(key.data(), key.size());
    // Another process may have made one at the same moment: whichever was stored counts.
    return Stored().value_or(std::vector<uint8_t>{});
}

} // namespace

const std::vector<uint8_t>& UserSealKey() {
    static const std::vector<uint8_t> key = Make();
    return key;
}

} // namespace xldl
