// TControl: a component with a place on a parent, a caption, a font and a colour, that takes
// messages. Each control has one virtual WndProc that picks a handler by message number and
// passes the rest to its base class; Perform delivers a message synchronously. Windowless
// controls get their mouse input and their painting from the parent that holds them.
#pragma once

#include "framework/Component.h"
#include "framework/GraphicsObjects.h"
#include "framework/Messages.h"
#include "framework/Types.h"

#include <cstdint>
#include <functional>
#include <string>

class TAction;
class TWinControl;
class TForm;

enum TControlStyleFlag : uint32_t {
    csCaptureMouse = 1, // keeps the mouse while a button is held on it
    csClickEvents = 2,  // the framework raises Click on a left release inside
    csOpaque = 4,       // paints its whole area: no background erase under it
    csDoubleClicks = 8, // a double click arrives as such (else as another press)
    csSetCaption = 16,
};

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

using TShiftState = uint8_t;
constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32;

enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };

using TMouseEvent = std::function<void(TObject*, TMouseButton, TShiftState, int, int)>;
using TMouseMoveEvent = std::function<void(TObject*, TShiftState, int, int)>;
using TKeyEvent = std::function<void(TObject*, WORD&, TShiftState)>;
using TKeyPressEvent = std::function<void(TObject*, char&)>;

// The modifier keys held now (from the thread's keyboard state).
TShiftState KeyboardShiftState();
// The accelerator of a caption: the character after a single '&' ("&&" shows one '&').
// 0 when there is none.
char AcceleratorOf(const std::string& caption);

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner);
    ~TControl() override;

    TWinControl* Parent() const { return FParent; }
    virtual void SetParent(TWinControl* parent);
    // The form this control stands on, or null.
    TForm* ParentForm() const;

    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetLeft(int v) { SetBounds(v, FTop, FWidth, FHeight); }
    void SetTop(int v) { SetBounds(FLeft, v, FWidth, FHeight); }
    void SetWidth(int v) { SetBounds(FLeft, FTop, v, FHeight); }
    void SetHeight(int v) { SetBounds(FLeft, FTop, FWidth, v); }
    virtual void SetBounds(int left, int top, int width, int height);
    TRect BoundsRect() const { return Bounds(FLeft, FTop, FWidth, FHeight); }
    virtual TRect ClientRect() const { return {0, 0, FWidth, FHeight}; }
    int ClientWidth() const { return ClientRect().Width(); }
    int ClientHeight() const { return ClientRect().Height(); }

    bool Visible() const { return FVisible; }
    void SetVisible(bool visible);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled);
    const std::string& Caption() const { return FCaption; }
    // Stores a new text and announces it (CM_TEXTCHANGED); the same text again does nothing.
    void SetCaption(const std::string& caption);

    TFont& Font() { return FFont; }
    bool ParentFont() const { return FParentFont; }
    void SetParentFont(bool value);
    TColor Color() const { return FColor; }
    void SetColor(TColor color);
    bool ParentColor() const { return FParentColor; }
    void SetParentColor(bool value);

    // The action whose click and image this control takes (null: none). The control hears
    // when the action changes and drops it when it goes.
    TAction* Action() const { return FAction; }
    void SetAction(TAction* action);

    // Scales the control by multiplier / divider: its place and size, and its own font.
    void ScaleBy(int multiplier, int divider) { ChangeScale(multiplier, divider); }

    uint32_t ControlStyle() const { return FControlStyle; }
    void SetControlStyle(uint32_t style) { FControlStyle = style; }

    bool UseRightToLeftAlignment() const { return false; }
    bool UseRightToLeftReading() const { return false; }

    // Marks the control's area for painting from the message loop.
    virtual void Invalidate();
    // Paints the control before returning.
    virtual void Repaint();
    // Paints what is marked, now.
    virtual void Update();

    bool MouseCapture() const;
    void SetMouseCapture(bool capture);
    TPoint ClientToScreen(TPoint p) const;
    TPoint ScreenToClient(TPoint p) const;

    LRESULT Perform(UINT msg, WPARAM wparam = 0, LPARAM lparam = 0) {
        TMessage message{msg, wparam, lparam, 0};
        WndProc(message);
        return message.Result;
    }
    virtual void WndProc(TMessage& message);

    // Carries out the linked action, or else raises OnClick.
    virtual void Click();

    TNotifyEvent OnClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;

protected:
    virtual void DefaultHandler(TMessage& message) { message.Result = 0; }
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    // The text changed: a hook for the classes that show it.
    virtual void TextChanged() {}

    void Loaded() override;
    void Notification(TComponent* component, TOperation operation) override;
    // The linked action changed, or was just linked. `checkDefaults`: only fill what the
    // control still has at its default (a stored layout may have set the rest).
    virtual void ActionChange(TAction* sender, bool checkDefaults) {
        (void)sender;
        (void)checkDefaults;
    }
    virtual void ChangeScale(int multiplier, int divider);

private:
    friend class TWinControl;
    friend class TAction;
    void FontChanged();
    void HandleMouseMessage(TMessage& message);

    TWinControl* FParent = nullptr;
    int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
    bool FVisible = true;
    bool FEnabled = true;
    std::string FCaption;
    TFont FFont;
    bool FParentFont = true;
    bool FSyncingParent = false;
    TColor FColor = clWindow;
    bool FParentColor = true;
    uint32_t FControlStyle = csCaptureMouse | csClickEvents | csSetCaption | csDoubleClicks;
    bool FClicked = false;
    TAction* FAction = nullptr;
};

// The windowless control that holds the mouse, if any.
extern TControl* CaptureControl;
