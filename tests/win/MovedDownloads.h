// The user's Downloads folder moved elsewhere for as long as this lives, as the user moves it
// (the shell's registry value for it), then back as it was.
#pragma once

#include <windows.h>

#include <string>

class TMovedDownloads {
public:
    explicit TMovedDownloads(const std::wstring& folder) {
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
    static constexpr const wchar_t* ValueName = L"{374DE290-123F-4565-9164-39C4925E467B}";
    HKEY Key = nullptr;
    bool Had = false;
    DWORD OldType = REG_EXPAND_SZ;
    std::wstring Old;
};
