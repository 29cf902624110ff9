#include "controls/RzButton.h"

#include "controls/RzColorMath.h"
#include "controls/RzFrames.h"
#include "controls/RzCommonResources.h"
#include "controls/RzGraphics.h"
#include "framework/Accessible.h"
#include "framework/Action.h"
#include "framework/Form.h"
#include "framework/GdiObjects.h"
#include "framework/HighContrast.h"
#include "framework/ProgramText.h"
#include "framework/ThemeServices.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

void Line(TCanvas& canvas, int x1, int y1, int x2, int y2) {
    canvas.MoveTo(x1, y1);
    canvas.LineTo(x2, y2);
}

bool SameCharIgnoringCase(char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) ==
           std::toupper(static_cast<unsigned char>(b));
}

// Clears a flag when it goes out of scope, also when a handler throws on the way.
class TFlagGuard {
public:
    explicit TFlagGuard(bool& flag) : FFlag(flag) { FFlag = true; }
    TFlagGuard(const TFlagGuard&) = delete;
    TFlagGuard& operator=(const TFlagGuard&) = delete;
    ~TFlagGuard() { FFlag = false; }

private:
    bool& FFlag;
};

// The button as a screen reader knows it.
class TButtonAccessible : public TAccessibleObject {
public:
    explicit TButtonAccessible(TRzCustomButton& button)
        : TAccessibleObject(button.Handle()), FButton(button) {}

protected:
    bool Describe(LONG child, TAccessibleElement& e) override {
        if (child != CHILDID_SELF) return false;
        e.Role = ROLE_SYSTEM_PUSHBUTTON;
        e.Name = WithoutAccelerator(ToWide(FButton.Caption()));
        e.State = FButton.AccessibleState();
        if (FButton.Enabled()) e.DefaultAction = ToWide("按下");
        return true;
    }
    bool DoDefaultAction(LONG child) override {
        if (child != CHILDID_SELF || !FButton.Enabled() || !FButton.Visible()) return false;
        return PostMessageW(Window(), CM_ACCESSIBLEPRESS, 0, 0) != FALSE;
    }

private:
    TRzCustomButton& FButton;
};

} // namespace

// ---- TRzCustomButton

TAccessibleObject* TRzCustomButton::CreateAccessibleObject() {
    return new TButtonAccessible(*this);
}

LONG TRzCustomButton::AccessibleState() {
    LONG state = 0;
    if (!Visible()) state |= STATE_SYSTEM_INVISIBLE;
    if (!Enabled()) state |= STATE_SYSTEM_UNAVAILABLE;
    if (CanFocus()) state |= STATE_SYSTEM_FOCUSABLE;
    if (Focused()) state |= STATE_SYSTEM_FOCUSED;
    if (DrawnPressed()) state |= STATE_SYSTEM_PRESSED;
    if (FMouseInside && Enabled()) state |= STATE_SYSTEM_HOTTRACKED;
    return state;
}

TRzCustomButton::TRzCustomButton(TComponent* owner) : TCustomControl(owner) {
    // The button raises its own click on release; a double click is two presses; the parent's
    // image is erased into the corners, so the control is not opaque.
    SetControlStyle((ControlStyle() | csCaptureMouse) &
                    ~(csClickEvents | csDoubleClicks | csOpaque));
    SetTabStop(true);
    SetBounds(Left(), Top(), 75, 25);
    SetColor(clBtnFace);
}

void TRzCustomButton::CreateParams(TCreateParams& params) {
    TCustomControl::CreateParams(params);
    params.ClassName = "TRzButton";
    params.ClassStyle &= ~static_cast<UINT>(CS_DBLCLKS);
}

void TRzCustomButton::SetAlignmentVertical(TAlignmentVertical value) {
    if (value == FAlignmentVertical) return;
    FAlignmentVertical = value;
    Invalidate();
}

void TRzCustomButton::SetHotTrack(bool value) {
    if (value == FHotTrack) return;
    FHotTrack = value;
    Invalidate();
}

void TRzCustomButton::SetHighlightColor(TColor value) {
    if (value == FHighlightColor) return;
    FHighlightColor = value;
    Invalidate();
}

void TRzCustomButton::SetLightTextStyle(bool value) {
    if (value == FLightTextStyle) return;
    FLightTextStyle = value;
    Invalidate();
}

void TRzCustomButton::SetTextStyle(TTextStyle value) {
    if (value == FTextStyle) return;
    FTextStyle = value;
    Invalidate();
}

void TRzCustomButton::SetTextHighlightColor(TColor value) {
    if (value == FTextHighlightColor) return;
    FTextHighlightColor = value;
    Invalidate();
}

void TRzCustomButton::SetTextShadowColor(TColor value) {
    if (value == FTextShadowColor) return;
    FTextShadowColor = value;
    Invalidate();
}

void TRzCustomButton::SetTextShadowDepth(int value) {
    if (value == FTextShadowDepth) return;
    FTextShadowDepth = value;
    Invalidate();
}

void TRzCustomButton::SetThemeAware(bool value) {
    if (value == FThemeAware) return;
    FThemeAware = value;
    Invalidate();
}

