#include "controls/RzLabel.h"

#include "controls/RzBlinkList.h"
#include "controls/RzColorMath.h"
#include "framework/HighContrast.h"
#include "framework/ProgramText.h"

#include <string>
#include <vector>

namespace {

bool Has(TSides sides, TSides side) {
    return (sides & side) != 0;
}

// The pixels a frame style takes on each side it covers.
int FrameExtent(TFrameStyleEx style, int bevelWidth) {
    switch (style) {
    case fsNone:
        return 0;
    case fsFlat:
        return 1;
    case fsStatus:
    case fsPopup:
        return bevelWidth;
    default:
        return 2;
    }
}

} // namespace

// ---- TRzFrameController

void TRzFrameController::SetFrameVisible(bool value) {
    if (value == FFrameVisible) return;
    FFrameVisible = value;
    UpdateControls();
}

void TRzFrameController::SetFrameStyle(TFrameStyle value) {
    if (value == FFrameStyle) return;
    FFrameStyle = value;
    UpdateControls();
}

void TRzFrameController::SetFrameSides(TSides value) {
    if (value == FFrameSides) return;
    FFrameSides = value;
    UpdateControls();
}

void TRzFrameController::SetFrameColor(TColor value) {
    if (value == FFrameColor) return;
    FFrameColor = value;
    UpdateControls();
}

void TRzFrameController::SetColor(TColor value) {
    if (value == FColor) return;
    FColor = value;
    UpdateControls();
}

void TRzFrameController::SetParentColor(bool value) {
    if (value == FParentColor) return;
    FParentColor = value;
    UpdateControls();
}

void TRzFrameController::AddControl(IFrameSettingsListener* control) {
    FControls.push_back(control);
}

void TRzFrameController::RemoveControl(IFrameSettingsListener* control) {
    std::erase(FControls, control);
}

void TRzFrameController::UpdateControls() {
    for (IFrameSettingsListener* control : std::vector<IFrameSettingsListener*>(FControls))
        control->ApplyFrameController();
}

// ---- TRzLabel

bool FontIsTrueType(TFont& font) {
    HFONT handle = font.Handle();
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, handle);
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return (tm.tmPitchAndFamily & TMPF_TRUETYPE) != 0;
}

