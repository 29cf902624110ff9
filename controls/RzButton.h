// The styled push buttons: an owner-drawn caption with text effects and mouse tracking
// (TRzCustomButton), a push button with its frame and face, default and cancel keys and
// grouped latching (TRzButton), and the button that also shows a glyph or an image and comes
// in standard kinds (TRzBitBtn).
#pragma once

#include "controls/RzTextStyle.h"
#include "framework/Bitmap.h"
#include "framework/ImageList.h"
#include "framework/WinControl.h"

#include <memory>
#include <string>

enum TAlignmentVertical : uint8_t { avTop, avCenter, avBottom };
enum TRzHotTrackColorType : uint8_t { htctComplement, htctActual };
using TModalResult = int;

enum TBitBtnKind : uint8_t {
    bkCustom,
    bkOK,
    bkCancel,
    bkHelp,
    bkYes,
    bkNo,
    bkClose,
    bkAbort,
    bkRetry,
    bkIgnore,
    bkAll
};
// Where the glyph stands beside the caption.
enum TButtonLayout : uint8_t { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
using TNumGlyphs = int;  // 1..4
using TImageIndex = int; // -1: none

// Sent to every control of a button's parent when a grouped button goes down or its group
// settings change: WParam is the group index, LParam the sending TRzButton.
constexpr UINT RzButtonGroupMessage = WM_USER + 0x2021;
static_assert(RzButtonGroupMessage == 0x2421);
// Posted to a button by a screen reader's "press" (its default action): the press comes from
// the message loop, not from inside the reader's call.
constexpr UINT CM_ACCESSIBLEPRESS = CM_BASE + 1100;

// The state the platform's themed push-button element is drawn in.
enum class TThemedButtonState { Normal, Hot, Pressed, Disabled, Defaulted };

// The common ground of the styled buttons: the caption with its text effects, hot tracking
// and the tracking of a press by mouse or space bar. What a completed press does, and how the
// face looks, belongs to the descendants.
class TRzCustomButton : public TCustomControl {
public:
    explicit TRzCustomButton(TComponent* owner);

    TAlignmentVertical AlignmentVertical() const { return FAlignmentVertical; }
    virtual void SetAlignmentVertical(TAlignmentVertical value);
    bool HotTrack() const { return FHotTrack; }
    virtual void SetHotTrack(bool value);
    TColor HotTrackColor() const { return FHotTrackColor; }
    void SetHotTrackColor(TColor value) { FHotTrackColor = value; }
    TRzHotTrackColorType HotTrackColorType() const { return FHotTrackColorType; }
    void SetHotTrackColorType(TRzHotTrackColorType value) { FHotTrackColorType = value; }
    TColor HighlightColor() const { return FHighlightColor; }
    virtual void SetHighlightColor(TColor value);
    bool LightTextStyle() const { return FLightTextStyle; }
    virtual void SetLightTextStyle(bool value);
    TTextStyle TextStyle() const { return FTextStyle; }
    virtual void SetTextStyle(TTextStyle value);
    TColor TextHighlightColor() const { return FTextHighlightColor; }
    virtual void SetTextHighlightColor(TColor value);
    TColor TextShadowColor() const { return FTextShadowColor; }
    virtual void SetTextShadowColor(TColor value);
    int TextShadowDepth() const { return FTextShadowDepth; }
    virtual void SetTextShadowDepth(int value);
    bool ThemeAware() const { return FThemeAware; }
    virtual void SetThemeAware(bool value);

    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

    void WndProc(TMessage& message) override;

    // What a screen reader is told of the button (role push button, its caption as name,
    // its states as drawn) and asked to do (press it).
    TAccessibleObject* CreateAccessibleObject() override;
    // The accessible states of the button now (STATE_SYSTEM_...).
    virtual LONG AccessibleState();

protected:
    void CreateParams(TCreateParams& params) override;

    // Paints the parent's image into what the rounded outline leaves of the client area.
    virtual void PaintBehindCorners(HDC dc) { (void)dc; }
    virtual void RequestRedraw() {}
    virtual void FocusRedraw() { Repaint(); }
    // The part that changes look when the pointer comes and goes.
    virtual TRect GetHotTrackRect() { return ClientRect(); }
    virtual void DrawCaptionText(TCanvas& canvas, TRect rect, UINT format);
    // The caption's height as the caption drawing measures it within `rect`, with the
    // button's font selected into `canvas`.
    int MeasureCaptionHeight(TCanvas& canvas, const TRect& rect);
    // What a completed press (mouse release inside, space released) does.
    virtual void PerformPress() = 0;
    // Whether the face is drawn pressed now.
    virtual bool DrawnPressed() const { return FPressedLook; }