void TRzCustomButton::SetTransparent(bool value) {
    if (value == FTransparent) return;
    FTransparent = value;
    Invalidate();
}

bool TRzCustomButton::Themed() const {
    return FThemeAware && ThemeServicesEnabled();
}

void TRzCustomButton::HotTrackRedraw() {
    // Only the face changes with the pointer: no erase, so the corners are left alone.
    if (FHotTrack || Themed()) InvalidateClientRect(GetHotTrackRect(), false);
}

void TRzCustomButton::PaintParentImage(HDC dc) {
    TWinControl* parent = Parent();
    if (!parent) return;
    {
        TDCStateGuard guard(dc);
        OffsetViewportOrgEx(dc, -Left(), -Top(), nullptr);
        const TRect area = parent->ClientRect();
        IntersectClipRect(dc, area.Left, area.Top, area.Right, area.Bottom);
        parent->Perform(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc));
        parent->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc));
    }
    // A parent that does not paint through the framework may have drawn over its children's
    // place in the meantime; let it paint itself properly.
    if (!dynamic_cast<TCustomControl*>(parent) && !dynamic_cast<TForm*>(parent) && !Designing())
        parent->Invalidate();
}

void TRzCustomButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomControl::MouseDown(button, shift, x, y);
    if (button != TMouseButton::mbLeft || !Enabled()) return;
    ::SetFocus(Handle());
    // The focus can be refused (an OnExit elsewhere may move it on): then there is no press.
    if (!Focused()) return;
    FPressedLook = true;
    RequestRedraw();
    FTracking = true;
}

void TRzCustomButton::MouseMove(TShiftState shift, int x, int y) {
    TCustomControl::MouseMove(shift, x, y);
    if (!FTracking) return;
    const bool inside = ClientRect().Contains(x, y);
    if (inside == FPressedLook) return;
    FPressedLook = inside;
    RequestRedraw();
}

void TRzCustomButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomControl::MouseUp(button, shift, x, y);
    // Any button ends a press, so a right click during a drag cannot leave it hanging.
    if (!FTracking) return;
    FTracking = false;
    FPressedLook = false;
    if (ClientRect().Contains(x, y)) PerformPress();
    RequestRedraw();
}

void TRzCustomButton::KeyDown(WORD& key, TShiftState shift) {
    if (key == VK_SPACE && !(shift & ssAlt)) {
        FSpacePressed = true;
        FPressedLook = true;
        RequestRedraw();
    }
    TCustomControl::KeyDown(key, shift);
}

void TRzCustomButton::KeyUp(WORD& key, TShiftState shift) {
    if (key == VK_SPACE) {
        FPressedLook = false;
        if (FSpacePressed) PerformPress();
        RequestRedraw();
    }
    TCustomControl::KeyUp(key, shift);
}

void TRzCustomButton::WndProc(TMessage& m) {
    switch (m.Msg) {
    case CM_ACCESSIBLEPRESS:
        if (Enabled() && Visible()) PerformPress();
        return;
    case CM_MOUSEENTER:
        if (Designing()) return;
        FMouseInside = true;
        TCustomControl::WndProc(m);
        if (OnMouseEnter) OnMouseEnter(this);
        HotTrackRedraw();
        return;
    case CM_MOUSELEAVE:
        FMouseInside = false;
        TCustomControl::WndProc(m);
        if (OnMouseLeave) OnMouseLeave(this);
        HotTrackRedraw();
        return;
    case CM_DIALOGCHAR: {
        const char accelerator = AcceleratorOf(Caption());
        if (accelerator && SameCharIgnoringCase(accelerator, static_cast<char>(m.WParam)) &&
            CanFocus()) {
            Click();
            m.Result = 1;
            return;
        }
        break;
    }
    case WM_SETFOCUS:
        TCustomControl::WndProc(m);
        FocusRedraw();
        return;
    case WM_KILLFOCUS:
        TCustomControl::WndProc(m);
        FocusRedraw();
        // A press in progress ends without a click when the focus goes elsewhere.
        FSpacePressed = false;
        FPressedLook = false;
        RequestRedraw();
        return;
    case CM_ENABLEDCHANGED:
        if (!Enabled() && Parent())
            if (TForm* form = ParentForm()) form->DefocusControl(this, false);
        if (HandleAllocated() && !Designing()) EnableWindow(WindowHandle(), Enabled());
        Invalidate();
        return;
    case CM_TEXTCHANGED:
        TCustomControl::WndProc(m);
        Repaint();
        return;
    case WM_ERASEBKGND:
        if (FTransparent) {
            PaintBehindCorners(reinterpret_cast<HDC>(m.WParam));
            m.Result = 1;
            return;
        }
        break;
    }
    TCustomControl::WndProc(m);
}