HFONT CreateAngledFont(const TFont& font, int angle) {
    LOGFONTW lf{};
    lf.lfHeight = font.Height();
    lf.lfWidth = 0;
    lf.lfEscapement = NormalizeAngle(angle) * 10;
    lf.lfOrientation = 0;
    lf.lfWeight = (font.Style() & fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (font.Style() & fsItalic) ? 1 : 0;
    lf.lfUnderline = (font.Style() & fsUnderline) ? 1 : 0;
    lf.lfStrikeOut = (font.Style() & fsStrikeOut) ? 1 : 0;
    lf.lfCharSet = CharsetForSystem(font.Charset(), ToWide(font.Name()));
    lf.lfOutPrecision = 0;
    lf.lfClipPrecision = 0;
    lf.lfQuality = 0;
    lf.lfPitchAndFamily = font.Pitch() == TFontPitch::fpVariable ? VARIABLE_PITCH
                          : font.Pitch() == TFontPitch::fpFixed  ? FIXED_PITCH
                                                                 : DEFAULT_PITCH;
    lstrcpynW(lf.lfFaceName, FontFaceForSystem(ToWide(font.Name())).c_str(), LF_FACESIZE);
    return CreateFontIndirectW(&lf);
}

namespace {

static_assert(TextAlignLeftTop == (TA_LEFT | TA_TOP));
static_assert(TextAlignCenterTop == (TA_CENTER | TA_TOP));
static_assert(TextAlignBaseline == (TA_LEFT | TA_BASELINE));
static_assert(TextAlignCenterBaseline == (TA_CENTER | TA_BASELINE));

// The characters of a program text: a double-byte character of its code page is one glyph
// and must not be cut in two.
std::vector<std::string> CharactersOf(const std::string& text) {
    std::vector<std::string> characters;
    const char* p = text.c_str();
    while (*p) {
        const char* next = CharNextExA(ProgramCodePage, p, 0);
        if (next == p) break;
        characters.emplace_back(p, next);
        p = next;
    }
    return characters;
}

} // namespace

TRzLabel::TRzLabel(TComponent* owner) : TLabel(owner) {
    // Unlike the framework label, a new styled label paints its own background.
    SetControlStyle(ControlStyle() | csOpaque);

    FAngle = 0;
    FFlyByEnabled = false;
    FFlyByColor = clHighlight;
    FRotation = roNone;
    FCenterPoint = cpCenter;
    FLightTextStyle = false;
    FTextStyle = tsNormal;
    FShadowDepth = 2;
    FShadowColor = clBtnShadow;
    FHighlightColor = clBtnHighlight;
    FBlinkColor = clHighlight;
    SetLayout(tlTop);
    FTextMargin = 0;

    // Every label is listed, blinking or not, so that Blinking can be switched at any time.
    if (!SharedBlinkList) SharedBlinkList = new TRzBlinkingControlsList;
    SharedBlinkList->RegisterControl(this);

    FFrameController = nullptr;
    FFrameControllerNotifications = fcAllNotifications;
    FBorderSides = sdAllSides;
    FBorderColor = clBtnFace;
    FBorderHighlight = clBtnHighlight;
    FBorderShadow = clBtnShadow;
    FBorderOuter = fsNone;
    FBevelWidth = 1;
    FFlatColor = clBtnShadow;
    FFlatColorAdjustment = 30;

    // The parent's colour notice that these assignments may cause is not for us yet.
    FSettingInitialColor = true;
    try {
        SetColor(clBtnFace);
        SetParentColor(true);
    } catch (...) {
        FSettingInitialColor = false;
        throw;
    }
    FSettingInitialColor = false;
}

TRzLabel::~TRzLabel() {
    if (FFrameController) FFrameController->RemoveControl(this);
    if (SharedBlinkList) {
        SharedBlinkList->UnregisterControl(this);
        ReleaseBlinkListIfEmpty();
    }
}

void TRzLabel::Loaded() {
    TLabel::Loaded();
    // Rotated text settles once the whole layout is read.
    if (FRotation == roNone && FAngle != 0) FRotation = roFlat;
    if (FRotation != roNone && !FontIsTrueType(Font())) Font().SetName("Verdana");
    FNormalTextColor = Font().Color();
    FPaintTextColor = Font().Color();
}

void TRzLabel::Notification(TComponent* component, TOperation operation) {
    TLabel::Notification(component, operation);
    if (operation == TOperation::opRemove && component == FFrameController)
        FFrameController = nullptr;
}

void TRzLabel::WndProc(TMessage& m) {
    switch (m.Msg) {
    case CM_FONTCHANGED:
        TLabel::WndProc(m);
        if (Loading()) return;
        // A blinking label keeps the colour it had; the new one is not taken over later.
        if (!FBlinking) {
            FNormalTextColor = Font().Color();
            FPaintTextColor = Font().Color();
        }
        if (FAngle != 0 && !FontIsTrueType(Font())) FAngle = 0;
        return;
    case CM_TEXTCHANGED:
        TLabel::WndProc(m);
        // A new text shows before the assignment returns, not at the next idle moment.
        Repaint();
        return;
    case CM_PARENTCOLORCHANGED:
        if (FSettingInitialColor) return;
        break;
    case CM_MOUSEENTER:
        if (FFlyByEnabled) {
            FFlyBySavedColor = Font().Color();
            FFlyBySaved = true;
            Font().SetColor(FFlyByColor);
        }
        TLabel::WndProc(m);
        if (OnMouseEnter) OnMouseEnter(this);
        return;
    case CM_MOUSELEAVE:
        if (FFlyByEnabled) Font().SetColor(FFlyBySavedColor);
        TLabel::WndProc(m);
        if (OnMouseLeave) OnMouseLeave(this);
        return;
    case BlinkQueryMessage:
        m.Result = FBlinking ? 1 : 0;
        return;
    case BlinkPhaseMessage:
        if (FBlinking) ApplyBlinkPhase(m.WParam != 0);
        return;
    }
    TLabel::WndProc(m);
}

void TRzLabel::ApplyBlinkPhase(bool on) {
    FPaintTextColor = on ? FBlinkColor : FNormalTextColor;
    Repaint();
}

void TRzLabel::ApplyFrameController() {
    if (!FFrameController || !FFrameController->FrameVisible()) return;
    const auto wanted = [this](TRzFrameControllerProperty p) {
        return (FFrameControllerNotifications & FrameNotification(p)) != 0;
    };
    // Written to the fields: the controller's look must not resize the label.
    if (wanted(fcpFrameStyle)) FBorderOuter = FFrameController->FrameStyle();
    if (wanted(fcpFrameSides)) FBorderSides = FFrameController->FrameSides();
    if (wanted(fcpFrameColor)) {
        FFlatColor = FFrameController->FrameColor();
        FFlatColorAdjustment = 0;
    }
    if (wanted(fcpColor)) SetColor(FFrameController->Color());
    if (wanted(fcpParentColor)) SetParentColor(FFrameController->ParentColor());
    if (wanted(fcpColor)) {
        FBorderHighlight = BrightenColor(Color(), 100);
        FBorderShadow = DimColor(Color(), 50);
    }
    Invalidate();
}

// ---- Geometry

void TRzLabel::RemoveBorderExtent(TRect& r, bool withBorderWidth) {
    if (withBorderWidth) r = r.Inflated(-FBorderWidth, -FBorderWidth);
    for (TFrameStyleEx style : {FBorderOuter, FBorderInner}) {
        const int n = FrameExtent(style, FBevelWidth);
        if (Has(FBorderSides, sdLeft)) r.Left += n;
        if (Has(FBorderSides, sdTop)) r.Top += n;
        if (Has(FBorderSides, sdRight)) r.Right -= n;
        if (Has(FBorderSides, sdBottom)) r.Bottom -= n;
    }
}

void TRzLabel::AddBorderExtent(TRect& r) {
    // Unlike RemoveBorderExtent, the border-width rings count only on the chosen sides.
    for (int n : {FrameExtent(FBorderOuter, FBevelWidth), FBorderWidth,
                  FrameExtent(FBorderInner, FBevelWidth)}) {
        if (Has(FBorderSides, sdLeft)) r.Right += n;
        if (Has(FBorderSides, sdRight)) r.Right += n;
        if (Has(FBorderSides, sdTop)) r.Bottom += n;
        if (Has(FBorderSides, sdBottom)) r.Bottom += n;
    }
    if (FRotation == roNone && FTextStyle == tsShadow) {
        r.Right += FShadowDepth;
        r.Bottom += FShadowDepth;
    }
    if (FRotation == roFlat) GrowByRotation(r, FAngle, FTextStyle, FShadowDepth);
}

TPoint TRzLabel::AnchorPoint() const {
    return ::AnchorPoint(FCenterPoint, Width(), Height(), FBorderWidth);
}

TPoint TRzLabel::ArcRadii() const {
    return ::ArcRadii(FCenterPoint, Width(), Height(), FBorderWidth);
}

UINT TRzLabel::CondenseFlag() const {
    switch (FCondenseCaption) {
    case ccAtEnd:
        return DT_END_ELLIPSIS;
    case ccWithinPath:
        return DT_PATH_ELLIPSIS;
    default:
        return 0;
    }
}

void TRzLabel::AdjustBounds() {
    if (Loading() || !AutoSize()) return;
    TRect r = ClientRect();
    RemoveBorderExtent(r, true);
    r = r.Offset(-r.Left, -r.Top);
    MeasureText(r, DT_CALCRECT | DT_EXPANDTABS | (WordWrap() ? DT_WORDBREAK : 0) | CondenseFlag());
    AddBorderExtent(r);
    int x = Left();
    // The right edge stays where it is; a centred label grows to the right like a left one.
    if (EffectiveAlignment() == taRightJustify) x += Width() - r.Right;
    SetBounds(x, Top(), r.Right, r.Bottom);
}

// ---- Painting

void TRzLabel::Paint() {
    TCanvas& canvas = Canvas();
    TControlBorderLook look;
    look.OuterStyle = FBorderOuter;
    look.InnerStyle = FBorderInner;
    look.BorderWidth = FBorderWidth;
    look.Sides = FBorderSides;
    look.BevelWidth = FBevelWidth;
    look.BorderColor = FBorderColor;
    look.HighlightColor = FBorderHighlight;
    look.ShadowColor = FBorderShadow;
    look.FlatColor = FFlatColor;
    look.FlatColorAdjustment = FFlatColorAdjustment;
    look.OwnColor = Color();
    look.ParentColor = Parent() ? Parent()->Color() : Color();
    look.Transparent = Transparent();
    look.RoundedFlat = false;
    const bool highContrast = HighContrast();
    if (highContrast) {
        // The system's colours for the frames and the face, none mixed from them.
        look.BorderColor = look.OwnColor = clBtnFace;
        look.HighlightColor = clBtnHighlight;
        look.ShadowColor = look.FlatColor = clBtnShadow;
        look.FlatColorAdjustment = 0;
        if (!IsSystemColor(look.ParentColor)) look.ParentColor = clBtnFace;
    }
    const TRect interior = DrawControlBorder(canvas, ClientRect(), look);

    canvas.Brush().SetColor(highContrast ? clBtnFace : Color());
    if (!Transparent()) canvas.FillRect(interior);
    canvas.Brush().SetStyle(TBrushStyle::bsClear);

    if (FRotation == roCurve)
        DrawCurvedText();
    else
        DrawStraightText();
}

bool TRzLabel::TextEffects() const {
    return !HighContrast();
}

TColor TRzLabel::DrawnTextColor() const {
    return HighContrast() ? clBtnText : FPaintTextColor;
}

void TRzLabel::DrawCaption(TRect& rect, UINT flags) {
    Canvas().DrawTextFormatted(Caption(), rect, flags | CondenseFlag());
}

void TRzLabel::PlaceVertically(TRect& rect, UINT flags) {
    if (Layout() != tlTop) {
        TRect m = rect;
        DrawCaption(m, flags | DT_CALCRECT);
        const int d = rect.Height() - m.Height();
        rect = rect.Offset(0, Layout() == tlBottom ? d : d / 2);
    }
    // Keeps a right-aligned or bottom-placed shadow inside the box.
    if ((flags & DT_RIGHT) && FTextStyle == tsShadow) rect = rect.Offset(-FShadowDepth, 0);
    if (Layout() == tlBottom && FTextStyle == tsShadow) rect = rect.Offset(0, -FShadowDepth);
}

void TRzLabel::DrawStraightText() {
    TCanvas& canvas = Canvas();
    TRect r = ClientRect();
    RemoveBorderExtent(r, true);
    r = r.Inflated(-FTextMargin, -FTextMargin);

    static const UINT alignFlags[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
    UINT flags = alignFlags[EffectiveAlignment()] | DT_EXPANDTABS;
    if (UseRightToLeftReading()) flags |= DT_RTLREADING;
    if (WordWrap()) flags |= DT_WORDBREAK;
    if (!ShowAccelChar()) flags |= DT_NOPREFIX;
    canvas.Font().Assign(Font());

    if (FRotation == roFlat) {
        DrawFlatText(r, flags);
        return;
    }
    TRect r2 = r;
    if (!Enabled()) {
        PlaceVertically(r, flags);
        canvas.Font().SetColor(clGrayText);
        DrawCaption(r, flags);
        return;
    }
    if (TextEffects() && (FTextStyle == tsRaised || FTextStyle == tsRecessed)) {
        const bool raised = FTextStyle == tsRaised;
        const TColor first = raised ? FHighlightColor : FShadowColor;
        const TColor second = raised ? FShadowColor : FHighlightColor;
        // With LightTextStyle only the copy in the highlight colour is drawn.
        if (!raised || !FLightTextStyle) {
            canvas.Font().SetColor(second);
            PlaceVertically(r2, flags);
            r2 = r2.Offset(1, 1);
            DrawCaption(r2, flags);
        }
        if (raised || !FLightTextStyle) {
            r2 = r;
            canvas.Font().SetColor(first);
            PlaceVertically(r2, flags);
            r2 = r2.Offset(-1, -1);
            DrawCaption(r2, flags);
        }
    } else if (TextEffects() && FTextStyle == tsShadow) {
        canvas.Font().SetColor(FShadowColor);
        PlaceVertically(r2, flags);
        r2 = r2.Offset(FShadowDepth, FShadowDepth);
        DrawCaption(r2, flags);
    }
    canvas.Font().SetColor(DrawnTextColor());
    PlaceVertically(r, flags);
    DrawCaption(r, flags);
}

void TRzLabel::DrawFlatText(const TRect& r, UINT flags) {
    TCanvas& canvas = Canvas();
    const std::string& text = Caption();
    const int h = FShadowDepth / 2;
    const TFlatTextAlignment alignment = (flags & DT_CENTER)  ? ftaCenter
                                         : (flags & DT_RIGHT) ? ftaRight
                                                              : ftaLeft;
    // Measured unturned, in the label's font.
    const TFlatTextPlacement place =
        PlaceFlatText(FAngle, alignment, r, {Width() / 2, Height() / 2}, canvas.TextWidth(text),
                      canvas.TextHeight("Pp"), FTextStyle == tsShadow ? h : 0);
    // Left and top is the device default, but this context may have come from elsewhere.
    SetTextAlign(canvas.Handle(), place.TextAlign);
    canvas.Font().SetHandle(CreateAngledFont(Font(), FAngle));

    const TPoint p = place.Origin;
    const auto textOut = [&](const TRect& clip, int dx, int dy, TColor color) {
        canvas.Font().SetColor(color);
        canvas.TextRect(clip, p.X + dx, p.Y + dy, text);
    };
    if (!Enabled()) {
        textOut(r, 0, 0, clGrayText);
        return;
    }
    if (TextEffects() && (FTextStyle == tsRaised || FTextStyle == tsRecessed)) {
        const bool raised = FTextStyle == tsRaised;
        const TColor first = raised ? FHighlightColor : FShadowColor;
        const TColor second = raised ? FShadowColor : FHighlightColor;
        // Each copy is clipped to the text's box moved with it.
        if (!raised || !FLightTextStyle) textOut(r.Offset(1, 1), 1, 1, second);
        if (raised || !FLightTextStyle) textOut(r.Offset(-1, -1), -1, -1, first);
    } else if (TextEffects() && FTextStyle == tsShadow) {
        textOut(r, h, h, FShadowColor);
    }
    // The text itself keeps the whole box, whatever its copies were clipped to.
    const int d = FTextStyle == tsShadow ? -h : 0;
    textOut(r, d, d, DrawnTextColor());
}

void TRzLabel::DrawCurvedText() {
    TCanvas& canvas = Canvas();
    canvas.Font().Assign(Font());
    const std::vector<std::string> characters = CharactersOf(Caption());
    if (characters.empty()) return;

    SetTextAlign(canvas.Handle(), TA_CENTER | TA_BASELINE);
    LOGFONTW lf{};
    GetObjectW(canvas.Font().Handle(), sizeof lf, &lf);
    // Measured once, unturned: every character stands as deep inside the arc and steps as
    // far along it as the others.
    const std::vector<TArcGlyph> glyphs =
        LayOutArc(static_cast<int>(characters.size()), AnchorPoint(), ArcRadii(), FAngle,
                  canvas.TextHeight("Yy"), canvas.TextWidth("w"));

    const bool raised = FTextStyle == tsRaised;
    const TColor first = raised ? FHighlightColor : FShadowColor;
    const TColor second = raised ? FShadowColor : FHighlightColor;
    for (size_t i = 0; i < characters.size(); ++i) {
        const TArcGlyph& glyph = glyphs[i];
        lf.lfEscapement = glyph.Escapement;
        canvas.Font().SetHandle(CreateFontIndirectW(&lf));
        const auto textOut = [&](int dx, int dy, TColor color) {
            canvas.Font().SetColor(color);
            canvas.TextOut(glyph.Origin.X + dx, glyph.Origin.Y + dy, characters[i]);
        };
        if (TextEffects() && (FTextStyle == tsRaised || FTextStyle == tsRecessed)) {
            if (!raised || !FLightTextStyle) textOut(1, 1, second);
            if (raised || !FLightTextStyle) textOut(-1, -1, first);
        } else if (TextEffects() && FTextStyle == tsShadow) {
            textOut(FShadowDepth, FShadowDepth, FShadowColor);
        }
        if (Enabled()) {
            textOut(0, 0, DrawnTextColor());
        } else {
            // Embossed: a light copy below right under the dark character.
            textOut(1, 1, clBtnHighlight);
            textOut(0, 0, clBtnShadow);
        }
    }
}

// ---- Properties

void TRzLabel::SetAngle(int value) {
    if (value == FAngle) return;
    FAngle = NormalizeAngle(value);
    // Only TrueType faces turn: another face gives way to one that does.
    if (!Loading() && FAngle != 0 && !FontIsTrueType(Font())) Font().SetName("Verdana");
    if (FAngle != 0 && FRotation == roNone) FRotation = roFlat;
    AdjustBounds();
    Repaint();
}

void TRzLabel::SetRotation(TRotation value) {
    if (value == FRotation) return;
    if (!Loading() && value != roNone && !FontIsTrueType(Font())) Font().SetName("Verdana");
    FRotation = value;
    // Straight and flat text start unturned (flat text around the middle); a curve keeps its
    // start angle.
    if (value != roCurve) FAngle = 0;
    if (value == roFlat) FCenterPoint = cpCenter;
    // The room the text takes changes with its geometry.
    AdjustBounds();
    Invalidate();
}

void TRzLabel::SetBlinking(bool value) {
    if (value == FBlinking) return;
    FBlinking = value;
    // Turned on, the next phase message takes over.
    if (!value) {
        FPaintTextColor = FNormalTextColor;
        Repaint();
    }
}

uint16_t TRzLabel::BlinkIntervalOff() const {
    return SharedBlinkList->NormalPhaseMs();
}
void TRzLabel::SetBlinkIntervalOff(uint16_t value) {
    SharedBlinkList->SetNormalPhaseMs(value);
}
uint16_t TRzLabel::BlinkIntervalOn() const {
    return SharedBlinkList->BlinkPhaseMs();
}
void TRzLabel::SetBlinkIntervalOn(uint16_t value) {
    SharedBlinkList->SetBlinkPhaseMs(value);
}

void TRzLabel::SetCondenseCaption(TRzCondenseCaption value) {
    if (value == FCondenseCaption) return;
    FCondenseCaption = value;
    // An ellipsis only makes sense in a box that does not grow with the text.
    if (value != ccNone) SetAutoSize(false);
    Invalidate();
}

void TRzLabel::SetFlyByEnabled(bool value) {
    if (value == FFlyByEnabled) return;
    FFlyByEnabled = value;
    // Only a colour saved at a mouse entry is worth going back to.
    if (!value && FFlyBySaved) Font().SetColor(FFlyBySavedColor);
    Invalidate();
}

void TRzLabel::SetFrameController(TRzFrameController* value) {
    if (FFrameController) FFrameController->RemoveControl(this);
    FFrameController = value;
    if (value) {
        value->AddControl(this);
        value->FreeNotification(this);
    }
}

// Setters whose change only shows at the next paint.
#define RZ_INVALIDATING_SETTER(Name, Type, Field)                                                  \
    void TRzLabel::Set##Name(Type value) {                                                         \
        if (value == Field) return;                                                                \
        Field = value;                                                                             \
        Invalidate();                                                                              \
    }
RZ_INVALIDATING_SETTER(BlinkColor, TColor, FBlinkColor)
RZ_INVALIDATING_SETTER(BorderColor, TColor, FBorderColor)
RZ_INVALIDATING_SETTER(BorderHighlight, TColor, FBorderHighlight)
RZ_INVALIDATING_SETTER(BorderShadow, TColor, FBorderShadow)
RZ_INVALIDATING_SETTER(FlatColor, TColor, FFlatColor)
RZ_INVALIDATING_SETTER(FlatColorAdjustment, int, FFlatColorAdjustment)
RZ_INVALIDATING_SETTER(CenterPoint, TCenterPoint, FCenterPoint)
RZ_INVALIDATING_SETTER(FlyByColor, TColor, FFlyByColor)
RZ_INVALIDATING_SETTER(HighlightColor, TColor, FHighlightColor)
RZ_INVALIDATING_SETTER(ShadowColor, TColor, FShadowColor)
RZ_INVALIDATING_SETTER(ShadowDepth, int, FShadowDepth)
RZ_INVALIDATING_SETTER(LightTextStyle, bool, FLightTextStyle)
RZ_INVALIDATING_SETTER(TextMargin, int, FTextMargin)
RZ_INVALIDATING_SETTER(TextStyle, TTextStyle, FTextStyle)
#undef RZ_INVALIDATING_SETTER

// Setters that change the room the text needs: the label resizes when it sizes itself.
#define RZ_RESIZING_SETTER(Name, Type, Field)                                                      \
    void TRzLabel::Set##Name(Type value) {                                                         \
        if (value == Field) return;                                                                \
        Field = value;                                                                             \
        AdjustBounds();                                                                            \
    }
RZ_RESIZING_SETTER(BevelWidth, int, FBevelWidth)
RZ_RESIZING_SETTER(BorderInner, TFrameStyleEx, FBorderInner)
RZ_RESIZING_SETTER(BorderOuter, TFrameStyleEx, FBorderOuter)
RZ_RESIZING_SETTER(BorderSides, TSides, FBorderSides)
RZ_RESIZING_SETTER(BorderWidth, int, FBorderWidth)
#undef RZ_RESIZING_SETTER
