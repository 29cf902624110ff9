// TForm: a top-level window that hosts controls. It knows its active control and announces
// every focus change to its controls, moves the focus with Tab and Shift+Tab through the tab
// order, offers Enter, Escape and accelerator characters to its controls (the default and
// cancel buttons take them), and carries a modal result.
//
// A form has a sizeable frame and the caption-bar buttons of its BorderIcons; it is owned by
// the application window, which carries the program's taskbar entry, and shows the program's
// icon. It can centre itself on the desktop when first shown, scale itself and its client
// area once for the display it is made on, and bring up scroll bars when its client area is
// smaller than the area its controls cover.
#pragma once

#include "framework/WinControl.h"
#include "framework/WindowGeometry.h"

#include <cstdint>
#include <vector>

enum TBorderIcon : uint8_t { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };
using TBorderIcons = uint8_t;

enum class TPosition { poDesigned, poDesktopCenter };

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;

    TWinControl* ActiveControl() const { return FActiveControl; }
    // Gives `control` the focus (null: the form itself).
    void SetActiveControl(TWinControl* control);
    // Moves the focus to the next (or previous) focusable tab stop after `current`.
    void SelectNext(TWinControl* current, bool forward);
    // Takes the focus away from `control` (and what it holds); `removing` when it goes.
    void DefocusControl(TWinControl* control, bool removing);
    // Called when a control of this form received the focus.
    void FocusControlChanged(TWinControl* control);

    int ModalResult() const { return FModalResult; }
    void SetModalResult(int result) { FModalResult = result; }

    TRect ClientRect() const override;
    void SetClientSize(int width, int height);

    TBorderIcons BorderIcons() const { return FBorderIcons; }
    void SetBorderIcons(TBorderIcons icons);
    TPosition Position() const { return FPosition; }
    void SetPosition(TPosition position) { FPosition = position; }
    bool AutoScroll() const { return FAutoScroll; }
    void SetAutoScroll(bool value);
    // The display the layout was made for: its dots per inch and the text height of the
    // form's font there.
    void SetPixelsPerInch(int value) { FPixelsPerInch = value; }
    void SetTextHeight(int value) { FTextHeight = value; }
    // Scales the form for a display of `screenPixelsPerInch`: the font by the ratio of the
    // dots per inch and, when the font's text height then differs from the designed one, the
    // controls' places, sizes and own fonts, and the client area, by the ratio of the text
    // heights (ScaledWindowSize: never beyond the screen's work area unless the designed size
    // is). Done once when a layout has been read, before the window is made.
    void ScaleForDisplay(int screenPixelsPerInch);
    // The scroll offset of the client area (how far the controls are scrolled).
    TPoint ScrollOffset() const { return FScrollOffset; }

    // Shows the window; the first time, raises OnShow and applies Position first.
    void Show();
    void Close();
    // Hides the window and raises OnDestroy, once; forms of classes with handlers of their own
    // call it from their destructor, while those handlers can still run.
    void Destroying();

    TNotifyEvent OnShow;
    TNotifyEvent OnDestroy;

    // Screen readers: the form's accessible children are its windowed controls and its
    // labels (static text, named by their text), numbered from 1 in z-order. A label's new
    // text is announced as a name change of its child; the live region's (a status line) is
    // read out at once where UI Automation has live regions (Windows 10 and later).
    void SetLiveRegion(TControl* control);
    TControl* LiveRegion() const { return FLiveRegion; }
    LONG AccessibleChildId(const TControl* control) const;
    std::vector<TControl*> AccessibleChildren() const;
    void AccessibleTextChanged(TControl* control);

    void WndProc(TMessage& message) override;

protected:
    TAccessibleObject* CreateAccessibleObject() override;
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;
    void Loaded() override;

private:
    void UpdateScrollBars();
    void Scroll(int bar, int code);
    void ScrollControlsBy(int dx, int dy);
    // Marks the live region for UI Automation, once the window exists.
    void AnnotateLiveRegion();

    TWinControl* FActiveControl = nullptr;
    int FModalResult = 0;
    bool FShown = false;
    bool FDestroyed = false;
    TBorderIcons FBorderIcons = biSystemMenu | biMinimize | biMaximize;
    TPosition FPosition = TPosition::poDesigned;
    bool FAutoScroll = true;
    bool FUpdatingScrollBars = false;
    TPoint FScrollOffset{0, 0};
    int FPixelsPerInch = 0; // 0: not stored, no scaling
    int FTextHeight = 0;
    TControl* FLiveRegion = nullptr;
};
