// What the tool's taskbar button shows of a download: the progress while it downloads, the
// error state and a flash for the user when it fails behind other windows, nothing once it is
// over or the window closes. The program's own ITaskbarList3 code runs: the test registers a
// taskbar of its own under the system's class in this process, which shows a button as
// Windows 7 and later do, and it hears the flash where the program's call reaches user32.
#include "tests/win/FormOfZQXFixture.h"
#include "tests/win/TestSupport.h"

#include <shobjidl.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

constexpr CLSID TaskbarListClass = {
    0x56fdf344, 0xfd6d, 0x11d0, {0x95, 0x8a, 0x00, 0x60, 0x97, 0xc9, 0xa0, 0x90}};

struct TButton {
    TBPFLAG State = TBPF_NOPROGRESS;
    ULONGLONG Done = 0, Total = 0;
};
std::map<HWND, TButton> Buttons;
std::set<HWND> Flashed; // since last looked at
int LiveTaskbars = 0;

class TTaskbarStandIn : public ITaskbarList3 {
public:
    TTaskbarStandIn() { ++LiveTaskbars; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = iid == __uuidof(IUnknown) || iid == __uuidof(ITaskbarList) ||
                       iid == __uuidof(ITaskbarList2) || iid == __uuidof(ITaskbarList3)
                   ? this
                   : nullptr;
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FReferences; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--FReferences) return FReferences;
        --LiveTaskbars;
        delete this;
        return 0;
    }
    HRESULT STDMETHODCALLTYPE HrInit() override {
        FReady = true;
        return S_OK;
    }
    // A value puts a button showing nothing or no measure into the normal state; the error
    // and paused states stay.
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND window, ULONGLONG done,
                                               ULONGLONG total) override {
        if (!FReady) return E_UNEXPECTED;
        TButton& b = Buttons[window];
        b.Done = done;
        b.Total = total;
        if (b.State == TBPF_NOPROGRESS || b.State == TBPF_INDETERMINATE) b.State = TBPF_NORMAL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND window, TBPFLAG state) override {
        if (!FReady) return E_UNEXPECTED;
        Buttons[window].State = state;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return E_NOTIMPL; }

private:
    virtual ~TTaskbarStandIn() = default;
    ULONG FReferences = 1;
    bool FReady = false; // HrInit called
};

struct TTaskbarFactory : IClassFactory {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = iid == __uuidof(IUnknown) || iid == __uuidof(IClassFactory) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* taskbar = new TTaskbarStandIn;
        const HRESULT hr = taskbar->QueryInterface(iid, out);
        taskbar->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(WINBOOL) override { return S_OK; }
} Factory;

decltype(&FlashWindowEx) SystemFlash;
BOOL WINAPI HearFlash(FLASHWINFO* flash) {
    // Until the user brings the program to the front, on the taskbar button.
    if ((flash->dwFlags & FLASHW_TRAY) && (flash->dwFlags & FLASHW_TIMERNOFG))
        Flashed.insert(flash->hwnd);
    return FALSE;
}

class Taskbar : public FormOfZQX {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(CoRegisterClassObject(TaskbarListClass, &Factory, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &Registration),
                  S_OK);
        SystemFlash = reinterpret_cast<decltype(SystemFlash)>(
            ReplaceImport("user32.dll", "FlashWindowEx", reinterpret_cast<void*>(HearFlash)));
        ASSERT_NE(SystemFlash, nullptr);
        Buttons.clear();
        Flashed.clear();
        FormOfZQX::SetUp();
        Form->HandleNeeded();
    }
    void TearDown() override {
        FormOfZQX::TearDown();
        ReplaceImport("user32.dll", "FlashWindowEx", reinterpret_cast<void*>(SystemFlash));
        CoRevokeClassObject(Registration);
        CoUninitialize();
    }
    void Tick(uint8_t state, int64_t total, int64_t done, uint32_t error = 0) {
        Engine.QueueQueryWithError(1, state, total, done, error);
        Form->XLTimeTimer(nullptr);
    }
    // What the program's taskbar button shows now, as a user would say it.
    static std::string Shown() {
        const HWND entry = Application().Handle();
        const TButton b = Buttons[entry];
        const std::string share = " " + std::to_string(b.Total ? b.Done * 100 / b.Total : 0) + "%";
        std::string shown = b.State == TBPF_NOPROGRESS      ? "nothing"
                            : b.State == TBPF_INDETERMINATE ? "busy"
                            : b.State == TBPF_NORMAL        ? "green" + share
                            : b.State == TBPF_ERROR         ? "red" + share
                                                            : "yellow" + share;
        if (Flashed.count(entry)) shown += ", flashing";
        Flashed.clear();
        return shown;
    }
    DWORD Registration = 0;
};

TEST_F(Taskbar, ShowsTheDownloadAndNothingOnceItIsOver) {
    const struct {
        const char* What;
        std::function<void()> Do;
        std::string Shown;
    } steps[] = {
        {"pressed", [&] { Press(); }, "nothing"},
        {"its size not known yet", [&] { Tick(StateDownloading, 0, 0); }, "busy"},
        {"downloading", [&] { Tick(StateDownloading, 3670016, 524288); }, "green 14%"},
        {"failed behind other windows", [&] { Tick(StateFailed, 3670016, 524288, ErrorNetwork); },
         "red 14%, flashing"},
        {"pressed again", [&] { Press(); }, "nothing"},
        {"downloading again", [&] { Tick(StateDownloading, 3670016, 1835008); }, "green 50%"},
        {"finished, the installer started",
         [&] {
             PutInstaller("good");
             Tick(StateFinished, 3670016, 3670016);
         },
         "nothing"},
        {"in front, pressed",
         [&] {
             Form->Show();
             SetForegroundWindow(Form->Handle());
             ASSERT_EQ(GetForegroundWindow(), Form->Handle());
             Press();
         },
         "nothing"},
        {"failed in front before any progress",
         [&] { Tick(StateFailed, 3670016, 0, ErrorNetwork); }, "red 100%"},
        {"the window closes", [&] { Form.reset(); }, "nothing"},
    };
    for (const auto& s : steps) {
        s.Do();
        EXPECT_EQ(Shown(), s.Shown) << s.What;
    }
    EXPECT_EQ(LiveTaskbars, 0) << "the closed window let go of the taskbar";
}

} // namespace