void TRzCustomButton::DrawCaptionText(TCanvas& canvas, TRect rect, UINT format) {
    canvas.Brush().SetStyle(TBrushStyle::bsClear);
    // Through another face first, so that the font is selected afresh whatever came before.
    canvas.Font().SetName("System");
    canvas.Font().Assign(Font());

    const int h = MeasureCaptionHeight(canvas, rect);
    switch (FAlignmentVertical) {
    case avTop:
        rect.Bottom = rect.Top + h;
        break;
    case avCenter:
        rect.Top = (rect.Top + rect.Bottom - h) / 2;
        rect.Bottom = rect.Top + h;
        break;
    case avBottom:
        rect.Top = rect.Bottom - h - 1;
        break;
    }
    if (UseRightToLeftReading()) format |= DT_RTLREADING;
    const bool rightAligned = (format & DT_RIGHT) != 0;

    if (HighContrast()) {
        // The system's text colours, with none of the effects' copies.
        canvas.Font().SetColor(!Enabled()       ? clGrayText
                               : DrawnPressed() ? clHighlightText
                                                : clBtnText);
        canvas.DrawTextFormatted(Caption(), rect, format);
        canvas.Brush().SetStyle(TBrushStyle::bsSolid);
        return;
    }
    auto drawCopy = [&](TColor color, int dx, int dy) {
        TRect copy = rect.Offset(dx, dy);
        canvas.Font().SetColor(color);
        canvas.DrawTextFormatted(Caption(), copy, format);
    };
    if (Enabled()) {
        if (FTextStyle == tsRaised || FTextStyle == tsRecessed) {
            const bool raised = FTextStyle == tsRaised;
            const TColor front = raised ? FTextHighlightColor : FTextShadowColor;
            const TColor back = raised ? FTextShadowColor : FTextHighlightColor;
            // A light style keeps only the copy on the light side.
            if (!(raised && FLightTextStyle)) drawCopy(back, 1, 1);
            if (!(!raised && FLightTextStyle)) drawCopy(front, -1, -1);
        } else if (FTextStyle == tsShadow) {
            drawCopy(FTextShadowColor, rightAligned ? 0 : FTextShadowDepth, FTextShadowDepth);
        }
        canvas.Font().SetColor(Font().Color());
        if (rightAligned) rect = rect.Offset(-FTextShadowDepth, 0);
    } else {
        canvas.Font().SetColor(clGrayText);
    }
    canvas.DrawTextFormatted(Caption(), rect, format);
    canvas.Brush().SetStyle(TBrushStyle::bsSolid);
}

int TRzCustomButton::MeasureCaptionHeight(TCanvas& canvas, const TRect& rect) {
    TRect measured = rect;
    return canvas.DrawTextFormatted(
        Caption(), measured, DT_CENTER | DT_VCENTER | DT_WORDBREAK | DT_EXPANDTABS | DT_CALCRECT);
}

// ---- TRzButton

TRzButton::TRzButton(TComponent* owner) : TRzCustomButton(owner) {}

void TRzButton::SetAlignment(TAlignment value) {
    if (value == FAlignment) return;
    FAlignment = value;
    Invalidate();
}

void TRzButton::SetAllowAllUp(bool value) {
    if (value == FAllowAllUp) return;
    FAllowAllUp = value;
    NotifyGroup();
}

void TRzButton::SetDefault(bool value) {
    FDefault = value;
    // Every button works out again whether Enter is its own.
    if (HandleAllocated())
        if (TForm* form = ParentForm())
            form->Perform(CM_FOCUSCHANGED, 0, reinterpret_cast<LPARAM>(form->ActiveControl()));
}

void TRzButton::SetDown(bool value) {
    if (FGroupIndex == 0) value = false;
    if (value == FDown) return;
    // Only a press of another button of the group raises the down one, unless all may be up.
    if (FDown && !FAllowAllUp && FGroupIndex != 0) return;
    FDown = value;
    Invalidate();
    if (value) NotifyGroup();
}

void TRzButton::SetFrameColor(TColor value) {
    if (value == FFrameColor) return;
    FFrameColor = value;
    Invalidate();
}

void TRzButton::SetGroupIndex(int value) {
    if (value == FGroupIndex) return;
    FGroupIndex = value;
    NotifyGroup();
}

void TRzButton::SetShowDownPattern(bool value) {
    if (value == FShowDownPattern) return;
    FShowDownPattern = value;
    Invalidate();
}

void TRzButton::SetShowFocusRect(bool value) {
    if (value == FShowFocusRect) return;
    FShowFocusRect = value;
    Invalidate();
}

void TRzButton::SetHotTrack(bool value) {
    TRzCustomButton::SetHotTrack(value);
    // A hot-tracking face has rounded corners: the parent must show through them.
    SetTransparent(value);
    if (Parent()) InvalidateRect(Handle(), nullptr, TRUE);
}

void TRzButton::NotifyGroup() {
    if (FGroupIndex == 0 || !Parent()) return;
    TMessage message{RzButtonGroupMessage, static_cast<WPARAM>(FGroupIndex),
                     reinterpret_cast<LPARAM>(this), 0};
    Parent()->Broadcast(message);
}

void TRzButton::GroupChanged(int groupIndex, TRzButton* sender) {
    if (groupIndex != FGroupIndex || sender == this) return;
    if (sender->Down() && FDown) {
        FDown = false;
        Invalidate();
    }
    FAllowAllUp = sender->AllowAllUp();
}

