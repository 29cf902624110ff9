// The tool as a screen reader sees it: a process of its own reads the running program through
// oleacc (cross-process, as Narrator's and NVDA's bridges do), with the stand-in engine
// scripted through the environment: the window's children, the button's role, name, states
// and default action, the labels' texts, the progress, the questions of moving through the
// window (what comes next, what is where), and a failure's text as one name change event and,
// on Windows 10, one live region change. A reader that asks after the window is gone (as one
// in the program's own process may) gets an error to every question.
#include "controls/RzButton.h"
#include "controls/RzLabel.h"
#include "framework/Form.h"
#include "tests/win/TestSupport.h"
#include "tests/win/ToolProcess.h"

#include <windows.h>

#include <oleacc.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
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
    const HRESULT hr = object->get_accName(Child(id), &name);
    if (hr != S_OK || !name) return FAILED(hr) ? L"error" : L"(none)";
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

// An answer as the reader takes it: "error", "none", "self", a simple child's number, or the
// name a windowed child's client area gives.
std::wstring Answer(HRESULT hr, VARIANT& v) {
    if (FAILED(hr)) return L"error";
    std::wstring answer = L"none";
    if (hr == S_OK && v.vt == VT_I4)
        answer = v.lVal == CHILDID_SELF ? L"self" : std::to_wstring(v.lVal);
    if (hr == S_OK && v.vt == VT_DISPATCH && v.pdispVal) {
        IAccessible* object = nullptr;
        v.pdispVal->QueryInterface(__uuidof(IAccessible), reinterpret_cast<void**>(&object));
        v.pdispVal->Release();
        HWND window = nullptr;
        if (object) WindowFromAccessibleObject(object, &window);
        IAccessible* client = window ? ClientOf(window) : nullptr;
        answer = client ? NameOf(client) : L"no window";
        if (client) client->Release();
        if (object) object->Release();
    }
    return answer;
}

// What a reader asks besides names and roles, of the window's client object (`Form`, its
// window `Window`) and of the button's, with the tool's answers while it waits for a press:
// its children in z-order are the status line, the size text, the button, the progress bar
// and the two mirrors' radio buttons. Places are in the window's client area.
struct TReader {
    IAccessible* Form;
    IAccessible* Button;
    HWND Window;
    POINT Origin() const {
        POINT origin{0, 0};
        ClientToScreen(Window, &origin);
        return origin;
    }
    std::wstring Navigate(LONG direction, LONG from) const {
        VARIANT end;
        VariantInit(&end);
        return Answer(Form->accNavigate(direction, Child(from), &end), end);
    }
    std::wstring HitTest(int x, int y) const {
        VARIANT hit;
        VariantInit(&hit);
        return Answer(Form->accHitTest(Origin().x + x, Origin().y + y, &hit), hit);
    }
    std::wstring Place(IAccessible* object, LONG child) const {
        LONG left = 0, top = 0, width = 0, height = 0;
        if (FAILED(object->accLocation(&left, &top, &width, &height, Child(child))))
            return L"error";
        return std::to_wstring(left - Origin().x) + L"," + std::to_wstring(top - Origin().y) +
               L" " + std::to_wstring(width) + L"x" + std::to_wstring(height);
    }
};
const struct {
    const char* What;
    std::function<std::wstring(const TReader&)> Ask;
    std::wstring Answer; // empty: asked only once the window is gone
} Questions[] = {
    {"the number of children",
     [](const TReader& r) {
         LONG count = 0;
         return SUCCEEDED(r.Form->get_accChildCount(&count)) ? std::to_wstring(count) : L"error";
     },
     L"6"},
    {"the first child", [](const TReader& r) { return r.Navigate(NAVDIR_FIRSTCHILD, 0); }, L"1"},
    {"the last child", [](const TReader& r) { return r.Navigate(NAVDIR_LASTCHILD, 0); },
     L"http://dl2.orlenz.com"},
    {"after the status line", [](const TReader& r) { return r.Navigate(NAVDIR_NEXT, 1); }, L"2"},
    {"after the size text", [](const TReader& r) { return r.Navigate(NAVDIR_NEXT, 2); },
     L"下载Orlenz软件完整安装包"},
    {"before the status line", [](const TReader& r) { return r.Navigate(NAVDIR_PREVIOUS, 1); },
     L"none"},
    {"after the last child", [](const TReader& r) { return r.Navigate(NAVDIR_NEXT, 6); }, L"none"},
    {"the status line's place", [](const TReader& r) { return r.Place(r.Form, 1); },
     L"47,16 90x13"},
    {"the size text's place", [](const TReader& r) { return r.Place(r.Form, 2); },
     L"336,24 241x12"},
    {"what is at the status line", [](const TReader& r) { return r.HitTest(50, 20); }, L"1"},
    {"what is at the size text's end", [](const TReader& r) { return r.HitTest(570, 30); }, L"2"},
    {"what is at the button", [](const TReader& r) { return r.HitTest(300, 128); },
     L"下载Orlenz软件完整安装包"},
    {"what is at an empty place", [](const TReader& r) { return r.HitTest(5, 5); }, L"self"},
    {"the button's name", [](const TReader& r) { return NameOf(r.Button); },
     L"下载Orlenz软件完整安装包"},
    {"the button's own place", [](const TReader& r) { return r.Place(r.Button, CHILDID_SELF); },
     L"48,104 537x49"},
    {"the button pressed",
     [](const TReader& r) {
         return SUCCEEDED(r.Button->accDoDefaultAction(Child(CHILDID_SELF))) ? L"pressed"
                                                                             : L"error";
     },
     L""},
};

