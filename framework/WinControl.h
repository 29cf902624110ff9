// TWinControl: a control with a system window of its own (created when first needed), the
// controls it holds, and a tab order among them. It paints its background, then itself, then
// its windowless children; the same routine answers WM_PAINT and WM_PRINTCLIENT. It also
// delivers mouse input and enter/leave notices to the windowless children under the pointer.
// TCustomControl adds a canvas and a virtual Paint; TGraphicControl is the windowless kind.
#pragma once

#include "framework/Canvas.h"
#include "framework/Control.h"
#include "framework/WindowTarget.h"

#include <string>
#include <vector>

class TAccessibleObject;

struct TCreateParams {
    std::string ClassName;
    std::string Caption;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    HWND WndParent = nullptr;
    UINT ClassStyle = CS_HREDRAW | CS_VREDRAW;
    // Set for a control that is one of the system's own (a button, a progress bar): the
    // window is of that class with the framework in front, and the system draws it.
    std::string SystemClass;
};

class TWinControl : public TControl, public TWindowTarget {
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;

    HWND Handle();
    bool HandleAllocated() const { return WindowHandle() != nullptr; }
    void HandleNeeded() { Handle(); }
    void DestroyHandle();

    int ControlCount() const { return static_cast<int>(FControls.size()); }
    TControl* Controls(int index) const { return FControls.at(index); }
    void InsertControl(TControl* control);
    void RemoveControl(TControl* control);
    // The windowless child that is visible at (x, y), the topmost one first.
    TControl* ControlAtPos(int x, int y) const;

    int TabOrder() const;
    void SetTabOrder(int order);
    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool value) { FTabStop = value; }
    // The focusable descendants in tab order.
    void GetTabOrderList(std::vector<TWinControl*>& list);

    virtual bool CanFocus() const;
    void SetFocus();
    bool Focused() const;

    // Sends a message to every child (in z-order) until one answers it with non-zero.
    void Broadcast(TMessage& message);

    void SetBounds(int left, int top, int width, int height) override;
    void Invalidate() override;
    void Update() override;
    void Repaint() override;
    // Marks part of the client area; `erase` asks for the background under it first.
    void InvalidateClientRect(const TRect& rect, bool erase);

    void WndProc(TMessage& message) override;

    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TKeyPressEvent OnKeyPress;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;

    // Paints the windowless children, from `first` on, onto `dc` (client coordinates).
    void PaintControls(HDC dc, TControl* first = nullptr);

protected:
    virtual void CreateParams(TCreateParams& params);
    virtual void CreateWnd();
    // The children first, so that those who follow this control's font take the scaled one.
    void ChangeScale(int multiplier, int divider) override;
    // Draws the control itself (not its windowless children) onto `dc`.
    virtual void PaintWindow(HDC dc) { (void)dc; }
    void DefaultHandler(TMessage& message) override;
    void DefaultWindowProc(TMessage& message) override;
    void WindowDestroyed() override;

    virtual void KeyDown(WORD& key, TShiftState shift);
    virtual void KeyUp(WORD& key, TShiftState shift);
    virtual void KeyPress(char& key);
    // Whether the control takes `key` itself instead of the form's dialog handling.
    virtual bool WantsKey(WORD key) const {
        (void)key;
        return false;
    }
    friend class TApplication;

    // Whether the window is one of the system's controls (TCreateParams::SystemClass).
    bool IsSystemControl() const { return FDefWndProc != nullptr; }

    // What a screen reader is told of the window's client area, made when one first asks
    // (a new object, its one reference the control's); null leaves it to the system.
    virtual TAccessibleObject* CreateAccessibleObject() { return nullptr; }

private:
    void PaintHandler(HDC dc);
    // A system control draws its text in a font handle it is given; a copy of ours, so that
    // it never holds one that our font has already let go.
    void PassFontToSystemControl();
    // Text colour and background for a system control that asks its parent for them.
    HBRUSH SystemControlColors(HDC dc);
    // The framework control behind a window of this thread, if any.
    static TWinControl* FromHandle(HWND window);
    void UpdateMouseControl(TControl* control);

    std::vector<TControl*> FControls;   // children, windowless and windowed, in z-order
    std::vector<TWinControl*> FTabList; // windowed children in tab order
    bool FTabStop = false;
    bool FTrackingMouse = false;
    TControl* FMouseControl = nullptr;
    WNDPROC FDefWndProc = nullptr;
    TOwnedFont FSystemFont;
    TOwnedBrush FColorBrush;
    TColor FColorBrushColor = 0;
    TAccessibleObject* FAccessible = nullptr;
};

class TCustomControl : public TWinControl {
public:
    explicit TCustomControl(TComponent* owner) : TWinControl(owner) {}
    TCanvas& Canvas() { return FCanvas; }

protected:
    virtual void Paint() {}
    void PaintWindow(HDC dc) override;

private:
    TCanvas FCanvas;
};

class TGraphicControl : public TControl {
public:
    explicit TGraphicControl(TComponent* owner) : TControl(owner) {}
    TCanvas& Canvas() { return FCanvas; }
    // Paints onto `dc`, whose origin is the control's top-left corner.
    void PaintTo(HDC dc);

protected:
    virtual void Paint() {}

private:
    TCanvas FCanvas;
};