void TRzButton::Click() {
    if (TForm* form = ParentForm()) form->SetModalResult(FModalResult);
    TRzCustomButton::Click();
}

void TRzButton::PerformPress() {
    if (FGroupIndex != 0)
        SetDown(!FDown);
    else
        RequestRedraw();
    TFlagGuard inPress(FInPress);
    Click();
}

void TRzButton::CreateWnd() {
    TRzCustomButton::CreateWnd();
    FReceivesEnter = FDefault;
}

void TRzButton::WndProc(TMessage& m) {
    switch (m.Msg) {
    case CM_DIALOGKEY: {
        const bool mine =
            (m.WParam == VK_RETURN && FReceivesEnter) || (m.WParam == VK_ESCAPE && FCancel);
        if (mine && !(KeyboardShiftState() & (ssShift | ssCtrl | ssAlt)) && CanFocus()) {
            Click();
            m.Result = 1;
            return;
        }
        break;
    }
    case CM_FOCUSCHANGED: {
        // Enter belongs to the focused button, or to the default one while the focus is on
        // a control that is no button of this kind.
        auto* focused = reinterpret_cast<TWinControl*>(m.LParam);
        const bool receives = dynamic_cast<TRzButton*>(focused) ? focused == this : FDefault;
        if (receives != FReceivesEnter) {
            FReceivesEnter = receives;
            Repaint();
        }
        break;
    }
    case RzButtonGroupMessage:
        GroupChanged(static_cast<int>(static_cast<LONG_PTR>(m.WParam)),
                     reinterpret_cast<TRzButton*>(m.LParam));
        return;
    }
    TRzCustomButton::WndProc(m);
}

LONG TRzButton::AccessibleState() {
    LONG state = TRzCustomButton::AccessibleState();
    // The button Enter presses, as its face shows it.
    if (FReceivesEnter && Enabled()) state |= STATE_SYSTEM_DEFAULT;
    return state;
}

TThemedButtonState TRzButton::ThemedState() const {
    if (!Enabled()) return TThemedButtonState::Disabled;
    if (Pressed()) return TThemedButtonState::Pressed;
    if (MouseInside()) return TThemedButtonState::Hot;
    if (FGroupIndex != 0 || !(FReceivesEnter || Focused()) || PressedLook())
        return TThemedButtonState::Normal;
    return TThemedButtonState::Defaulted;
}

TRect TRzButton::GetCaptionRect() {
    TRect r = ClientRect().Inflated(-5, -5);
    const bool latched = FDown && FGroupIndex != 0;
    // Only the classic face moves its caption with the press.
    if (!HotTrack() && !Themed() && (latched || PressedLook())) r = r.Offset(1, 1);
    return r;
}

void TRzButton::DrawContent() {
    TAlignment alignment = FAlignment;
    if (UseRightToLeftAlignment() && alignment != taCenter)
        alignment = alignment == taLeftJustify ? taRightJustify : taLeftJustify;
    UINT format = DT_WORDBREAK | DT_EXPANDTABS;
    if (alignment == taRightJustify)
        format |= DT_RIGHT;
    else if (alignment == taCenter)
        format |= DT_CENTER;
    DrawCaptionText(Canvas(), GetCaptionRect(), format);
}

void TRzButton::BuildDownPattern(TBitmap& bitmap) {
    bitmap.SetSize(8, 8);
    TCanvas& canvas = bitmap.Canvas();
    canvas.Brush().SetColor(Color());
    canvas.FillRect({0, 0, 8, 8});
    const TColor dots = ColorToRGB(Color()) == clSilver ? clGray : clSilver;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            if ((x + y) % 2 == 0) canvas.SetPixel(x, y, dots);
}

void TRzButton::PaintPlainFace(TCanvas& canvas, const TRect& rect) {
    const auto [L, T, R, B] = rect;
    canvas.Pen().SetColor(DimColor(Color(), 20));
    Line(canvas, L, B - 2, R, B - 2);
    canvas.Pen().SetColor(DimColor(Color(), 30));
    Line(canvas, L, B - 1, R, B - 1);
    const TRect upper{L, T, R, B - 2};
    if (FullColorScreen) {
        FillVerticalGradient(canvas, upper, DimColor(Color(), 10), BrightenColor(Color(), 30));
    } else {
        canvas.Brush().SetColor(Color());
        canvas.FillRect(upper);
    }
}