// The notices the tool gave, as (event, window, object, child).
struct TEvent {
    DWORD Event;
    HWND Window;
    LONG Object, Child;
};
std::vector<TEvent> Events;
void CALLBACK RecordEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                          DWORD) {
    Events.push_back({event, window, object, child});
}
// Active Accessibility's notice of a live region's change (newer than the headers here).
constexpr DWORD EventLiveRegionChanged = 0x8019;

class ScreenReader : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        Dir = std::string(temp) + "orlenz-screen-reader";
        CreateDirectoryA(Dir.c_str(), nullptr);
        // The tool under a name of its own, which Wine runs as on Windows 10.
        ASSERT_TRUE(
            CopyFileA(WindowsPath(PROGRAM_EXE).c_str(), (Dir + "\\" + Tool10).c_str(), FALSE));
        ASSERT_TRUE(
            CopyFileA(WindowsPath(STAND_IN_DLL).c_str(), (Dir + "\\xldl.dll").c_str(), FALSE));
        ASSERT_EQ(
            RegSetKeyValueA(HKEY_CURRENT_USER, Windows10.c_str(), "Version", REG_SZ, "win10", 6),
            ERROR_SUCCESS);
        Events.clear();
    }
    void TearDown() override {
        if (Hook) UnhookWinEvent(Hook);
        RegDeleteKeyA(HKEY_CURRENT_USER, Windows10.c_str());
        CoUninitialize();
    }
    const std::string Tool10 = "ReadTool.exe";
    const std::string Windows10 = "Software\\Wine\\AppDefaults\\" + Tool10;
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
    ASSERT_TRUE(Tool.Start(Dir, Tool10));
    const HWND main = Tool.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    DWORD process = 0;
    GetWindowThreadProcessId(main, &process);
    Hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EventLiveRegionChanged, nullptr, RecordEvent,
                           process, 0, WINEVENT_OUTOFCONTEXT);
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
    const TReader reader{form, press, main};
    for (const auto& q : Questions)
        if (!q.Answer.empty()) {
            EXPECT_EQ(q.Ask(reader), q.Answer) << q.What;
        }

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

    // The engine gives up: the status line's new text is announced, once, and as a live
    // region's; the size text's changes are not a live region's.
    const auto heard = [&](DWORD event, LONG child) {
        int n = 0;
        for (const TEvent& e : Events)
            n += e.Event == event && e.Window == main && e.Object == OBJID_CLIENT &&
                 e.Child == child;
        return n;
    };
    EXPECT_EQ(heard(EVENT_OBJECT_NAMECHANGE, 1), 0) << "nothing to say about the status line yet";
    Script("query 1 5 3670016 524288 6\n", true);
    EXPECT_TRUE(PumpUntil([&] { return heard(EVENT_OBJECT_NAMECHANGE, 1) > 0; }, 15000));
    EXPECT_EQ(NameOf(form, 1), L"下载失败：无法连接网络或服务器，可换镜像重试");
    PumpUntil([] { return false; }, 2500); // the ticks that would repeat it
    const struct {
        const char* What;
        DWORD Event;
        LONG Child, Times;
    } notices[] = {
        {"the status line's new name", EVENT_OBJECT_NAMECHANGE, 1, 1},
        {"the status line's change as a live region", EventLiveRegionChanged, 1, 1},
        {"the size text's changes as a live region", EventLiveRegionChanged, 2, 0},
    };
    for (const auto& n : notices)
        EXPECT_EQ(heard(n.Event, n.Child), n.Times) << n.What;
    EXPECT_FALSE(StateOf(press) & STATE_SYSTEM_UNAVAILABLE) << "the button is back";
    press->Release();
    form->Release();
}

// A reader in the program's own process that kept a window's objects: once the window is gone,
// every question gets an error, not an answer about controls that are no more.
TEST_F(ScreenReader, AfterTheWindowIsGoneEveryQuestionGetsAnError) {
    auto form = std::make_unique<TForm>(nullptr);
    for (const char* text : {"status", "size"}) {
        auto* label = new TRzLabel(form.get());
        label->SetParent(form.get());
        label->SetCaption(text);
    }
    auto* button = new TRzButton(form.get());
    button->SetParent(form.get());
    form->HandleNeeded();
    const TReader reader{ClientOf(form->Handle()), ClientOf(button->Handle()), form->Handle()};
    ASSERT_NE(reader.Form, nullptr);
    ASSERT_NE(reader.Button, nullptr);
    EXPECT_EQ(Questions[0].Ask(reader), L"3") << "while the window is there";
    form.reset();
    for (const auto& q : Questions)
        EXPECT_EQ(q.Ask(reader), L"error") << q.What;
    reader.Form->Release();
    reader.Button->Release();
}

} // namespace
