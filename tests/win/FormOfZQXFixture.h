// What the tests of the tool's window share: the window built from its layout over the
// stand-in engine, with the shell's start of the installer recorded instead of made, and the
// signed stand-in installers to put where the engine would have saved its download.
#pragma once

#include "app/UnitOfZQX.h"
#include "framework/Application.h"
#include "tests/win/SignedInstallers.h"
#include "tests/win/StandIn.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct TShellCall {
    HWND Owner;
    std::string Verb, File;
    bool NoParameters, NoDirectory;
    INT Show;
    ULONG Mask;
    // Whether, while the shell had it, another program could have written, renamed or
    // deleted the file.
    bool Writable, Deletable;
};
inline std::vector<TShellCall> ShellCalls;
// What the recorded shell answers: 0 starts, anything else fails with that system error.
inline DWORD ShellError = 0;

inline std::string Narrow(const wchar_t* text) {
    if (!text) return {};
    char out[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, nullptr, nullptr);
    return out;
}

// Whether another program can open `path` to write it (or to delete it) at this moment.
inline bool OpenableFor(const wchar_t* path, DWORD access) {
    const HANDLE h =
        CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

inline BOOL WINAPI RecordShellExecute(SHELLEXECUTEINFOW* info) {
    ShellCalls.push_back({info->hwnd, Narrow(info->lpVerb), Narrow(info->lpFile),
                          info->lpParameters == nullptr, info->lpDirectory == nullptr, info->nShow,
                          info->fMask, OpenableFor(info->lpFile, GENERIC_WRITE),
                          OpenableFor(info->lpFile, DELETE)});
    if (ShellError) {
        SetLastError(ShellError);
        return FALSE;
    }
    info->hInstApp = reinterpret_cast<HINSTANCE>(42);
    return TRUE;
}

inline BOOL WINAPI RefuseShellExecute(SHELLEXECUTEINFOW*) {
    throw std::runtime_error("shell refused");
}

class FormOfZQX : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Engine.Reset, nullptr);
        Engine.Reset();
        ShellCalls.clear();
        ShellError = 0;
        SavedShellExecute = ShellExecuteProc;
        ShellExecuteProc = RecordShellExecute;
        Form = std::make_unique<TFormOfZQX>();
    }
    void TearDown() override {
        if (Application().MainForm() == Form.get()) Application().SetMainForm(nullptr);
        Form.reset();
        ShellExecuteProc = SavedShellExecute;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    // Whether closing the window asked the application to end.
    static bool QuitPosted() {
        MSG msg;
        return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    }
    void Press() {
        Form->HandleNeeded();
        Form->RzBitBtn1->Click();
    }
    // The installer as the engine would leave it: the signed variant `name` under the final
    // name (or `file`) in drive D:'s download folder.
    static void PutInstaller(const std::string& name, const std::string& file = "setup.exe") {
        CreateDirectoryA("D:\\KOrva", nullptr);
        ASSERT_TRUE(PutSignedInstaller(name, "D:\\KORVA\\" + file)) << name;
    }
    static bool Exists(const std::string& path) {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    TStandIn Engine;
    std::unique_ptr<TFormOfZQX> Form;
    TShellExecuteProc SavedShellExecute = nullptr;
};

// The record the engine should get for `url`: zeros but for three texts and the option.
inline std::vector<uint8_t> ExpectedTaskParam(const std::string& url) {
    std::vector<uint8_t> bytes(26564, 0);
    const auto put = [&](size_t offset, const std::string& text) {
        for (size_t i = 0; i < text.size(); ++i)
            bytes[offset + 2 * i] = static_cast<uint8_t>(text[i]);
    };
    put(4, url);
    put(16532, "setup.exe");
    put(17572, "D:\\KORVA\\");
    for (size_t i = 0; i < 4; ++i)
        bytes[18368 + i] = 0xFF;
    return bytes;
}