TRect TRzButton::PaintHotTrackFace(TCanvas& canvas, const TRect& rect) {
    TRect r = rect;
    canvas.Pen().SetWidth(1);
    if (!Enabled()) {
        // The outermost ring is left to the parent's image (PaintBehindCorners).
        r = r.Inflated(-1, -1);
        canvas.Pen().SetColor(Color() == clBtnFace ? BrightenColor(clBtnShadow, 30)
                                                   : DimColor(Color(), 80));
    } else {
        const auto [L, T, R, B] = r;
        const TColor parentColor = Parent() ? Parent()->Color() : clBtnFace;
        const TColor dark = DimColor(parentColor, 20);
        const TColor light = BrightenColor(parentColor, 20);
        canvas.Pen().SetColor(dark);
        Line(canvas, L, T + 2, L, B - 2);
        Line(canvas, L + 2, T, R - 2, T);
        canvas.Pen().SetColor(light);
        Line(canvas, R - 1, T + 2, R - 1, B - 2);
        Line(canvas, L + 2, B - 1, R - 2, B - 1);
        canvas.SetPixel(L + 1, T + 1, dark);
        canvas.SetPixel(R - 2, T + 1, dark);
        canvas.SetPixel(R - 2, B - 2, light);
        canvas.SetPixel(L + 1, B - 2, dark);
        r = r.Inflated(-1, -1);
        canvas.Pen().SetColor(FFrameColor);
    }
    // The outline leaves its four corner pixels out, which rounds the corners off.
    {
        const auto [L, T, R, B] = r;
        Line(canvas, L, T + 1, L, B - 1);
        Line(canvas, L + 1, T, R - 1, T);
        Line(canvas, R - 1, T + 1, R - 1, B - 1);
        Line(canvas, L + 1, B - 1, R - 1, B - 1);
    }
    r = r.Inflated(-1, -1);

    if (!Enabled()) {
        canvas.Brush().SetColor(Color());
        canvas.FillRect(r);
        return r;
    }
    if (Pressed()) {
        canvas.Brush().SetColor(DimColor(Color(), 10));
        canvas.FillRect(r);
    } else if (MouseInside()) {
        PaintPlainFace(canvas, r);
        if (HotTrackColorType() == htctActual) {
            PaintGradientRing(canvas, r, HotTrackColor(),
                              MixColorPair(clWhite, HotTrackColor(), 190));
        } else {
            const TColor top = OppositeHueColor(HotTrackColor(), 180);
            PaintGradientRing(canvas, r, DimColor(top, 30), top);
        }
    } else if (FGroupIndex != 0 || !(FReceivesEnter || Focused())) {
        PaintPlainFace(canvas, r);
    } else {
        PaintPlainFace(canvas, r);
        const TColor light = BrightenColor(Color(), 30);
        const TColor key = ColorsNearlyEqual(HighlightColor(), clBtnFace)
                               ? DimColor(HighlightColor(), 30)
                               : HighlightColor();
        PaintGradientRing(canvas, r, MixColorPair(key, light, 160), MixColorPair(key, light, 60));
    }
    return r;
}

TRect TRzButton::PaintClassicFace(TCanvas& canvas, const TRect& rect) {
    TRect r = rect;
    if (FGroupIndex == 0 && (((FReceivesEnter || Focused()) && !PressedLook()) || FInPress))
        r = DrawFrameRings(canvas, r, clWindowFrame, sdAllSides, 1, clWindowFrame);
    if (Color() == clBtnFace) {
        if (FGroupIndex != 0)
            r = DrawStyledFrame(canvas, r, Pressed() ? fsLowered : fsButtonUp);
        else
            r = DrawPushFrame(canvas, r, PressedLook());
    } else if (FGroupIndex == 0) {
        r = DrawTintedPushFrame(canvas, r, Color(), sdAllSides, PressedLook());
    } else if (Pressed()) {
        r = DrawTintedStyledFrame(canvas, r, Color(), sdAllSides, fsLowered);
    } else {
        r = DrawTintedPushFrame(canvas, r, Color(), sdAllSides, false);
    }
    canvas.Brush().SetColor(Color());
    canvas.FillRect(r);
    return r;
}

TRect TRzButton::PaintHighContrastFace(TCanvas& canvas, const TRect& rect) {
    // Square, flat and in the system's colours: a frame in the text colour (the highlight
    // where the pointer is or Enter goes, the disabled text colour when off), thicker for the
    // button Enter presses; the face in the highlight colour while pressed.
    const bool hot = Enabled() && (MouseInside() || FReceivesEnter || Focused());
    canvas.Brush().SetColor(Enabled() && Pressed() ? clHighlight : clBtnFace);
    canvas.FillRect(rect);
    canvas.Pen().SetWidth(1);
    canvas.Pen().SetColor(!Enabled() ? clGrayText : hot ? clHighlight : clBtnText);
    TRect r = rect;
    for (int ring = 0; ring < ((FReceivesEnter && Enabled()) ? 2 : 1); ++ring) {
        const auto [L, T, R, B] = r;
        canvas.MoveTo(L, T);
        canvas.LineTo(R - 1, T);
        canvas.LineTo(R - 1, B - 1);
        canvas.LineTo(L, B - 1);
        canvas.LineTo(L, T);
        r = r.Inflated(-1, -1);
    }
    return r;
}

TRect TRzButton::PaintThemedFace(TCanvas& canvas, const TRect& rect) {
    // The platform's push-button element stands in for the theme part.
    PaintParentImage(canvas.Handle());
    UINT state = DFCS_BUTTONPUSH;
    switch (ThemedState()) {
    case TThemedButtonState::Disabled:
        state |= DFCS_INACTIVE;
        break;
    case TThemedButtonState::Pressed:
        state |= DFCS_PUSHED;
        break;
    case TThemedButtonState::Hot:
        state |= DFCS_HOT;
        break;
    case TThemedButtonState::Normal:
    case TThemedButtonState::Defaulted:
        break;
    }
    RECT r = ToRECT(rect);
    DrawFrameControl(canvas.Handle(), &r, DFC_BUTTON, state);
    return rect.Inflated(-3, -3);
}

