// Errors that escape a handler: they end in the application's error box (the real system
// message box, inspected from a second thread while it is open), or in OnException when the
// program asked for them; the message loop goes on either way.
#include "TestSupport.h"

#include "framework/Exceptions.h"
#include "framework/Timer.h"

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

const std::string Title = "Orlenz软件完整安装包下载专用工具";

bool ClassIs(HWND hwnd, const char* name) {
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    return lstrcmpiA(cls, name) == 0;
}

std::string TextOf(HWND hwnd) {
    char text[512] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// What was seen of the error box.
struct TBoxSeen {
    bool Found = false;
    std::string Caption;
    std::vector<std::string> Texts; // of the text statics
    std::vector<HICON> Icons;       // of the visible icon statics
    std::vector<int> Buttons;       // ids of the visible buttons
    bool OtherWindowEnabled = true;
    int TicksWhenFound = 0;
    int TicksBeforeClose = 0;
};

// Looks for a message box among the GUI thread's own windows (never a global search: other
// test programs may show boxes at the same time), records it, waits for two more ticks of
// `ticks` (when given) while it is open, then presses OK.
class TBoxWatcher {
public:
    TBoxWatcher(const std::atomic<int>* ticks, HWND otherWindow)
        : FGuiThread(GetCurrentThreadId()), FTicks(ticks), FOther(otherWindow),
          FThread([this] { Watch(); }) {}
    ~TBoxWatcher() { Stop(); }
    void Stop() {
        FStop = true;
        if (FThread.joinable()) FThread.join();
    }
    bool Done() const { return FDone; }
    const TBoxSeen& Seen() const { return FSeen; } // once Done or stopped

private:
    static BOOL CALLBACK FindBox(HWND hwnd, LPARAM result) {
        if (!ClassIs(hwnd, "#32770") || !IsWindowVisible(hwnd)) return TRUE;
        *reinterpret_cast<HWND*>(result) = hwnd;
        return FALSE;
    }
    static BOOL CALLBACK Child(HWND hwnd, LPARAM self) {
        TBoxSeen& seen = reinterpret_cast<TBoxWatcher*>(self)->FSeen;
        const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
        if (!(style & WS_VISIBLE)) return TRUE;
        if (ClassIs(hwnd, "Button")) {
            seen.Buttons.push_back(GetDlgCtrlID(hwnd));
        } else if (ClassIs(hwnd, "Static")) {
            if ((style & SS_TYPEMASK) == SS_ICON)
                seen.Icons.push_back(
                    reinterpret_cast<HICON>(SendMessageA(hwnd, STM_GETICON, 0, 0)));
            else if (!TextOf(hwnd).empty())
                seen.Texts.push_back(TextOf(hwnd));
        }
        return TRUE;
    }
    void Watch() {
        const DWORD deadline = GetTickCount() + 5000;
        while (!FStop && GetTickCount() < deadline) {
            HWND box = nullptr;
            EnumThreadWindows(FGuiThread, FindBox, reinterpret_cast<LPARAM>(&box));
            if (box) {
                FSeen.Found = true;
                FSeen.TicksWhenFound = Ticks();
                FSeen.Caption = TextOf(box);
                EnumChildWindows(box, Child, reinterpret_cast<LPARAM>(this));
                if (FOther) FSeen.OtherWindowEnabled = IsWindowEnabled(FOther);
                const DWORD tickDeadline = GetTickCount() + 5000;
                while (FTicks && Ticks() < FSeen.TicksWhenFound + 2 &&
                       GetTickCount() < tickDeadline)
                    Sleep(10);
                FSeen.TicksBeforeClose = Ticks();
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                break;
            }
            Sleep(10);
        }
        FDone = true;
    }

    int Ticks() const { return FTicks ? FTicks->load() : 0; }

    DWORD FGuiThread;
    const std::atomic<int>* FTicks;
    HWND FOther;
    TBoxSeen FSeen;
    std::atomic<bool> FStop{false}, FDone{false};
    std::thread FThread;
};

// A visible top-level window whose procedure fails on WM_APP.
class TFailingWindow : public TWindowTarget {
public:
    TFailingWindow() {
        RegisterWindowClass("TFailingWindow");
        CreateBoundWindow("TFailingWindow", "test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 0, 200,
                          100, nullptr);
    }
    ~TFailingWindow() override { DestroyWindow(WindowHandle()); }
    void WndProc(TMessage& m) override {
        if (m.Msg == WM_APP) throw std::runtime_error("bad state in window procedure");
        if (m.Msg == WM_APP + 1) (void)std::string().at(3); // a fault the C++ library reports
        DefaultWindowProc(m);
    }
};

class ErrorBox : public ::testing::Test {
protected:
    void SetUp() override {
        Application().SetTitle(Title);
        Application().OnException = nullptr;
    }
    void TearDown() override { Application().OnException = nullptr; }
};

TEST_F(ErrorBox, TimerErrorShowsTheBoxWhileTicksGoOn) {
    const std::string message = "下载任务创建失败";
    TFailingWindow other;
    std::atomic<int> ticks{0};
    TTimer timer(nullptr);
    timer.SetInterval(20);
    timer.SetOnTimer([&](TObject*) {
        if (++ticks == 1) throw EOutOfResources(message);
    });
    TBoxWatcher watcher(&ticks, other.WindowHandle());
    ASSERT_TRUE(PumpUntil([&] { return watcher.Done(); }, 15000));
    const TBoxSeen& seen = watcher.Seen();
    ASSERT_TRUE(seen.Found) << "no message box on the GUI thread";

    EXPECT_EQ(seen.Caption, Application().Title());
    ASSERT_EQ(seen.Texts.size(), 1u);
    EXPECT_EQ(seen.Texts[0], message + ".");
    ASSERT_EQ(seen.Icons.size(), 1u);
    EXPECT_EQ(seen.Icons[0], LoadIconA(nullptr, IDI_HAND));
    EXPECT_EQ(seen.Buttons, std::vector<int>{IDOK});
    EXPECT_FALSE(seen.OtherWindowEnabled);
    EXPECT_GE(seen.TicksBeforeClose, seen.TicksWhenFound + 2) << "no ticks while the box was open";

    // After OK the program goes on: the window is usable again and the timer keeps ticking.
    EXPECT_TRUE(PumpUntil([&] { return IsWindowEnabled(other.WindowHandle()) != FALSE; }, 5000));
    const int after = ticks;
    EXPECT_TRUE(PumpUntil([&] { return ticks > after; }, 5000));
}

TEST_F(ErrorBox, WindowProcedureErrorShowsTheBox) {
    const struct {
        UINT Msg;
        const char* Text;
    } rows[] = {
        {WM_APP, "bad state in window procedure."},
        // The program's own stand-in for the library's exception types keeps its message.
        {WM_APP + 1, "basic_string::at: __n (which is 3) >= this->size() (which is 0)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Text);
        TFailingWindow window;
        TBoxWatcher watcher(nullptr, nullptr);
        PostMessageA(window.WindowHandle(), row.Msg, 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return watcher.Done(); }, 15000));
        const TBoxSeen& seen = watcher.Seen();
        ASSERT_TRUE(seen.Found) << "no message box on the GUI thread";
        EXPECT_EQ(seen.Caption, Title);
        ASSERT_EQ(seen.Texts.size(), 1u);
        EXPECT_EQ(seen.Texts[0], row.Text);
        EXPECT_TRUE(IsWindow(window.WindowHandle()));
    }
}

TEST_F(ErrorBox, OnExceptionTakesTheErrorInsteadOfTheBox) {
    std::vector<std::string> reported;
    bool keptType = false;
    Application().OnException = [&](const std::exception& e) {
        reported.push_back(e.what());
        keptType = dynamic_cast<const EListError*>(&e) != nullptr;
    };
    std::atomic<int> ticks{0};
    TTimer timer(nullptr);
    timer.SetInterval(20);
    timer.SetOnTimer([&](TObject*) {
        if (++ticks == 1) throw EListError("List index out of bounds (7)");
    });
    TBoxWatcher watcher(&ticks, nullptr);
    // A box would stop the loop inside the tick; the watcher would close it and say so.
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }, 5000));
    EXPECT_EQ(reported, std::vector<std::string>{"List index out of bounds (7)"});
    EXPECT_TRUE(keptType);
    watcher.Stop();
    EXPECT_FALSE(watcher.Seen().Found);
}

} // namespace
