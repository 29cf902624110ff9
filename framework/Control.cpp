#include "framework/Control.h"

#include "framework/Action.h"
#include "framework/Form.h"
#include "framework/WinControl.h"

TControl* CaptureControl = nullptr;

TShiftState KeyboardShiftState() {
    TShiftState s = 0;
    if (GetKeyState(VK_SHIFT) < 0) s |= ssShift;
    if (GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
    if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
    return s;
}

char AcceleratorOf(const std::string& caption) {
    for (size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&') continue;
        if (caption[i + 1] == '&') {
            ++i; // "&&" is a plain ampersand
            continue;
        }
        return caption[i + 1];
    }
    return 0;
}

TControl::TControl(TComponent* owner) : TComponent(owner) {
    FFont.OnChange = [this](TObject*) { FontChanged(); };
}

TControl::~TControl() {
    if (FAction) FAction->RemoveClient(this);
    if (CaptureControl == this) CaptureControl = nullptr;
    if (FParent) FParent->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
    if (parent == FParent) return;
    if (FParent) FParent->RemoveControl(this);
    if (parent) parent->InsertControl(this);
}

TForm* TControl::ParentForm() const {
    const TControl* c = this;
    while (c->FParent)
        c = c->FParent;
    return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (left == FLeft && top == FTop && width == FWidth && height == FHeight) return;
    // The old place must be repainted too.
    Invalidate();
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
    Invalidate();
}

void TControl::SetVisible(bool visible) {
    if (visible == FVisible) return;
    if (!visible) Invalidate();
    FVisible = visible;
    Perform(CM_VISIBLECHANGED, visible);
    if (visible) Invalidate();
}

void TControl::SetEnabled(bool enabled) {
    if (enabled == FEnabled) return;
    FEnabled = enabled;
    Perform(CM_ENABLEDCHANGED);
}

void TControl::SetCaption(const std::string& caption) {
    if (caption == FCaption) return;
    FCaption = caption;
    Perform(CM_TEXTCHANGED);
}

void TControl::FontChanged() {
    if (!FSyncingParent) FParentFont = false;
    Perform(CM_FONTCHANGED);
}

void TControl::SetParentFont(bool value) {
    if (value == FParentFont) return;
    FParentFont = value;
    if (value && FParent) Perform(CM_PARENTFONTCHANGED);
}

void TControl::SetColor(TColor color) {
    if (color == FColor && !FParentColor) return;
    FColor = color;
    FParentColor = false;
    Perform(CM_COLORCHANGED);
}

void TControl::SetParentColor(bool value) {
    if (value == FParentColor) return;
    FParentColor = value;
    if (value && FParent) Perform(CM_PARENTCOLORCHANGED);
}

void TControl::Loaded() {
    // A control that follows its parent takes the parent's look once the layout is read.
    if (FParent) {
        if (FParentColor) Perform(CM_PARENTCOLORCHANGED);
        if (FParentFont) Perform(CM_PARENTFONTCHANGED);
    }
    // What the layout stored wins over what the action offers.
    if (FAction) ActionChange(FAction, true);
}

void TControl::SetAction(TAction* action) {
    if (action == FAction) return;
    if (FAction) {
        FAction->RemoveClient(this);
        RemoveFreeNotification(FAction);
    }
    FAction = action;
    if (!action) return;
    action->AddClient(this);
    FreeNotification(action);
    ActionChange(action, Loading() || action->Loading());
}

void TControl::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    // The action is being destroyed: only forget it.
    if (operation == TOperation::opRemove && component == FAction) FAction = nullptr;
}

void TControl::ChangeScale(int multiplier, int divider) {
    SetBounds(MulDiv(FLeft, multiplier, divider), MulDiv(FTop, multiplier, divider),
              MulDiv(FWidth, multiplier, divider), MulDiv(FHeight, multiplier, divider));
    // A font that follows the parent's is scaled with the parent's.
    if (!FParentFont) FFont.SetHeight(MulDiv(FFont.Height(), multiplier, divider));
}

void TControl::Invalidate() {
    if (FParent && FVisible)
        FParent->InvalidateClientRect(BoundsRect(), !(FControlStyle & csOpaque));
}

void TControl::Update() {
    if (FParent) FParent->Update();
}