void TRzButton::Paint() {
    TCanvas& canvas = Canvas();
    const TRect client = ClientRect();
    const int inset = HotTrack() || Themed() ? 3 : 4;
    TRect focusRect = client.Inflated(-inset, -inset);
    if (FGroupIndex != 0 && Pressed()) focusRect = focusRect.Offset(1, 1);

    const bool highContrast = HighContrast();
    TRect face;
    if (highContrast)
        face = PaintHighContrastFace(canvas, client);
    else if (Themed())
        face = PaintThemedFace(canvas, client);
    else if (HotTrack())
        face = PaintHotTrackFace(canvas, client);
    else
        face = PaintClassicFace(canvas, client);

    if (FGroupIndex != 0 && FDown && FShowDownPattern && !highContrast) {
        if (!FDownPattern) FDownPattern = std::make_unique<TBitmap>();
        BuildDownPattern(*FDownPattern);
        canvas.Brush().SetBitmap(FDownPattern.get());
        canvas.FillRect(face);
        canvas.Brush().SetBitmap(nullptr);
    }

    canvas.Font().Assign(Font());
    canvas.Brush().SetColor(highContrast ? clBtnFace : Color());
    DrawContent();

    if (Focused() && FShowFocusRect)
        DrawDottedFocusFrame(canvas, focusRect,
                             highContrast ? (Pressed() ? clHighlightText : clBtnText) : clBlack);
}

void TRzButton::PaintBehindCorners(HDC dc) {
    if (!Transparent() || !Parent()) return;
    // What stays outside the outline: three pixels at each corner of an enabled button; the
    // whole outer ring and three pixels inside each corner of a disabled one.
    const int inset = Enabled() ? 1 : 2;
    const TRect r = ClientRect().Inflated(-inset, -inset);
    const TRect wide = r.Inflated(1, -1);
    const TRect tall = wide.Inflated(-2, 2);
    for (const TRect& x : {r, wide, tall})
        ExcludeClipRect(dc, x.Left, x.Top, x.Right, x.Bottom);
    PaintParentImage(dc);
    SelectClipRgn(dc, nullptr);
}

// ---- TRzBitBtn

namespace {

struct TKindRoles {
    TModalResult ModalResult;
    bool Default;
    bool Cancel;
};

TKindRoles RolesOf(TBitBtnKind kind) {
    static constexpr std::array<TKindRoles, bkAll + 1> roles = {{
        {0, false, false}, // bkCustom
        {1, true, false},  // bkOK
        {2, false, true},  // bkCancel
        {0, false, false}, // bkHelp
        {6, true, false},  // bkYes
        {7, false, true},  // bkNo
        {0, false, false}, // bkClose
        {3, false, false}, // bkAbort
        {4, false, false}, // bkRetry
        {5, false, false}, // bkIgnore
        {8, false, false}, // bkAll
    }};
    return roles[kind];
}

// The kinds' glyphs, each read from the program's resources the first time a button takes
// that kind and kept until the program ends.
const TBitmap& KindGlyph(TBitBtnKind kind) {
    static constexpr std::array<const char*, bkAll + 1> names = {
        nullptr,          "RZCOMMON_OK",     "RZCOMMON_CANCEL", "RZCOMMON_HELP",
        "RZCOMMON_YES",   "RZCOMMON_NO",     "RZCOMMON_CLOSE",  "RZCOMMON_ABORT",
        "RZCOMMON_RETRY", "RZCOMMON_IGNORE", "RZCOMMON_ALL"};
    static std::array<std::unique_ptr<TBitmap>, bkAll + 1> cache;
    std::unique_ptr<TBitmap>& slot = cache[kind];
    if (!slot) {
        slot = std::make_unique<TBitmap>();
        // A program without the art shows the kind without a glyph.
        if (names[kind]) slot->LoadFromResourceName(GetModuleHandleA(nullptr), names[kind]);
    }
    return *slot;
}

} // namespace

const std::string& TRzBitBtn::KindCaption(TBitBtnKind kind) {
    static const std::array<std::string, bkAll + 1> captions = [] {
        std::array<std::string, bkAll + 1> texts;
        HINSTANCE program = GetModuleHandleA(nullptr);
        for (int k = bkOK; k <= bkAll; ++k) {
            // The string table is UTF-16: read as such, whatever the system's code page.
            wchar_t text[64] = {};
            if (LoadStringW(program, RZCOMMON_KIND_CAPTION_BASE + k, text, 64) > 0)
                texts[k] = FromWide(text);
        }
        return texts;
    }();
    return captions[kind];
}

// The captions are read once, when the program starts.
[[maybe_unused]] const bool KindCaptionsRead = (TRzBitBtn::KindCaption(bkOK), true);

