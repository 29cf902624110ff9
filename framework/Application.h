// TApplication: the one application object of the process. It has the title, the hidden
// window that stands for the program on the taskbar, the message loop, and the error box in
// which every exception that escapes a handler ends up.
#pragma once

#include "framework/WindowTarget.h"

#include <exception>
#include <functional>
#include <string>

class TForm;

class TApplication : public TWindowTarget {
public:
    TApplication();
    ~TApplication() override;

    HWND Handle() const { return WindowHandle(); }
    // The program's icon (the resource "MAINICON"), large and small; null when it has none.
    HICON Icon() const { return FIcon; }
    HICON SmallIcon() const { return FSmallIcon; }
    // Makes the application window visible, with no size: it carries the taskbar entry.
    void ShowTaskbarEntry();
    const std::string& Title() const { return FTitle; }
    void SetTitle(const std::string& title);

    // Reports an exception that escaped a handler: OnException when set, else the error box.
    void HandleException(const std::exception& error);
    // The error box: the message (with a full stop added by the usual rule), the title as
    // caption, one OK button and the stop icon; the program's other windows are disabled
    // while it is open.
    void ShowException(const std::exception& error);
    std::function<void(const std::exception&)> OnException;

    // A message box owned by `owner` (the application window when null), with the
    // program's other windows disabled while it is open.
    int ShowMessageBox(const std::string& text, const std::string& caption, UINT flags,
                       HWND owner = nullptr);

    // The message loop: shows the main form (when it has not been shown yet), then
    // dispatches until Terminate.
    void Run();
    // Dispatches what is waiting and returns.
    void ProcessMessages();
    // Waits for one message and dispatches it.
    void HandleMessage();
    void Terminate();
    bool Terminated() const { return FTerminated; }

    // The first form shown; closing it ends the message loop.
    TForm* MainForm() const { return FMainForm; }
    void SetMainForm(TForm* form) { FMainForm = form; }

    void WndProc(TMessage& message) override;

private:
    bool ProcessMessage(MSG& msg);
    // Gives the form the first look at a key: Tab, Enter, Escape and accelerators.
    bool IsKeyMsg(const MSG& msg);

    std::string FTitle;
    HICON FIcon = nullptr;
    HICON FSmallIcon = nullptr;
    bool FTerminated = false;
    TForm* FMainForm = nullptr;
};

// The process's application object, created on first use on the GUI thread.
TApplication& Application();
