// The tool as a screen reader sees it: a process of its own reads the running program through
// oleacc (cross-process, as Narrator's and NVDA's bridges do), with the stand-in engine
// scripted through the environment: the window's children, the button's role, name, states
// and default action, the labels' texts, the progress, and a failure's text as one name
// change event.
#include "tests/win/TestSupport.h"
#include "tests/win/ToolProcess.h"

#include <windows.h>

#include <oleacc.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

VARIANT Child(LONG id) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

// What the reader gets for one property of `object`'s element `id`.
std::wstring NameOf(IAccessible* object, LONG id = CHILDID_SELF) {
    BSTR name = nullptr;
    if (object->get_accName(Child(id), &name) != S_OK || !name) return L"(none)";
    std::wstring text = name;
    SysFreeString(name);
    return text;
}
LONG RoleOf(IAccessible* object, LONG id = CHILDID_SELF) {
    VARIANT role;
    role.vt = VT_EMPTY;
    return object->get_accRole(Child(id), &role) == S_OK && role.vt == VT_I4 ? role.lVal : -1;
}
LONG StateOf(IAccessible* object, LONG id = CHILDID_SELF) {
    VARIANT state;
    state.vt = VT_EMPTY;
    return object->get_accState(Child(id), &state) == S_OK && state.vt == VT_I4 ? state.lVal : -1;
}

// A window's client area as the reader gets it (released by the caller).
IAccessible* ClientOf(HWND window) {
    IAccessible* object = nullptr;
    AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                               reinterpret_cast<void**>(&object));
    return object;
}

// The name changes the tool announced, as (window, object, child).
struct TEvent {
    HWND Window;
    LONG Object, Child;
};
std::vector<TEvent> NameChanges;
void CALLBACK RecordNameChange(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD,
                               DWORD) {
    NameChanges.push_back({window, object, child});
}

class ScreenReader : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        Dir = std::string(temp) + "orlenz-screen-reader";
        CreateDirectoryA(Dir.c_str(), nullptr);
        ASSERT_TRUE(
            CopyFileA(WindowsPath(PROGRAM_EXE).c_str(), (Dir + "\\Tool.exe").c_str(), FALSE));
        ASSERT_TRUE(
            CopyFileA(WindowsPath(STAND_IN_DLL).c_str(), (Dir + "\\xldl.dll").c_str(), FALSE));
        NameChanges.clear();
    }
    void TearDown() override {
        if (Hook) UnhookWinEvent(Hook);
        CoUninitialize();
    }
    void Script(const std::string& lines, bool append) {
        std::ofstream(Dir + "\\script.txt", append ? std::ios::app : std::ios::trunc) << lines;
    }
    std::string Dir;
    TToolProcess Tool;
    HWINEVENTHOOK Hook = nullptr;
};