void TControl::Repaint() {
    if (!FParent || !FVisible || !FParent->HandleAllocated()) return;
    if (FControlStyle & csOpaque) {
        // Paints straight onto the parent's surface; the controls above it follow.
        HDC dc = GetDC(FParent->Handle());
        {
            TDCStateGuard guard(dc);
            IntersectClipRect(dc, FLeft, FTop, FLeft + FWidth, FTop + FHeight);
            FParent->PaintControls(dc, this);
        }
        ReleaseDC(FParent->Handle(), dc);
    } else {
        Invalidate();
        FParent->Update();
    }
}

bool TControl::MouseCapture() const {
    return CaptureControl == this;
}

void TControl::SetMouseCapture(bool capture) {
    if (capture == MouseCapture()) return;
    if (capture) {
        CaptureControl = this;
        auto* self = dynamic_cast<TWinControl*>(this);
        HWND window = self ? self->Handle() : (FParent ? FParent->Handle() : nullptr);
        if (window) SetCapture(window);
    } else {
        CaptureControl = nullptr;
        ReleaseCapture();
    }
}

TPoint TControl::ClientToScreen(TPoint p) const {
    const TControl* c = this;
    if (auto* w = dynamic_cast<const TWinControl*>(c); w && w->HandleAllocated()) {
        POINT pt{p.X, p.Y};
        ::ClientToScreen(w->WindowHandle(), &pt);
        return {static_cast<int>(pt.x), static_cast<int>(pt.y)};
    }
    if (!FParent) return p;
    return FParent->ClientToScreen({p.X + FLeft, p.Y + FTop});
}

TPoint TControl::ScreenToClient(TPoint p) const {
    const TPoint origin = ClientToScreen({0, 0});
    return {p.X - origin.X, p.Y - origin.Y};
}

void TControl::Click() {
    if (FAction)
        FAction->Execute();
    else if (OnClick)
        OnClick(this);
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}

void TControl::MouseMove(TShiftState shift, int x, int y) {
    if (OnMouseMove) OnMouseMove(this, shift, x, y);
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}

void TControl::HandleMouseMessage(TMessage& m) {
    const int x = static_cast<short>(LOWORD(m.LParam));
    const int y = static_cast<short>(HIWORD(m.LParam));
    TShiftState shift = KeyboardShiftState();
    if (m.WParam & MK_LBUTTON) shift |= ssLeft;
    if (m.WParam & MK_RBUTTON) shift |= ssRight;
    if (m.WParam & MK_MBUTTON) shift |= ssMiddle;
    switch (m.Msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (FControlStyle & csCaptureMouse) SetMouseCapture(true);
        if (FControlStyle & csClickEvents) FClicked = true;
        MouseDown(TMouseButton::mbLeft, shift, x, y);
        break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
        MouseDown(TMouseButton::mbRight, shift, x, y);
        break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
        MouseDown(TMouseButton::mbMiddle, shift, x, y);
        break;
    case WM_MOUSEMOVE:
        MouseMove(shift, x, y);
        break;
    case WM_LBUTTONUP:
        if (FControlStyle & csCaptureMouse) SetMouseCapture(false);
        if (FClicked) {
            FClicked = false;
            if (ClientRect().Contains(x, y)) Click();
        }
        MouseUp(TMouseButton::mbLeft, shift, x, y);
        break;
    case WM_RBUTTONUP:
        MouseUp(TMouseButton::mbRight, shift, x, y);
        break;
    case WM_MBUTTONUP:
        MouseUp(TMouseButton::mbMiddle, shift, x, y);
        break;
    }
}

void TControl::WndProc(TMessage& m) {
    if (m.Msg >= WM_MOUSEFIRST && m.Msg <= WM_MBUTTONDBLCLK && m.Msg != WM_MOUSEWHEEL) {
        HandleMouseMessage(m);
        return;
    }
    switch (m.Msg) {
    case CM_PARENTCOLORCHANGED:
        if (FParentColor && FParent) {
            FColor = FParent->Color();
            Perform(CM_COLORCHANGED);
        }
        break;
    case CM_PARENTFONTCHANGED:
        if (FParentFont && FParent) {
            FSyncingParent = true;
            FFont.Assign(FParent->Font());
            FSyncingParent = false;
        }
        break;
    case CM_COLORCHANGED:
    case CM_ENABLEDCHANGED:
    case CM_FONTCHANGED:
        Invalidate();
        break;
    case CM_TEXTCHANGED:
        TextChanged();
        break;
    default:
        DefaultHandler(m);
    }
}
