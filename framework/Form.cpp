#include "framework/Form.h"

#include "framework/Accessible.h"
#include "framework/Application.h"
#include "framework/GdiObjects.h"
#include "framework/HighContrast.h"
#include "framework/Label.h"
#include "framework/ProgramText.h"

#include <algorithm>

namespace {

// The height of the text "0" in `font`: what a layout's TextHeight was measured as.
int TextHeightOf(TFont& font) {
    HDC dc = GetDC(nullptr);
    SIZE size{};
    {
        TDCStateGuard guard(dc);
        SelectObject(dc, font.Handle());
        GetTextExtentPoint32A(dc, "0", 1, &size);
    }
    ReleaseDC(nullptr, dc);
    return size.cy;
}

using TAdjustWindowRectExForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

// What a frame and caption bar of `style` take of a window's outer size (outer minus client):
// as the system draws them now (`pixelsPerInch` 0), or as it would on a display of
// `pixelsPerInch`. Systems before Windows 10 cannot say the latter; there the frame's
// measures grow about as the dots per inch do, from those of `screenPixelsPerInch`.
TSize FrameSize(DWORD style, DWORD exStyle, int pixelsPerInch, int screenPixelsPerInch) {
    static const auto forDpi = reinterpret_cast<TAdjustWindowRectExForDpi>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("user32.dll"), "AdjustWindowRectExForDpi")));
    RECT r{0, 0, 0, 0};
    if (pixelsPerInch > 0 && forDpi) {
        forDpi(&r, style, FALSE, exStyle, static_cast<UINT>(pixelsPerInch));
        return {r.right - r.left, r.bottom - r.top};
    }
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    const TSize now{r.right - r.left, r.bottom - r.top};
    if (pixelsPerInch <= 0 || screenPixelsPerInch <= 0) return now;
    return {MulDiv(now.cx, pixelsPerInch, screenPixelsPerInch),
            MulDiv(now.cy, pixelsPerInch, screenPixelsPerInch)};
}

// The primary screen's work area, without the taskbar.
TSize WorkAreaSize() {
    RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0);
    return {r.right - r.left, r.bottom - r.top};
}

// The form's client area as readers see it: its windowed controls ask their own windows, its
// labels are simple elements of static text named by their text.
class TFormAccessible : public TAccessibleObject {
public:
    explicit TFormAccessible(TForm& form) : TAccessibleObject(form.Handle()), FForm(form) {}

protected:
    bool DescribesItself() const override { return false; }
    LONG ChildCount() override { return static_cast<LONG>(FForm.AccessibleChildren().size()); }
    TControl* Child(LONG child) {
        const std::vector<TControl*> children = FForm.AccessibleChildren();
        return child >= 1 && child <= static_cast<LONG>(children.size()) ? children[child - 1]
                                                                         : nullptr;
    }
    HWND ChildWindow(LONG child) override {
        auto* windowed = dynamic_cast<TWinControl*>(Child(child));
        return windowed ? windowed->Handle() : nullptr;
    }
    bool Describe(LONG child, TAccessibleElement& e) override {
        TControl* label = Child(child);
        if (!label) return false;
        e.Role = ROLE_SYSTEM_STATICTEXT;
        e.Name = WithoutAccelerator(ToWide(label->Caption()));
        e.State = STATE_SYSTEM_READONLY | (label->Visible() ? 0 : STATE_SYSTEM_INVISIBLE);
        const TPoint origin = label->ClientToScreen({0, 0});
        e.Screen = {origin.X, origin.Y, origin.X + label->Width(), origin.Y + label->Height()};
        return true;
    }
    LONG ChildAt(POINT screen) override {
        const TPoint p =
            FForm.ScreenToClient({static_cast<int>(screen.x), static_cast<int>(screen.y)});
        const TControl* hit = FForm.ControlAtPos(p.X, p.Y);
        return hit ? FForm.AccessibleChildId(hit) : 0;
    }

private:
    TForm& FForm;
};

