#include "framework/WinControl.h"

#include "framework/Accessible.h"
#include "framework/Form.h"
#include "framework/GdiObjects.h"
#include "framework/HighContrast.h"
#include "framework/ProgramText.h"

#include <algorithm>

namespace {

TWinControl* AsWinControl(TControl* c) {
    return dynamic_cast<TWinControl*>(c);
}

} // namespace

// ---- TWinControl

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
    // Children go before the window they live in.
    while (!FControls.empty())
        FControls.back()->SetParent(nullptr);
    DestroyHandle();
}

HWND TWinControl::Handle() {
    if (!HandleAllocated()) {
        if (Parent()) Parent()->HandleNeeded();
        // Making the parent's window makes its children's windows, this one among them.
        if (!HandleAllocated()) CreateWnd();
    }
    return WindowHandle();
}

void TWinControl::CreateParams(TCreateParams& p) {
    p.ClassName = "TWinControl";
    p.Caption = Caption();
    p.Style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    if (Parent()) p.Style |= WS_CHILD;
    if (Visible()) p.Style |= WS_VISIBLE;
    if (!Enabled()) p.Style |= WS_DISABLED;
    if (FTabStop) p.Style |= WS_TABSTOP;
    p.X = Left();
    p.Y = Top();
    p.Width = Width();
    p.Height = Height();
    p.WndParent = Parent() ? Parent()->Handle() : nullptr;
}

void TWinControl::CreateWnd() {
    TCreateParams p;
    CreateParams(p);
    if (!p.SystemClass.empty()) {
        FDefWndProc = RegisterSuperclass(p.ClassName.c_str(), p.SystemClass.c_str());
    } else {
        // Each class name gets this framework's window procedure; the background is ours to
        // paint (WM_ERASEBKGND), so no class brush.
        RegisterWindowClass(p.ClassName.c_str(), p.ClassStyle);
    }
    CreateBoundWindow(p.ClassName.c_str(), p.Caption.c_str(), p.Style, p.ExStyle, p.X, p.Y, p.Width,
                      p.Height, p.WndParent);
    if (FDefWndProc) PassFontToSystemControl();
    for (TControl* c : FControls)
        if (auto* w = AsWinControl(c)) w->HandleNeeded();
}

void TWinControl::DestroyHandle() {
    if (HandleAllocated()) DestroyWindow(WindowHandle());
}

void TWinControl::WindowDestroyed() {
    FTrackingMouse = false;
    FMouseControl = nullptr;
    // A reader may still hold the object: from now on it answers that the element is gone.
    if (FAccessible) {
        FAccessible->Detach();
        FAccessible->Release();
        FAccessible = nullptr;
    }
}

void TWinControl::InsertControl(TControl* control) {
    control->FParent = this;
    FControls.push_back(control);
    if (auto* w = AsWinControl(control)) {
        FTabList.push_back(w);
        if (HandleAllocated()) w->HandleNeeded();
    }
    if (!control->Loading()) {
        control->Perform(CM_PARENTCOLORCHANGED);
        control->Perform(CM_PARENTFONTCHANGED);
    }
    control->Invalidate();
}

void TWinControl::RemoveControl(TControl* control) {
    control->Invalidate();
    if (FMouseControl == control) FMouseControl = nullptr;
    if (auto* w = AsWinControl(control)) {
        if (TForm* form = ParentForm()) form->DefocusControl(w, true);
        w->DestroyHandle();
        FTabList.erase(std::remove(FTabList.begin(), FTabList.end(), w), FTabList.end());
    }
    FControls.erase(std::remove(FControls.begin(), FControls.end(), control), FControls.end());
    control->FParent = nullptr;
}

TControl* TWinControl::ControlAtPos(int x, int y) const {
    for (auto it = FControls.rbegin(); it != FControls.rend(); ++it) {
        TControl* c = *it;
        if (!AsWinControl(c) && c->Visible() && c->BoundsRect().Contains(x, y)) return c;
    }
    return nullptr;
}

