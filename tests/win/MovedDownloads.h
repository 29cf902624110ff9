// The user's Downloads folder (or another of the shell's folders, by its registry value) moved
// elsewhere for as long as this lives, as the user moves it, then back as it was.
#pragma once

#include <windows.h>

#include <string>

class TMovedDownloads {
public:
    // The local application data's value.
    static constexpr const wchar_t* LocalAppData = L"Local AppData";

    explicit TMovedDownloads(const std::wstring& folder,
                             const wchar_t* value = L"{374DE290-123F-4565-9164-39C4925E467B}")
        : ValueName(value) {
        RegCreateKeyExW(HKEY_CURRENT_USER, KeyName, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &Key, nullptr);
        wchar_t old[1024];
        DWORD size = sizeof old, type = 0;
        if (RegQueryValueExW(Key, ValueName, nullptr, &type, reinterpret_cast<BYTE*>(old), &size) ==
            ERROR_SUCCESS) {
            Had = true;
            OldType = type;
            Old.assign(old, size / sizeof(wchar_t));
        }
        Set(folder, REG_EXPAND_SZ);
    }
    ~TMovedDownloads() {
        if (Had)
            RegSetValueExW(Key, ValueName, 0, OldType, reinterpret_cast<const BYTE*>(Old.data()),
                           static_cast<DWORD>(Old.size() * sizeof(wchar_t)));
        else
            RegDeleteValueW(Key, ValueName);
        RegCloseKey(Key);
    }
    TMovedDownloads(const TMovedDownloads&) = delete;
    TMovedDownloads& operator=(const TMovedDownloads&) = delete;

    void Set(const std::wstring& folder, DWORD type = REG_EXPAND_SZ) {
        RegSetValueExW(Key, ValueName, 0, type, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    }

private:
    static constexpr const wchar_t* KeyName =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    const wchar_t* const ValueName;
    HKEY Key = nullptr;
    bool Had = false;
    DWORD OldType = REG_EXPAND_SZ;
    std::wstring Old;
};
