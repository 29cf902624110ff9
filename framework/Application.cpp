#include "framework/Application.h"

#include "framework/Exceptions.h"
#include "framework/Form.h"
#include "framework/FormatSettings.h"
#include "framework/ProgramText.h"

#include <vector>

TApplication::TApplication() {
    RegisterWindowClass("TApplication");
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string title = path;
    title = title.substr(title.find_last_of("\\/") + 1);
    FTitle = title.substr(0, title.find_last_of('.'));
    const HINSTANCE module = GetModuleHandleA(nullptr);
    FIcon =
        static_cast<HICON>(LoadImageA(module, "MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                      GetSystemMetrics(SM_CYICON), LR_SHARED));
    FSmallIcon =
        static_cast<HICON>(LoadImageA(module, "MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                      GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    // A window of no size in the middle of the screen: seen only as the taskbar entry.
    CreateBoundWindow("TApplication", FTitle.c_str(),
                      WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, 0,
                      GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0,
                      nullptr);
    if (FIcon) {
        SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(FIcon));
        SendMessageA(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(FSmallIcon));
    }
}

void TApplication::ShowTaskbarEntry() {
    if (Handle() && !IsWindowVisible(Handle())) ShowWindow(Handle(), SW_SHOWNOACTIVATE);
}

TApplication::~TApplication() {
    if (Handle()) DestroyWindow(Handle());
}

void TApplication::SetTitle(const std::string& title) {
    if (title == FTitle) return;
    FTitle = title;
    // The taskbar shows this window's text.
    if (Handle()) SetWindowTextW(Handle(), ToWide(FTitle).c_str());
}

void TApplication::HandleException(const std::exception& error) {
    if (OnException)
        OnException(error);
    else
        ShowException(error);
}

void TApplication::ShowException(const std::exception& error) {
    const auto* framework = dynamic_cast<const Exception*>(&error);
    const std::string message = framework ? framework->Message() : std::string(error.what());
    ShowMessageBox(ErrorBoxText(message), FTitle, MB_OK | MB_ICONSTOP);
}

namespace {

BOOL CALLBACK CollectEnabledWindow(HWND hwnd, LPARAM list) {
    if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd))
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
}

} // namespace

int TApplication::ShowMessageBox(const std::string& text, const std::string& caption, UINT flags,
                                 HWND owner) {
    // Like a modal dialog: nothing else of ours takes input while the box is open.
    std::vector<HWND> disabled;
    EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow,
                      reinterpret_cast<LPARAM>(&disabled));
    for (HWND w : disabled)
        EnableWindow(w, FALSE);
    const int result =
        MessageBoxW(owner ? owner : Handle(), ToWide(text).c_str(), ToWide(caption).c_str(), flags);
    for (HWND w : disabled)
        if (IsWindow(w)) EnableWindow(w, TRUE);
    return result;
}

bool TApplication::ProcessMessage(MSG& msg) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        FTerminated = true;
        return true;
    }
    if (!IsKeyMsg(msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

bool TApplication::IsKeyMsg(const MSG& msg) {
    if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN && msg.message != WM_CHAR &&
        msg.message != WM_SYSCHAR)
        return false;
    if (!msg.hwnd || GetWindowLongPtrW(msg.hwnd, GWLP_WNDPROC) !=
                         reinterpret_cast<LONG_PTR>(FrameworkWindowProc))
        return false;
    auto* target = reinterpret_cast<TWindowTarget*>(GetWindowLongPtrW(msg.hwnd, GWLP_USERDATA));
    auto* control = dynamic_cast<TWinControl*>(target);
    TForm* form = control ? control->ParentForm() : nullptr;
    if (!form) return false;
    try {
        switch (msg.message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN: {
            const WORD key = static_cast<WORD>(msg.wParam);
            if (key != VK_TAB && key != VK_RETURN && key != VK_ESCAPE && key != VK_CANCEL)
                return false;
            if (control->WantsKey(key)) return false;
            return form->Perform(CM_DIALOGKEY, key, msg.lParam) != 0;
        }
        case WM_CHAR:
            if (control->WantsKey(static_cast<WORD>(msg.wParam))) return false;
            [[fallthrough]];
        case WM_SYSCHAR:
            // Characters come as UTF-16: accelerators are the 8-bit captions' ASCII ones.
            if (msg.wParam >= 0x80) return false;
            return form->Perform(CM_DIALOGCHAR, msg.wParam, msg.lParam) != 0;
        }
    } catch (const std::exception& e) {
        HandleException(e);
        return true;
    }
    return false;
}

void TApplication::ProcessMessages() {
    MSG msg;
    while (ProcessMessage(msg)) {
    }
}

void TApplication::HandleMessage() {
    MSG msg;
    if (!ProcessMessage(msg)) WaitMessage();
}

void TApplication::Run() {
    if (FMainForm && !IsWindowVisible(FMainForm->Handle())) FMainForm->Show();
    while (!FTerminated)
        HandleMessage();
}

void TApplication::Terminate() {
    PostQuitMessage(0);
}

void TApplication::WndProc(TMessage& message) {
    switch (message.Msg) {
    case WM_SETTINGCHANGE:
        // Regional settings changed: the number formats follow at once.
        if (message.LParam &&
            lstrcmpiW(reinterpret_cast<const wchar_t*>(message.LParam), L"intl") == 0)
            ReadFormatSettings();
        break;
    case WM_CLOSE:
        // Close on the taskbar entry closes the program's window.
        if (FMainForm) FMainForm->Close();
        return;
    case WM_ACTIVATE:
    case WM_SETFOCUS:
        // Activating the taskbar entry activates the program's window.
        if ((message.Msg == WM_SETFOCUS || LOWORD(message.WParam) != WA_INACTIVE) && FMainForm &&
            FMainForm->HandleAllocated() && IsWindowVisible(FMainForm->WindowHandle()) &&
            IsWindowEnabled(FMainForm->WindowHandle())) {
            SetActiveWindow(FMainForm->WindowHandle());
            return;
        }
        break;
    }
    DefaultWindowProc(message);
}

TApplication& Application() {
    static TApplication application;
    return application;
}