// Live regions reach readers through UI Automation from Windows 10 on; the system is asked,
// not its manifest's promise.
bool LiveRegionsAvailable() {
    using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    static const bool available = [] {
        const auto getVersion = reinterpret_cast<TRtlGetVersion>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
        OSVERSIONINFOW version{sizeof version, 0, 0, 0, 0, {}};
        return getVersion && getVersion(&version) == 0 && version.dwMajorVersion >= 10;
    }();
    return available;
}

// Active Accessibility's notices (newer than the headers' Windows 7 show).
constexpr DWORD EventLiveRegionChanged = 0x8019;
// The annotation service and UI Automation's live-setting property (Polite = 1).
constexpr CLSID AccPropServicesClass = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr IID AccPropServicesInterface = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr GUID LiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG LiveSettingPolite = 1;

} // namespace

TForm::TForm(TComponent* owner) : TWinControl(owner) {
    SetColor(clBtnFace);
    SetBounds(0, 0, 320, 240);
}

TForm::~TForm() {
    Destroying();
    if (Application().MainForm() == this) Application().SetMainForm(nullptr);
}

void TForm::Destroying() {
    if (FDestroyed) return;
    FDestroyed = true;
    if (HandleAllocated()) ShowWindow(WindowHandle(), SW_HIDE);
    if (OnDestroy) OnDestroy(this);
}

void TForm::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    p.ClassName = "TForm";
    p.Style = WS_CAPTION | WS_THICKFRAME | WS_CLIPCHILDREN;
    if (FBorderIcons & biSystemMenu) {
        // Without the system menu the caption bar has no buttons at all.
        p.Style |= WS_SYSMENU;
        if (FBorderIcons & biMinimize) p.Style |= WS_MINIMIZEBOX;
        if (FBorderIcons & biMaximize) p.Style |= WS_MAXIMIZEBOX;
    }
    // Owned by the application window: the taskbar entry is that window's.
    p.WndParent = Application().Handle();
}

TAccessibleObject* TForm::CreateAccessibleObject() {
    return new TFormAccessible(*this);
}

std::vector<TControl*> TForm::AccessibleChildren() const {
    std::vector<TControl*> children;
    for (int i = 0; i < ControlCount(); ++i)
        if (dynamic_cast<TWinControl*>(Controls(i)) || dynamic_cast<TCustomLabel*>(Controls(i)))
            children.push_back(Controls(i));
    return children;
}

LONG TForm::AccessibleChildId(const TControl* control) const {
    const std::vector<TControl*> children = AccessibleChildren();
    for (size_t i = 0; i < children.size(); ++i)
        if (children[i] == control) return static_cast<LONG>(i + 1);
    return 0;
}

void TForm::AccessibleTextChanged(TControl* control) {
    const LONG child = AccessibleChildId(control);
    if (!HandleAllocated() || child == 0) return;
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, WindowHandle(), OBJID_CLIENT, child);
    if (control == FLiveRegion && LiveRegionsAvailable())
        NotifyWinEvent(EventLiveRegionChanged, WindowHandle(), OBJID_CLIENT, child);
}

void TForm::SetLiveRegion(TControl* control) {
    FLiveRegion = control;
    AnnotateLiveRegion();
}

void TForm::AnnotateLiveRegion() {
    const LONG child = AccessibleChildId(FLiveRegion);
    if (!HandleAllocated() || child == 0 || !LiveRegionsAvailable() || !EnsureComApartment())
        return;
    IAccPropServices* services = nullptr;
    if (FAILED(CoCreateInstance(AccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER,
                                AccPropServicesInterface, reinterpret_cast<void**>(&services))))
        return;
    VARIANT polite;
    polite.vt = VT_I4;
    polite.lVal = LiveSettingPolite;
    services->SetHwndProp(WindowHandle(), static_cast<DWORD>(OBJID_CLIENT),
                          static_cast<DWORD>(child), LiveSettingProperty, polite);
    services->Release();
}