    bool Transparent() const { return FTransparent; }
    virtual void SetTransparent(bool value);
    bool MouseInside() const { return FMouseInside; }
    bool Tracking() const { return FTracking; }
    bool PressedLook() const { return FPressedLook; }
    bool SpacePressed() const { return FSpacePressed; }
    // Visual styles are active and the button wants them.
    bool Themed() const;

    // Paints the parent's background and its windowless children onto `dc` at this button's
    // place: the button's own corners show what lies behind them.
    void PaintParentImage(HDC dc);

    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void KeyDown(WORD& key, TShiftState shift) override;
    void KeyUp(WORD& key, TShiftState shift) override;

private:
    void HotTrackRedraw();

    TAlignmentVertical FAlignmentVertical = avCenter;
    bool FHotTrack = false;
    TColor FHotTrackColor = 0x149BF0;
    TRzHotTrackColorType FHotTrackColorType = htctActual;
    TColor FHighlightColor = clHighlight;
    bool FLightTextStyle = false;
    TTextStyle FTextStyle = tsNormal;
    TColor FTextHighlightColor = clBtnHighlight;
    TColor FTextShadowColor = clBtnShadow;
    int FTextShadowDepth = 2;
    bool FThemeAware = true;

    bool FTransparent = false;
    bool FMouseInside = false;
    bool FTracking = false;
    bool FPressedLook = false;
    bool FSpacePressed = false;
};

// The push button of the styled look: a hot-tracking rounded face with a gradient, or the
// classic bevelled face; Enter and Escape for the default and cancel buttons; buttons of one
// group index that latch down one at a time.
class TRzButton : public TRzCustomButton {
public:
    explicit TRzButton(TComponent* owner);

    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    bool AllowAllUp() const { return FAllowAllUp; }
    void SetAllowAllUp(bool value);
    bool Cancel() const { return FCancel; }
    void SetCancel(bool value) { FCancel = value; }
    bool Default() const { return FDefault; }
    void SetDefault(bool value);
    // Kept for stored layouts; a plain push button has nothing to drop down.
    bool DropDownOnEnter() const { return FDropDownOnEnter; }
    void SetDropDownOnEnter(bool value) { FDropDownOnEnter = value; }
    bool Down() const { return FDown; }
    void SetDown(bool value);
    TColor FrameColor() const { return FFrameColor; }
    void SetFrameColor(TColor value);
    int GroupIndex() const { return FGroupIndex; }
    void SetGroupIndex(int value);
    TModalResult ModalResult() const { return FModalResult; }
    void SetModalResult(TModalResult value) { FModalResult = value; }
    bool ShowDownPattern() const { return FShowDownPattern; }
    void SetShowDownPattern(bool value);
    bool ShowFocusRect() const { return FShowFocusRect; }
    void SetShowFocusRect(bool value);

    void SetHotTrack(bool value) override;

    void Click() override;
    void WndProc(TMessage& message) override;
    LONG AccessibleState() override;

protected:
    void CreateWnd() override;
    void Paint() override;
    void PaintBehindCorners(HDC dc) override;
    void RequestRedraw() override { Invalidate(); }
    void PerformPress() override;

    virtual TRect GetCaptionRect();
    virtual void DrawContent();
    virtual void BuildDownPattern(TBitmap& bitmap);

    bool InPress() const { return FInPress; }
    bool ReceivesEnter() const { return FReceivesEnter; }
    // Latched down, or drawn pressed while the mouse or the space bar holds it.
    bool Pressed() const { return FDown || PressedLook(); }
    bool DrawnPressed() const override { return Pressed(); }
    TThemedButtonState ThemedState() const;

private:
    // Each path paints the frame and face into `rect` and returns what is left of the face.
    TRect PaintThemedFace(TCanvas& canvas, const TRect& rect);
    TRect PaintHighContrastFace(TCanvas& canvas, const TRect& rect);
    TRect PaintHotTrackFace(TCanvas& canvas, const TRect& rect);
    TRect PaintClassicFace(TCanvas& canvas, const TRect& rect);
    void PaintPlainFace(TCanvas& canvas, const TRect& rect);
    void NotifyGroup();
    void GroupChanged(int groupIndex, TRzButton* sender);