TRzBitBtn::TRzBitBtn(TComponent* owner)
    : TRzButton(owner), FImageChangeLink(std::make_unique<TChangeLink>()) {
    FImageChangeLink->OnChange = [this](TObject*) { Repaint(); };
}

TRzBitBtn::~TRzBitBtn() {
    // The link unregisters itself; the list need not tell a button that is gone.
    if (FImages) RemoveFreeNotification(FImages);
}

bool TRzBitBtn::IsCustomCaption() {
    return Caption() != KindCaption(Kind());
}

bool TRzBitBtn::HasGlyphOrImage() const {
    return (FImages && FImageIndex != -1) || !FGlyph.Empty();
}

void TRzBitBtn::SetGlyph(const TBitmap& value) {
    FGlyph.Assign(value);
    FGlyphModified = true;
    GlyphChanged();
}

void TRzBitBtn::GlyphChanged() {
    // A strip of square cells tells how many it holds.
    const int w = FGlyph.Width(), h = FGlyph.Height();
    if (h > 0 && w % h == 0) {
        const int cells = w / h;
        SetNumGlyphs(cells >= 1 && cells <= 4 ? cells : 1);
    }
    Invalidate();
}

TBitBtnKind TRzBitBtn::Kind() {
    if (FKind != bkCustom) {
        const TKindRoles roles = RolesOf(FKind);
        if (Default() != roles.Default || Cancel() != roles.Cancel ||
            ModalResult() != roles.ModalResult || FGlyphModified)
            FKind = bkCustom;
    }
    return FKind;
}

void TRzBitBtn::SetKind(TBitBtnKind value) {
    if (value == Kind()) return;
    if (value != bkCustom) {
        const TKindRoles roles = RolesOf(value);
        SetDefault(roles.Default);
        SetCancel(roles.Cancel);
        // A layout that stored its own caption keeps it.
        if (!(Loading() && !Caption().empty())) SetCaption(KindCaption(value));
        SetModalResult(roles.ModalResult);
        FGlyph.Assign(KindGlyph(value));
        GlyphChanged();
        SetNumGlyphs(2);
        FGlyphModified = false;
    }
    FKind = value;
    Invalidate();
}

void TRzBitBtn::SetLayout(TButtonLayout value) {
    if (value == FLayout) return;
    FLayout = value;
    Invalidate();
}

void TRzBitBtn::SetMargin(int value) {
    if (value < -1 || value == FMargin) return;
    FMargin = value;
    Invalidate();
}

void TRzBitBtn::SetNumGlyphs(TNumGlyphs value) {
    if (value < 1 || value > 4 || value == FNumGlyphs) return;
    FNumGlyphs = value;
    Invalidate();
}

void TRzBitBtn::SetSpacing(int value) {
    if (value == FSpacing) return;
    FSpacing = value;
    Invalidate();
}

void TRzBitBtn::SetImageIndex(TImageIndex value) {
    if (value == FImageIndex) return;
    FImageIndex = value;
    Invalidate();
}

void TRzBitBtn::SetDisabledIndex(TImageIndex value) {
    if (value == FDisabledIndex) return;
    FDisabledIndex = value;
    Invalidate();
}

void TRzBitBtn::SetImages(TCustomImageList* value) {
    if (value == FImages) return;
    if (FImages) {
        FImages->UnRegisterChanges(FImageChangeLink.get());
        RemoveFreeNotification(FImages);
    }
    FImages = value;
    if (FImages) {
        FImages->RegisterChanges(FImageChangeLink.get());
        FImages->FreeNotification(this);
    }
    Invalidate();
}

void TRzBitBtn::Notification(TComponent* component, TOperation operation) {
    TRzButton::Notification(component, operation);
    // The list is being destroyed: forget it without calling into it.
    if (operation == TOperation::opRemove && component == FImages) {
        FImages = nullptr;
        Invalidate();
    }
}

void TRzBitBtn::ActionChange(TAction* sender, bool checkDefaults) {
    TRzButton::ActionChange(sender, checkDefaults);
    if (!checkDefaults || FImageIndex == -1) SetImageIndex(sender->ImageIndex());
}

void TRzBitBtn::ChangeScale(int multiplier, int divider) {
    TRzButton::ChangeScale(multiplier, divider);
    // -1 is no distance but the centring: it stays.
    if (FMargin >= 0) SetMargin(MulDiv(FMargin, multiplier, divider));
    SetSpacing(MulDiv(FSpacing, multiplier, divider));
}

TSize TRzBitBtn::GetGlyphSize() {
    if (FImages && FImageIndex != -1) return {FImages->Width(), FImages->Height()};
    return {FGlyph.Width() / FNumGlyphs, FGlyph.Height()};
}

int TRzBitBtn::CaptionHeight(const TRect& rect) {
    // Measured as the caption drawing measures it, on a context of its own so that it can be
    // asked outside a paint too.
    TBitmap scratch(1, 1);
    scratch.Canvas().Font().Assign(Font());
    return MeasureCaptionHeight(scratch.Canvas(), rect);
}