void TForm::CreateWnd() {
    TWinControl::CreateWnd();
    AnnotateLiveRegion();
    // No icon of its own: the program's.
    if (HICON icon = Application().Icon()) {
        SendMessageA(WindowHandle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageA(WindowHandle(), WM_SETICON, ICON_SMALL,
                     reinterpret_cast<LPARAM>(Application().SmallIcon()));
    }
}

void TForm::Loaded() {
    TWinControl::Loaded();
    HDC screen = GetDC(nullptr);
    const int ppi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    ScaleForDisplay(ppi);
}

void TForm::ScaleForDisplay(int screenPixelsPerInch) {
    if (FPixelsPerInch <= 0 || screenPixelsPerInch == FPixelsPerInch) return;
    const int fontHeight = MulDiv(Font().Height(), screenPixelsPerInch, FPixelsPerInch);
    TFont scaled;
    scaled.Assign(Font());
    scaled.SetHeight(fontHeight);
    const int textHeight = TextHeightOf(scaled);
    const bool controlsScale = FTextHeight > 0 && textHeight != FTextHeight;
    if (controlsScale)
        for (int i = 0; i < ControlCount(); ++i)
            Controls(i)->ScaleBy(textHeight, FTextHeight);
    // Only now: a control that sizes itself to its text in this font does so after its
    // bounds were scaled, not before.
    Font().SetHeight(fontHeight);
    if (!controlsScale) return;
    // The client area grows with the controls, so that they fit as they were designed to;
    // the frame is this display's own.
    TCreateParams p;
    CreateParams(p);
    const int systemPixelsPerInch = TFont::ScreenPixelsPerInch();
    const TSize size = ScaledWindowSize(
        {Width(), Height()}, FrameSize(p.Style, p.ExStyle, FPixelsPerInch, systemPixelsPerInch),
        FrameSize(p.Style, p.ExStyle, 0, systemPixelsPerInch), textHeight, FTextHeight,
        WorkAreaSize());
    SetBounds(Left(), Top(), size.cx, size.cy);
    UpdateScrollBars();
}

TRect TForm::ClientRect() const {
    if (!HandleAllocated()) return TWinControl::ClientRect();
    RECT r;
    GetClientRect(WindowHandle(), &r);
    return FromRECT(r);
}

void TForm::SetClientSize(int width, int height) {
    TCreateParams p;
    CreateParams(p);
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, p.Style, FALSE, p.ExStyle);
    SetBounds(Left(), Top(), r.right - r.left, r.bottom - r.top);
}