TEST_F(ScreenReader, ReadsTheWindowPressesTheButtonAndHearsTheFailureOnce) {
    // One tick of download, then the engine is silent until the test adds the failure.
    Script("query 1 3 3670016 524288\n", false);
    SetEnvironmentVariableA("STANDIN_SCRIPT", (Dir + "\\script.txt").c_str());
    ASSERT_TRUE(Tool.Start(Dir));
    const HWND main = Tool.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    DWORD process = 0;
    GetWindowThreadProcessId(main, &process);
    Hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr,
                           RecordNameChange, process, 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(Hook, nullptr);

    IAccessible* form = ClientOf(main);
    ASSERT_NE(form, nullptr) << "the window answers the reader";
    // Every child in z-order: the labels as static text, the rest as windows of their own.
    struct TExpected {
        LONG Role;
        std::wstring Name;
    };
    const std::vector<TExpected> expected = {
        {ROLE_SYSTEM_STATICTEXT, L"正在下载... ..."},
        {ROLE_SYSTEM_STATICTEXT, L""},
        {ROLE_SYSTEM_PUSHBUTTON, L"下载Orlenz软件完整安装包"},
        {ROLE_SYSTEM_PROGRESSBAR, L"(any)"},
        {ROLE_SYSTEM_RADIOBUTTON, L"http://dl1.orlenz.com"},
        {ROLE_SYSTEM_RADIOBUTTON, L"http://dl2.orlenz.com"},
    };
    LONG count = 0;
    ASSERT_EQ(form->get_accChildCount(&count), S_OK);
    ASSERT_EQ(count, static_cast<LONG>(expected.size()));
    std::vector<VARIANT> children(expected.size());
    LONG got = 0;
    ASSERT_TRUE(SUCCEEDED(AccessibleChildren(form, 0, count, children.data(), &got)));
    ASSERT_EQ(got, count);
    HWND button = nullptr, progress = nullptr;
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("child " + std::to_string(i + 1));
        IAccessible* object = form;
        LONG id = static_cast<LONG>(i + 1);
        HWND window = nullptr;
        if (children[i].vt == VT_DISPATCH) {
            // A window of its own: its client area says what it is.
            IAccessible* windowed = nullptr;
            children[i].pdispVal->QueryInterface(__uuidof(IAccessible),
                                                 reinterpret_cast<void**>(&windowed));
            children[i].pdispVal->Release();
            ASSERT_NE(windowed, nullptr);
            EXPECT_EQ(WindowFromAccessibleObject(windowed, &window), S_OK);
            windowed->Release();
            object = ClientOf(window);
            id = CHILDID_SELF;
        } else {
            ASSERT_EQ(children[i].vt, VT_I4);
            EXPECT_EQ(children[i].lVal, id);
        }
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(RoleOf(object, id), expected[i].Role);
        if (expected[i].Name != L"(any)") {
            EXPECT_EQ(NameOf(object, id), expected[i].Name);
        }
        if (expected[i].Role == ROLE_SYSTEM_PUSHBUTTON) button = window;
        if (expected[i].Role == ROLE_SYSTEM_PROGRESSBAR) progress = window;
        if (object != form) object->Release();
    }
    ASSERT_NE(button, nullptr);
    ASSERT_NE(progress, nullptr);

    IAccessible* press = ClientOf(button);
    ASSERT_NE(press, nullptr);
    EXPECT_EQ(StateOf(press) & (STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_UNAVAILABLE),
              STATE_SYSTEM_FOCUSABLE);
    BSTR action = nullptr;
    EXPECT_EQ(press->get_accDefaultAction(Child(CHILDID_SELF), &action), S_OK);
    EXPECT_NE(action, nullptr);
    SysFreeString(action);

    // The reader's press starts the download: the button goes grey, the sizes come.
    ASSERT_EQ(press->accDoDefaultAction(Child(CHILDID_SELF)), S_OK);
    EXPECT_TRUE(PumpUntil([&] { return NameOf(form, 2) == L"512 KB/3.50 MB"; }, 15000))
        << NameOf(form, 2);
    EXPECT_TRUE(StateOf(press) & STATE_SYSTEM_UNAVAILABLE);
    IAccessible* bar = ClientOf(progress);
    ASSERT_NE(bar, nullptr);
    BSTR value = nullptr;
    EXPECT_EQ(bar->get_accValue(Child(CHILDID_SELF), &value), S_OK);
    EXPECT_EQ(std::wstring(value ? value : L""), L"14%") << "512 KB of 3.5 MB";
    SysFreeString(value);
    bar->Release();

    // The engine gives up: the status line's new text is announced, once.
    const auto statusChanges = [&] {
        int n = 0;
        for (const TEvent& e : NameChanges)
            n += e.Window == main && e.Object == OBJID_CLIENT && e.Child == 1;
        return n;
    };
    EXPECT_EQ(statusChanges(), 0) << "nothing to say about the status line yet";
    Script("query 1 5 3670016 524288 6\n", true);
    EXPECT_TRUE(PumpUntil([&] { return statusChanges() > 0; }, 15000));
    EXPECT_EQ(NameOf(form, 1), L"下载失败：无法连接网络或服务器，可换镜像重试");
    PumpUntil([] { return false; }, 2500); // the ticks that would repeat it
    EXPECT_EQ(statusChanges(), 1);
    EXPECT_FALSE(StateOf(press) & STATE_SYSTEM_UNAVAILABLE) << "the button is back";
    press->Release();
    form->Release();
}

} // namespace