TRect TRzBitBtn::GetCaptionRect() {
    TRect r = TRzButton::GetCaptionRect();
    if (!HasGlyphOrImage()) return r;
    const TSize glyph = GetGlyphSize();
    if (FMargin == -1 && (FLayout == blGlyphTop || FLayout == blGlyphBottom)) {
        const int t = CaptionHeight(r);
        r.Top += (Height() - t - glyph.cy - FSpacing) / 2;
        if (FLayout == blGlyphTop) r.Top += glyph.cy;
        r.Bottom = r.Top + t;
        return r;
    }
    switch (FLayout) {
    case blGlyphLeft:
        r.Left += FMargin + glyph.cx + FSpacing;
        break;
    case blGlyphRight:
        r.Right -= FMargin + glyph.cx + FSpacing;
        break;
    case blGlyphTop:
        r.Top += FMargin + glyph.cy + FSpacing;
        break;
    case blGlyphBottom:
        r.Bottom -= FMargin + glyph.cy + FSpacing;
        break;
    }
    return r;
}

TRect TRzBitBtn::GetGlyphRect() {
    const TRect caption = TRzButton::GetCaptionRect();
    TRect r = caption;
    const bool themed = Themed();
    if (PressedLook()) r = r.Offset(-1, themed ? 0 : -1);
    const TSize glyph = GetGlyphSize();
    if (FMargin >= 0) {
        switch (FLayout) {
        case blGlyphLeft:
            r.Left += FMargin;
            break;
        case blGlyphRight:
            r.Left = r.Right - FMargin - glyph.cx;
            break;
        case blGlyphTop:
            r.Top += FMargin;
            break;
        case blGlyphBottom:
            r.Top = r.Bottom - FMargin - glyph.cy;
            break;
        }
    } else {
        const int t =
            FLayout == blGlyphTop || FLayout == blGlyphBottom ? CaptionHeight(caption) : 0;
        switch (FLayout) {
        case blGlyphLeft:
            break;
        case blGlyphRight:
            r.Left = r.Right - glyph.cx;
            break;
        case blGlyphTop:
            r.Top = (Height() - t - glyph.cy - FSpacing) / 2;
            break;
        case blGlyphBottom:
            r.Top += t + (Height() - t - glyph.cy - FSpacing) / 2;
            break;
        }
    }
    if (FLayout == blGlyphLeft || FLayout == blGlyphRight)
        r.Top += (r.Height() - glyph.cy + 1) / 2;
    else
        r.Left += (r.Width() - glyph.cx + 1) / 2;
    r.Right = r.Left + glyph.cx;
    r.Bottom = r.Top + glyph.cy;
    if (PressedLook()) r = r.Offset(themed ? 2 : 1, themed ? 0 : 1);
    return r;
}

bool TRzBitBtn::DrawListImage(const TRect& rect) {
    if (Kind() != bkCustom || !FImages || FImageIndex == -1) return false;
    if (FDisabledIndex == -1)
        FImages->Draw(Canvas(), rect.Left, rect.Top, FImageIndex, Enabled());
    else
        FImages->Draw(Canvas(), rect.Left, rect.Top, Enabled() ? FImageIndex : FDisabledIndex);
    return true;
}

void TRzBitBtn::DrawGlyphImage(const TRect& rect) {
    if (FGlyph.Empty() || rect.IsEmpty()) return;
    const int cellWidth = FGlyph.Width() / FNumGlyphs;
    int cell = 0;
    if (FNumGlyphs == 4 && Down())
        cell = 3;
    else if (FNumGlyphs >= 3 && PressedLook())
        cell = 2;
    else if (FNumGlyphs >= 2 && !Enabled())
        cell = 1;

    // What lies under the glyph, with the cell's pixels put over it except those of the
    // transparent colour, goes back as one block.
    const int w = std::min(rect.Width(), cellWidth);
    const int h = std::min(rect.Height(), FGlyph.Height());
    if (w <= 0 || h <= 0) return;
    TBitmap area(w, h);
    const TRect place = Bounds(rect.Left, rect.Top, w, h);
    area.Canvas().CopyRect({0, 0, w, h}, Canvas(), place);
    const TColor clear = FGlyph.TransparentColor();
    const uint32_t clearPixel = static_cast<uint32_t>(RedOf(clear)) << 16 |
                                static_cast<uint32_t>(GreenOf(clear)) << 8 |
                                static_cast<uint32_t>(BlueOf(clear));
    for (int y = 0; y < h; ++y) {
        const uint32_t* source = FGlyph.ScanLine(y) + cell * cellWidth;
        uint32_t* target = area.ScanLine(y);
        for (int x = 0; x < w; ++x)
            if ((source[x] & 0xFFFFFF) != clearPixel) target[x] = source[x];
    }
    Canvas().CopyRect(place, area.Canvas(), {0, 0, w, h});
}

void TRzBitBtn::DrawContent() {
    TRzButton::DrawContent();
    if (!HasGlyphOrImage()) return;
    const TRect glyph = GetGlyphRect();
    if (!DrawListImage(glyph)) DrawGlyphImage(glyph);
}
