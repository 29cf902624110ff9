// What the tests of the tool's window share: the window built from its layout over the
// stand-in engine, with the shell's start of the installer recorded instead of made.
#pragma once

#include "app/UnitOfZQX.h"
#include "framework/Application.h"
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
};
inline std::vector<TShellCall> ShellCalls;

inline HINSTANCE WINAPI RecordShellExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                           LPCSTR directory, INT show) {
    ShellCalls.push_back({owner, verb ? verb : "", file ? file : "", parameters == nullptr,
                          directory == nullptr, show});
    return reinterpret_cast<HINSTANCE>(42);
}

inline HINSTANCE WINAPI RefuseShellExecute(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT) {
    throw std::runtime_error("shell refused");
}

class FormOfZQX : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Engine.Reset, nullptr);
        Engine.Reset();
        ShellCalls.clear();
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
