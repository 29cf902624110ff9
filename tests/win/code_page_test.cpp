// The tool's window at the system code page of an English (1252), Japanese (932) or Korean
// (949) Windows as at a Chinese one (936): ctest runs this once per code page (Wine takes it
// from the locale). Every text reads back in UTF-16 as the Chinese text. Each run keeps its
// pictures of the client area, idle and with a failure text shown, and `code_page.alike`
// compares those of all four runs.
#include "app/DownloadTexts.h"
#include "framework/Bitmap.h"
#include "tests/win/FormOfZQXFixture.h"
#include "tests/win/TestSupport.h"

#include <oleacc.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

std::wstring TextOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

// A message box among the windows enumerated: its caption and text into `seen`, then OK.
BOOL CALLBACK ReadAndCloseBox(HWND window, LPARAM seen) {
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    if (lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    auto* texts = reinterpret_cast<std::wstring*>(seen);
    texts[1] = TextOf(GetDlgItem(window, 0xFFFF));
    texts[0] = TextOf(window);
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    return FALSE;
}

class CodePage : public FormOfZQX {
protected:
    void SetUp() override {
        FormOfZQX::SetUp();
        const char* expected = std::getenv("CODE_PAGE");
        ASSERT_NE(expected, nullptr);
        CodePageNow = static_cast<UINT>(std::atoi(expected));
        ASSERT_EQ(GetACP(), CodePageNow) << "the locale gives the system code page";
        Application().SetTitle(ApplicationTitle); // as the program does
        Form->Show(); // the system draws the radio buttons of a visible window only
    }
    void Fail() {
        Engine.QueueQuery(1, StateDownloading, 3670016, 524288);
        Engine.QueueQueryWithError(1, StateFailed, 3670016, 524288, ErrorNetwork);
        Press();
        Form->XLTimeTimer(nullptr);
        Form->XLTimeTimer(nullptr);
    }
    // What the form's accessible object names its child `id`.
    std::wstring ChildName(LONG id) {
        IAccessible* form = nullptr;
        AccessibleObjectFromWindow(Form->Handle(), static_cast<DWORD>(OBJID_CLIENT),
                                   __uuidof(IAccessible), reinterpret_cast<void**>(&form));
        if (!form) return L"(no object)";
        VARIANT child;
        child.vt = VT_I4;
        child.lVal = id;
        BSTR name = nullptr;
        form->get_accName(child, &name);
        std::wstring text = name ? name : L"(none)";
        SysFreeString(name);
        form->Release();
        return text;
    }
    // Keeps the client area's picture as `name`.CODEPAGE.bmp, for code_page.alike.
    void KeepPicture(const std::string& name) {
        TBitmap picture(Form->ClientWidth(), Form->ClientHeight());
        PrintTree(Form->Handle(), picture.Canvas().Handle());
        GdiFlush();
        const DWORD bytes = static_cast<DWORD>(picture.Width() * picture.Height() * 4);
        BITMAPINFOHEADER info{
            sizeof info, picture.Width(), -picture.Height(), 1, 32, BI_RGB, bytes, 0, 0, 0, 0};
        BITMAPFILEHEADER file{0x4D42, sizeof file + sizeof info + bytes, 0, 0,
                              sizeof file + sizeof info};
        std::ofstream out(WindowsPath(CODE_PAGE_PICTURES) + "\\" + name + "." +
                              std::to_string(CodePageNow) + ".bmp",
                          std::ios::binary);
        out.write(reinterpret_cast<const char*>(&file), sizeof file);
        out.write(reinterpret_cast<const char*>(&info), sizeof info);
        for (int y = 0; y < picture.Height(); ++y)
            for (int x = 0; x < picture.Width(); ++x) {
                const uint32_t pixel = picture.ScanLine(y)[x] & 0xFFFFFF; // no alpha
                out.write(reinterpret_cast<const char*>(&pixel), 4);
            }
        ASSERT_TRUE(out.good());
    }
    UINT CodePageNow = 0;
};

TEST_F(CodePage, EveryTextReadsBackAsTheChineseText) {
    // A message box of the tool, read and closed from another thread while it is open.
    std::wstring box[2]; // caption, text
    const DWORD gui = GetCurrentThreadId();
    std::thread watcher([&] {
        for (int i = 0; i < 500 && box[0].empty(); ++i, Sleep(10))
            EnumThreadWindows(gui, ReadAndCloseBox, reinterpret_cast<LPARAM>(box));
    });
    Application().ShowMessageBox("下载初始化失败", "提示信息", MB_OK, Form->Handle());
    watcher.join();

    LOGFONTW radioFont{};
    GetObjectW(
        reinterpret_cast<HFONT>(SendMessageW(Form->RadioButton1->Handle(), WM_GETFONT, 0, 0)),
        sizeof radioFont, &radioFont);
    const std::wstring statusIdle = ChildName(1);
    KeepPicture("idle");
    Fail();
    KeepPicture("failed");
    const struct {
        const char* What;
        std::wstring Read, Chinese;
    } reads[] = {
        {"caption", TextOf(Form->Handle()), L"Orlenz软件完整安装包下载专用工具"},
        {"taskbar entry", TextOf(Application().Handle()), L"Orlenz软件完整安装包下载专用工具"},
        {"mirror 1", TextOf(Form->RadioButton1->Handle()), L"http://dl1.orlenz.com"},
        {"button", TextOf(Form->RzBitBtn1->Handle()), L"下载Orlenz软件完整安装包"},
        {"status line", statusIdle, L"正在下载... ..."},
        {"failure", ChildName(1), L"下载失败：无法连接网络或服务器，可换镜像重试"},
        {"size text", ChildName(2), L"512 KB/3.50 MB"},
        {"radio button's face", radioFont.lfFaceName, L"SimSun"},
        {"message box caption", box[0], L"提示信息"},
        {"message box text", box[1], L"下载初始化失败"},
    };
    for (const auto& r : reads)
        EXPECT_EQ(r.Read, r.Chinese) << r.What;
}

// A Chinese face this system does not have (no replacement names it here): the button's
// caption is still drawn with Chinese glyphs, from a face the system picks for Chinese text,
// not as the boxes of a Western face, which look alike whatever the character.
TEST_F(CodePage, AChineseFaceTheSystemLacksStillDrawsChinese) {
    Form->RzBitBtn1->Font().SetName("楷体");
    std::string pictures[2];
    const char* const characters[] = {"下", "载"};
    for (int i = 0; i < 2; ++i) {
        TBitmap picture(32, 32);
        picture.Canvas().Font().Assign(Form->RzBitBtn1->Font());
        picture.Canvas().TextOut(2, 2, characters[i]);
        const auto pixels = reinterpret_cast<const char*>(picture.ScanLine(0));
        pictures[i].assign(pixels, pixels + 32 * 32 * 4);
    }
    EXPECT_NE(pictures[0], pictures[1]) << "boxes at " << CodePageNow;
}

} // namespace