    TAlignment FAlignment = taCenter;
    bool FAllowAllUp = false;
    bool FCancel = false;
    bool FDefault = false;
    bool FDropDownOnEnter = true;
    bool FDown = false;
    TColor FFrameColor = cl3DDkShadow;
    int FGroupIndex = 0;
    TModalResult FModalResult = 0;
    bool FShowDownPattern = true;
    bool FShowFocusRect = true;

    bool FInPress = false;
    bool FReceivesEnter = false;
    std::unique_ptr<TBitmap> FDownPattern;
};

// The styled button that can show a glyph or an image-list image beside its caption, and that
// comes in standard kinds (OK, Cancel, ...) with their captions, glyphs, modal results and
// default and cancel roles. Without a glyph or an image it is a TRzButton in every respect.
class TRzBitBtn : public TRzButton {
public:
    explicit TRzBitBtn(TComponent* owner);
    ~TRzBitBtn() override;

    // The glyph: NumGlyphs cells side by side (normal, disabled, pressed, latched down), drawn
    // with its TransparentColor left out. Setting it copies the bitmap.
    const TBitmap& Glyph() const { return FGlyph; }
    virtual void SetGlyph(const TBitmap& value);
    // Reads bkCustom (and keeps it) once the roles, the modal result or a hand-set glyph no
    // longer match the kind.
    virtual TBitBtnKind Kind();
    virtual void SetKind(TBitBtnKind value);
    TButtonLayout Layout() const { return FLayout; }
    virtual void SetLayout(TButtonLayout value);
    // The glyph's distance from the edge of the caption's room. -1: on the left and right the
    // glyph sits at the edge; on top and bottom glyph and caption are centred together.
    int Margin() const { return FMargin; }
    // Values below -1 are ignored.
    virtual void SetMargin(int value);
    TNumGlyphs NumGlyphs() const { return FNumGlyphs; }
    // Values outside 1..4 are ignored.
    virtual void SetNumGlyphs(TNumGlyphs value);
    int Spacing() const { return FSpacing; }
    virtual void SetSpacing(int value);
    // An image of Images stands in for the glyph while the kind is bkCustom.
    TCustomImageList* Images() const { return FImages; }
    virtual void SetImages(TCustomImageList* value);
    TImageIndex ImageIndex() const { return FImageIndex; }
    virtual void SetImageIndex(TImageIndex value);
    // The image of a disabled button; -1: the ImageIndex image greyed.
    TImageIndex DisabledIndex() const { return FDisabledIndex; }
    virtual void SetDisabledIndex(TImageIndex value);

    // A stored layout keeps Cancel, Default, Glyph, ModalResult and NumGlyphs only for a
    // custom button: a kind sets them all.
    bool IsCustom() { return Kind() == bkCustom; }
    // A stored layout keeps the caption only when it is not the kind's standard caption.
    bool IsCustomCaption();
    // The standard caption of `kind` from the program's string table ("" for bkCustom).
    static const std::string& KindCaption(TBitBtnKind kind);

protected:
    virtual TSize GetGlyphSize();
    // Where the glyph (or image) goes, as wide and high as GetGlyphSize.
    virtual TRect GetGlyphRect();
    // Draws the image-list image into `rect`; false when the button shows none.
    virtual bool DrawListImage(const TRect& rect);
    virtual void DrawGlyphImage(const TRect& rect);

    TRect GetCaptionRect() override;
    void DrawContent() override;
    void Notification(TComponent* component, TOperation operation) override;
    void ActionChange(TAction* sender, bool checkDefaults) override;
    void ChangeScale(int multiplier, int divider) override;

    bool GlyphModified() const { return FGlyphModified; }
    bool HasGlyphOrImage() const;

private:
    void GlyphChanged();
    int CaptionHeight(const TRect& rect);

    TBitmap FGlyph;
    bool FGlyphModified = false;
    TBitBtnKind FKind = bkCustom;
    TButtonLayout FLayout = blGlyphLeft;
    int FMargin = 2;
    TNumGlyphs FNumGlyphs = 1;
    int FSpacing = 4;
    TCustomImageList* FImages = nullptr;
    TImageIndex FImageIndex = -1;
    TImageIndex FDisabledIndex = -1;
    std::unique_ptr<TChangeLink> FImageChangeLink;
};