int TWinControl::TabOrder() const {
    if (!Parent()) return -1;
    const auto& list = Parent()->FTabList;
    return static_cast<int>(std::find(list.begin(), list.end(), this) - list.begin());
}

void TWinControl::SetTabOrder(int order) {
    if (!Parent()) return;
    auto& list = Parent()->FTabList;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    order = std::clamp(order, 0, static_cast<int>(list.size()));
    list.insert(list.begin() + order, this);
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& list) {
    for (TWinControl* w : FTabList) {
        list.push_back(w);
        w->GetTabOrderList(list);
    }
}

bool TWinControl::CanFocus() const {
    for (const TControl* c = this; c; c = c->Parent())
        if (!c->Visible() || !c->Enabled()) return false;
    return true;
}

void TWinControl::SetFocus() {
    if (TForm* form = ParentForm(); form && form != this)
        form->SetActiveControl(this);
    else
        ::SetFocus(Handle());
}

bool TWinControl::Focused() const {
    return HandleAllocated() && GetFocus() == WindowHandle();
}

void TWinControl::Broadcast(TMessage& message) {
    for (size_t i = 0; i < FControls.size(); ++i) {
        FControls[i]->WndProc(message);
        if (message.Result != 0) return;
    }
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
    if (left == Left() && top == Top() && width == Width() && height == Height()) return;
    TControl::SetBounds(left, top, width, height);
    if (HandleAllocated())
        SetWindowPos(WindowHandle(), nullptr, left, top, width, height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWinControl::ChangeScale(int multiplier, int divider) {
    for (TControl* c : std::vector<TControl*>(FControls))
        c->ChangeScale(multiplier, divider);
    TControl::ChangeScale(multiplier, divider);
}

void TWinControl::Invalidate() {
    if (HandleAllocated()) InvalidateRect(WindowHandle(), nullptr, !(ControlStyle() & csOpaque));
}

void TWinControl::InvalidateClientRect(const TRect& rect, bool erase) {
    if (!HandleAllocated()) return;
    const RECT r = ToRECT(rect);
    InvalidateRect(WindowHandle(), &r, erase);
}

void TWinControl::Update() {
    if (HandleAllocated()) UpdateWindow(WindowHandle());
}

void TWinControl::Repaint() {
    Invalidate();
    Update();
}

void TWinControl::PaintControls(HDC dc, TControl* first) {
    auto it = FControls.begin();
    if (first) it = std::find(FControls.begin(), FControls.end(), first);
    for (; it != FControls.end(); ++it) {
        auto* g = dynamic_cast<TGraphicControl*>(*it);
        if (!g || !g->Visible()) continue;
        // Only the children in the area being painted.
        RECT clip, common;
        const RECT bounds = ToRECT(g->BoundsRect());
        if (GetClipBox(dc, &clip) == NULLREGION) return;
        if (!IntersectRect(&common, &clip, &bounds)) continue;
        TDCStateGuard guard(dc);
        OffsetViewportOrgEx(dc, g->Left(), g->Top(), nullptr);
        IntersectClipRect(dc, 0, 0, g->Width(), g->Height());
        g->PaintTo(dc);
    }
}

void TWinControl::PaintHandler(HDC dc) {
    PaintWindow(dc);
    PaintControls(dc);
}

void TWinControl::UpdateMouseControl(TControl* control) {
    if (control == FMouseControl) return;
    TControl* old = FMouseControl;
    FMouseControl = control;
    if (old) old->Perform(CM_MOUSELEAVE);
    if (control) control->Perform(CM_MOUSEENTER);
}

void TWinControl::KeyDown(WORD& key, TShiftState shift) {
    if (OnKeyDown) OnKeyDown(this, key, shift);
}

void TWinControl::KeyUp(WORD& key, TShiftState shift) {
    if (OnKeyUp) OnKeyUp(this, key, shift);
}

void TWinControl::KeyPress(char& key) {
    if (OnKeyPress) OnKeyPress(this, key);
}

TWinControl* TWinControl::FromHandle(HWND window) {
    if (!window || GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId() ||
        GetWindowLongPtrW(window, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(FrameworkWindowProc))
        return nullptr;
    auto* target = reinterpret_cast<TWindowTarget*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return dynamic_cast<TWinControl*>(target);
}

void TWinControl::PassFontToSystemControl() {
    LOGFONTW lf;
    Font().GetLogFont(lf);
    TOwnedFont font(CreateFontIndirectW(&lf));
    SendMessageA(WindowHandle(), WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
    FSystemFont = std::move(font);
}

HBRUSH TWinControl::SystemControlColors(HDC dc) {
    // In high contrast the user's colours stand, not the layout's.
    const bool highContrast = HighContrast();
    const TColor back = ColorToRGB(highContrast ? clBtnFace : Color());
    SetTextColor(dc, ColorToRGB(highContrast ? clBtnText : Font().Color()));
    SetBkColor(dc, back);
    if (!FColorBrush || FColorBrushColor != back) {
        FColorBrush = TOwnedBrush(CreateSolidBrush(back));
        FColorBrushColor = back;
    }
    return FColorBrush.Get();
}

void TWinControl::WndProc(TMessage& m) {
    if (FDefWndProc) {
        // The system control draws and handles the mouse itself; the framework adds its
        // focus, key, text and state handling below.
        switch (m.Msg) {
        case WM_PAINT:
        case WM_PRINTCLIENT:
        case WM_ERASEBKGND:
        case WM_MOUSEMOVE:
        case WM_MOUSELEAVE:
            DefaultWindowProc(m);
            return;
        case CM_FONTCHANGED:
            if (HandleAllocated()) PassFontToSystemControl();
            break;
        case CM_COLORCHANGED:
            FColorBrush.Reset();
            break;
        }
        if (m.Msg >= WM_MOUSEFIRST && m.Msg <= WM_MBUTTONDBLCLK) {
            DefaultWindowProc(m);
            return;
        }
    }
    switch (m.Msg) {
    case WM_GETOBJECT:
        if (static_cast<LONG>(static_cast<DWORD>(m.LParam)) == OBJID_CLIENT && HandleAllocated()) {
            if (!FAccessible) FAccessible = CreateAccessibleObject();
            if (FAccessible && (m.Result = FAccessible->Answer(m.WParam)) != 0) return;
        }
        break;
    case WM_COMMAND:
        // A system control's notification is its own business: it gets it back.
        if (TWinControl* child = FromHandle(reinterpret_cast<HWND>(m.LParam));
            child && child != this) {
            m.Result = child->Perform(CN_COMMAND, m.WParam, m.LParam);
            return;
        }
        break;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
        if (TWinControl* child = FromHandle(reinterpret_cast<HWND>(m.LParam));
            child && child != this && child->FDefWndProc) {
            m.Result = reinterpret_cast<LRESULT>(
                child->SystemControlColors(reinterpret_cast<HDC>(m.WParam)));
            return;
        }
        break;
    case WM_PAINT:
        // A device context in WParam asks for painting into it (a child painting its
        // parent's image behind itself).
        if (m.WParam) {
            PaintHandler(reinterpret_cast<HDC>(m.WParam));
        } else {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(WindowHandle(), &ps);
            PaintHandler(dc);
            EndPaint(WindowHandle(), &ps);
        }
        return;
    case WM_PRINTCLIENT: {
        HDC dc = reinterpret_cast<HDC>(m.WParam);
        if (m.LParam & PRF_ERASEBKGND) Perform(WM_ERASEBKGND, m.WParam);
        PaintHandler(dc);
        return;
    }
    case WM_ERASEBKGND: {
        TOwnedBrush brush(CreateSolidBrush(ColorToRGB(Color())));
        RECT r = ToRECT(ClientRect());
        FillRect(reinterpret_cast<HDC>(m.WParam), &r, brush.Get());
        m.Result = 1;
        return;
    }
    case WM_MOUSEMOVE:
        if (!FTrackingMouse && HandleAllocated()) {
            TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, WindowHandle(), 0};
            FTrackingMouse = TrackMouseEvent(&tme) != FALSE;
            Perform(CM_MOUSEENTER);
        }
        break;
    case WM_MOUSELEAVE:
        FTrackingMouse = false;
        UpdateMouseControl(nullptr);
        Perform(CM_MOUSELEAVE);
        return;
    case WM_SETFOCUS:
        if (TForm* form = ParentForm(); form && form != this) form->FocusControlChanged(this);
        if (OnEnter) OnEnter(this);
        break;
    case WM_KILLFOCUS:
        if (OnExit) OnExit(this);
        break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
        WORD key = static_cast<WORD>(m.WParam);
        KeyDown(key, KeyboardShiftState());
        if (key == 0) return;
        break;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: {
        WORD key = static_cast<WORD>(m.WParam);
        KeyUp(key, KeyboardShiftState());
        if (key == 0) return;
        break;
    }
    case WM_CHAR: {
        // A Unicode window's characters are UTF-16: the 8-bit handlers see the ASCII ones.
        if (m.WParam >= 0x80) break;
        char key = static_cast<char>(m.WParam);
        KeyPress(key);
        if (key == 0) return;
        break;
    }
    case CM_ENABLEDCHANGED:
        if (HandleAllocated()) EnableWindow(WindowHandle(), Enabled());
        break;
    case CM_TEXTCHANGED:
        if (HandleAllocated()) SetWindowTextW(WindowHandle(), ToWide(Caption()).c_str());
        break;
    case CM_VISIBLECHANGED:
        if (HandleAllocated()) ShowWindow(WindowHandle(), Visible() ? SW_SHOWNA : SW_HIDE);
        return;
    case CM_COLORCHANGED:
    case CM_FONTCHANGED: {
        TControl::WndProc(m);
        TMessage notice{m.Msg == CM_COLORCHANGED ? CM_PARENTCOLORCHANGED : CM_PARENTFONTCHANGED};
        for (TControl* c : std::vector<TControl*>(FControls))
            c->WndProc(notice);
        return;
    }
    case CM_DIALOGKEY:
    case CM_DIALOGCHAR:
    case CM_FOCUSCHANGED:
        Broadcast(m);
        return;
    }

    // Mouse input over a windowless child belongs to that child (or to the one that holds
    // the mouse), in its own coordinates.
    if (m.Msg >= WM_MOUSEFIRST && m.Msg <= WM_MBUTTONDBLCLK && m.Msg != WM_MOUSEWHEEL) {
        const int x = static_cast<short>(LOWORD(m.LParam));
        const int y = static_cast<short>(HIWORD(m.LParam));
        TControl* target = nullptr;
        if (CaptureControl && CaptureControl->Parent() == this)
            target = CaptureControl;
        else if (TControl* c = ControlAtPos(x, y); c && c->Enabled())
            target = c;
        if (m.Msg == WM_MOUSEMOVE) UpdateMouseControl(ControlAtPos(x, y));
        if (target) {
            TMessage forwarded{m.Msg, m.WParam, MAKELPARAM(x - target->Left(), y - target->Top()),
                               0};
            target->WndProc(forwarded);
            return;
        }
    }
    TControl::WndProc(m);
}

void TWinControl::DefaultHandler(TMessage& m) {
    if (HandleAllocated() && m.Msg < CM_BASE)
        DefaultWindowProc(m);
    else
        m.Result = 0;
}

void TWinControl::DefaultWindowProc(TMessage& m) {
    if (FDefWndProc)
        m.Result = CallWindowProcW(FDefWndProc, WindowHandle(), m.Msg, m.WParam, m.LParam);
    else
        TWindowTarget::DefaultWindowProc(m);
}

// ---- TCustomControl

void TCustomControl::PaintWindow(HDC dc) {
    TCanvasHandleScope scope(FCanvas, dc);
    Paint();
}

// ---- TGraphicControl

void TGraphicControl::PaintTo(HDC dc) {
    TCanvasHandleScope scope(FCanvas, dc);
    Paint();
}