void TForm::SetBorderIcons(TBorderIcons icons) {
    if (icons == FBorderIcons) return;
    FBorderIcons = icons;
    if (!HandleAllocated()) return;
    TCreateParams p;
    CreateParams(p);
    const LONG_PTR frame = WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    const LONG_PTR style = GetWindowLongPtrA(WindowHandle(), GWL_STYLE);
    SetWindowLongPtrA(WindowHandle(), GWL_STYLE, (style & ~frame) | (p.Style & frame));
    SetWindowPos(WindowHandle(), nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void TForm::SetAutoScroll(bool value) {
    if (value == FAutoScroll) return;
    FAutoScroll = value;
    if (!value && HandleAllocated()) {
        ScrollControlsBy(FScrollOffset.X, FScrollOffset.Y);
        FScrollOffset = {0, 0};
        ShowScrollBar(WindowHandle(), SB_BOTH, FALSE);
    }
    UpdateScrollBars();
}

void TForm::SetActiveControl(TWinControl* control) {
    if (control && (!control->CanFocus() || control->ParentForm() != this)) return;
    FActiveControl = control;
    if (!HandleAllocated()) return;
    ::SetFocus(control ? control->Handle() : WindowHandle());
}

void TForm::FocusControlChanged(TWinControl* control) {
    FActiveControl = control;
    Perform(CM_FOCUSCHANGED, 0, reinterpret_cast<LPARAM>(control));
}

void TForm::DefocusControl(TWinControl* control, bool removing) {
    bool holds = false;
    for (TControl* c = FActiveControl; c; c = c->Parent())
        if (c == control) holds = true;
    if (!holds) return;
    if (removing)
        FActiveControl = nullptr;
    else
        SetActiveControl(nullptr);
}

void TForm::SelectNext(TWinControl* current, bool forward) {
    std::vector<TWinControl*> all, stops;
    GetTabOrderList(all);
    for (TWinControl* w : all)
        if (w == current || (w->TabStop() && w->CanFocus())) stops.push_back(w);
    if (stops.empty()) return;
    auto it = std::find(stops.begin(), stops.end(), current);
    const int n = static_cast<int>(stops.size());
    int i = it == stops.end() ? (forward ? -1 : n) : static_cast<int>(it - stops.begin());
    for (int step = 0; step < n; ++step) {
        i = ((forward ? i + 1 : i - 1) + n) % n;
        if (stops[i] != current || n == 1) break;
    }
    if (stops[i]->TabStop() && stops[i]->CanFocus()) SetActiveControl(stops[i]);
}

void TForm::Show() {
    HandleNeeded();
    if (!FShown) {
        FShown = true;
        // An error in the handler does not keep the window from appearing.
        try {
            if (OnShow) OnShow(this);
        } catch (const std::exception& e) {
            Application().HandleException(e);
        }
        if (FPosition == TPosition::poDesktopCenter) {
            // The virtual desktop is the bounding box of all monitors; the place is taken
            // from the primary monitor's corner.
            const TPoint p =
                DesktopCenteredPosition(GetSystemMetrics(SM_CXVIRTUALSCREEN),
                                        GetSystemMetrics(SM_CYVIRTUALSCREEN), Width(), Height());
            SetBounds(p.X, p.Y, Width(), Height());
        }
    }
    if (Application().MainForm() == this) Application().ShowTaskbarEntry();
    ShowWindow(Handle(), SW_SHOW);
    UpdateScrollBars();
}

void TForm::Close() {
    if (Application().MainForm() == this)
        Application().Terminate();
    else if (HandleAllocated())
        ShowWindow(WindowHandle(), SW_HIDE);
}

void TForm::UpdateScrollBars() {
    if (!FAutoScroll || !HandleAllocated() || FUpdatingScrollBars) return;
    FUpdatingScrollBars = true;
    // The area the controls cover, measured from the unscrolled origin.
    int right = 0, bottom = 0;
    for (int i = 0; i < ControlCount(); ++i) {
        const TControl* c = Controls(i);
        if (!c->Visible()) continue;
        right = std::max(right, c->Left() + c->Width() + FScrollOffset.X);
        bottom = std::max(bottom, c->Top() + c->Height() + FScrollOffset.Y);
    }
    // Showing one bar narrows the client area for the other: settle in two rounds.
    for (int round = 0; round < 2; ++round) {
        RECT client;
        GetClientRect(WindowHandle(), &client);
        SCROLLINFO h{sizeof h,
                     SIF_RANGE | SIF_PAGE,
                     0,
                     std::max(0, right - 1),
                     static_cast<UINT>(client.right),
                     0,
                     0};
        SCROLLINFO v{sizeof v,
                     SIF_RANGE | SIF_PAGE,
                     0,
                     std::max(0, bottom - 1),
                     static_cast<UINT>(client.bottom),
                     0,
                     0};
        // A page as large as the range hides the bar.
        if (right <= client.right) h.nMax = 0, h.nPage = 1;
        if (bottom <= client.bottom) v.nMax = 0, v.nPage = 1;
        SetScrollInfo(WindowHandle(), SB_HORZ, &h, TRUE);
        SetScrollInfo(WindowHandle(), SB_VERT, &v, TRUE);
    }
    // A larger client area may leave the offset beyond the end: scroll back.
    RECT client;
    GetClientRect(WindowHandle(), &client);
    const int maxX = std::max(0, right - static_cast<int>(client.right));
    const int maxY = std::max(0, bottom - static_cast<int>(client.bottom));
    const TPoint wanted{std::min(FScrollOffset.X, maxX), std::min(FScrollOffset.Y, maxY)};
    if (!(wanted == FScrollOffset)) {
        ScrollControlsBy(FScrollOffset.X - wanted.X, FScrollOffset.Y - wanted.Y);
        FScrollOffset = wanted;
    }
    SetScrollPos(WindowHandle(), SB_HORZ, FScrollOffset.X, TRUE);
    SetScrollPos(WindowHandle(), SB_VERT, FScrollOffset.Y, TRUE);
    FUpdatingScrollBars = false;
}

void TForm::ScrollControlsBy(int dx, int dy) {
    if (dx == 0 && dy == 0) return;
    for (int i = 0; i < ControlCount(); ++i) {
        TControl* c = Controls(i);
        c->SetBounds(c->Left() + dx, c->Top() + dy, c->Width(), c->Height());
    }
    Invalidate();
}

void TForm::Scroll(int bar, int code) {
    SCROLLINFO si{sizeof si, SIF_ALL, 0, 0, 0, 0, 0};
    GetScrollInfo(WindowHandle(), bar, &si);
    const int page = static_cast<int>(si.nPage);
    const int last = std::max(0, si.nMax - page + 1);
    int pos = si.nPos;
    switch (code) {
    case SB_LINEUP:
        pos -= 8;
        break;
    case SB_LINEDOWN:
        pos += 8;
        break;
    case SB_PAGEUP:
        pos -= page;
        break;
    case SB_PAGEDOWN:
        pos += page;
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        pos = si.nTrackPos;
        break;
    case SB_TOP:
        pos = 0;
        break;
    case SB_BOTTOM:
        pos = last;
        break;
    default:
        return;
    }
    pos = std::clamp(pos, 0, last);
    int& offset = bar == SB_HORZ ? FScrollOffset.X : FScrollOffset.Y;
    if (pos == offset) return;
    const int delta = offset - pos;
    offset = pos;
    if (bar == SB_HORZ)
        ScrollControlsBy(delta, 0);
    else
        ScrollControlsBy(0, delta);
    SetScrollPos(WindowHandle(), bar, pos, TRUE);
}

void TForm::WndProc(TMessage& m) {
    switch (m.Msg) {
    case CM_DIALOGKEY:
        if (m.WParam == VK_TAB && !(KeyboardShiftState() & (ssCtrl | ssAlt))) {
            SelectNext(FActiveControl, !(KeyboardShiftState() & ssShift));
            m.Result = 1;
            return;
        }
        break;
    case WM_ACTIVATE:
        if (LOWORD(m.WParam) != WA_INACTIVE) {
            // The focus goes back where it was, or to the first tab stop.
            if (FActiveControl && FActiveControl->CanFocus())
                SetActiveControl(FActiveControl);
            else
                SelectNext(nullptr, true);
            m.Result = 0;
            return;
        }
        break;
    case WM_SETFOCUS:
        if (FActiveControl && FActiveControl->CanFocus()) {
            ::SetFocus(FActiveControl->Handle());
            return;
        }
        // The form itself holds the focus now: that is a focus change too.
        FocusControlChanged(nullptr);
        break;
    case WM_CLOSE:
        Close();
        return;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
        // Only top-level windows hear of it: the controls follow the user's new choice.
        if (RefreshHighContrast() || m.Msg == WM_SYSCOLORCHANGE) {
            for (HWND child = GetWindow(WindowHandle(), GW_CHILD); child;
                 child = GetWindow(child, GW_HWNDNEXT))
                SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
            RedrawWindow(WindowHandle(), nullptr, nullptr,
                         RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
        }
        break;
    case WM_WINDOWPOSCHANGED: {
        // The user moves and sizes the window: the stored bounds follow.
        RECT r;
        GetWindowRect(WindowHandle(), &r);
        TControl::SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
        break;
    }
    case WM_SIZE:
        TWinControl::WndProc(m);
        UpdateScrollBars();
        return;
    case WM_HSCROLL:
    case WM_VSCROLL:
        if (!m.LParam) {
            Scroll(m.Msg == WM_HSCROLL ? SB_HORZ : SB_VERT, LOWORD(m.WParam));
            return;
        }
        break;
    }
    TWinControl::WndProc(m);
}
