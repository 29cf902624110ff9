// The styled label: the framework label with raised, recessed or shadowed text, a border of
// frames, caption condensing, a text margin, a hover colour and blinking in step with every
// other styled label. Its caption can also be drawn turned as a whole (Rotation roFlat, by
// Angle degrees) or character by character along an arc (roCurve, anchored at CenterPoint).
#pragma once

#include "controls/RzAngledText.h"
#include "controls/RzFrames.h"
#include "controls/RzTextStyle.h"
#include "framework/Label.h"

#include <cstdint>
#include <vector>

enum TRzCondenseCaption : uint8_t { ccNone, ccAtEnd, ccWithinPath };

// The settings a frame controller can hand to the controls that listen to it.
enum TRzFrameControllerProperty : uint8_t {
    fcpColor,
    fcpFocusColor,
    fcpDisabledColor,
    fcpReadOnlyColor,
    fcpReadOnlyColorOnFocus,
    fcpParentColor,
    fcpFlatButtonColor,
    fcpFlatButtons,
    fcpFrameColor,
    fcpFrameHotColor,
    fcpFrameHotTrack,
    fcpFrameHotStyle,
    fcpFrameSides,
    fcpFrameStyle,
    fcpFrameVisible,
    fcpFramingPreference,
};
// A set of TRzFrameControllerProperty, one bit each.
using TRzFrameControllerNotifications = uint16_t;
constexpr TRzFrameControllerNotifications FrameNotification(TRzFrameControllerProperty p) {
    return static_cast<TRzFrameControllerNotifications>(1u << p);
}
constexpr TRzFrameControllerNotifications fcAllNotifications = 0xFFFF;

// What a frame controller calls on the controls that take their frame from it.
class IFrameSettingsListener {
public:
    virtual void ApplyFrameController() = 0;

protected:
    ~IFrameSettingsListener() = default;
};

// TRzFrameController: one place for the frame settings of several controls. Each change of a
// setting is handed to every listening control at once.
class TRzFrameController : public TComponent {
public:
    explicit TRzFrameController(TComponent* owner) : TComponent(owner) {}

    bool FrameVisible() const { return FFrameVisible; }
    void SetFrameVisible(bool value);
    TFrameStyle FrameStyle() const { return FFrameStyle; }
    void SetFrameStyle(TFrameStyle value);
    TSides FrameSides() const { return FFrameSides; }
    void SetFrameSides(TSides value);
    TColor FrameColor() const { return FFrameColor; }
    void SetFrameColor(TColor value);
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    bool ParentColor() const { return FParentColor; }
    void SetParentColor(bool value);

    void AddControl(IFrameSettingsListener* control);
    void RemoveControl(IFrameSettingsListener* control);
    int ControlCount() const { return static_cast<int>(FControls.size()); }
    // Hands the current settings to every listening control.
    void UpdateControls();

private:
    bool FFrameVisible = false;
    TFrameStyle FFrameStyle = fsFlat;
    TSides FFrameSides = sdAllSides;
    TColor FFrameColor = clBtnShadow;
    TColor FColor = clWindow;
    bool FParentColor = false;
    std::vector<IFrameSettingsListener*> FControls;
};

// Whether `font` is a TrueType face (only those can be drawn at an angle).
bool FontIsTrueType(TFont& font);
// A new system font like `font`, its text running at `angle` degrees; the caller owns it
// (typically handing it to a canvas's font).
HFONT CreateAngledFont(const TFont& font, int angle);

class TRzLabel : public TLabel, public IFrameSettingsListener {
public:
    explicit TRzLabel(TComponent* owner);
    ~TRzLabel() override;

    void ApplyFrameController() override;
    // Shows the blink colour (on) or the normal colour, painted at once.
    virtual void ApplyBlinkPhase(bool on);
    // Grows a measured text size (at the origin) by the borders, shadow and rotation.
    virtual void AddBorderExtent(TRect& rect);
    // Shrinks `rect` to what lies inside the borders; `withBorderWidth` removes the
    // border-width rings on all four sides.
    virtual void RemoveBorderExtent(TRect& rect, bool withBorderWidth);

    int Angle() const { return FAngle; }
    virtual void SetAngle(int value);
    bool Blinking() const { return FBlinking; }
    virtual void SetBlinking(bool value);
    TColor BlinkColor() const { return FBlinkColor; }
    virtual void SetBlinkColor(TColor value);
    // The two phase lengths are the shared scheduler's, the same on every label.
    virtual uint16_t BlinkIntervalOff() const;
    virtual void SetBlinkIntervalOff(uint16_t value);
    virtual uint16_t BlinkIntervalOn() const;
    virtual void SetBlinkIntervalOn(uint16_t value);
    int BevelWidth() const { return FBevelWidth; }
    virtual void SetBevelWidth(int value);
    TColor BorderColor() const { return FBorderColor; }
    virtual void SetBorderColor(TColor value);
    TFrameStyleEx BorderInner() const { return FBorderInner; }
    virtual void SetBorderInner(TFrameStyleEx value);
    TFrameStyleEx BorderOuter() const { return FBorderOuter; }
    virtual void SetBorderOuter(TFrameStyleEx value);
    TSides BorderSides() const { return FBorderSides; }
    virtual void SetBorderSides(TSides value);
    TColor BorderHighlight() const { return FBorderHighlight; }
    virtual void SetBorderHighlight(TColor value);
    TColor BorderShadow() const { return FBorderShadow; }
    virtual void SetBorderShadow(TColor value);
    int BorderWidth() const { return FBorderWidth; }
    virtual void SetBorderWidth(int value);
    TRzCondenseCaption CondenseCaption() const { return FCondenseCaption; }
    virtual void SetCondenseCaption(TRzCondenseCaption value);
    TColor FlatColor() const { return FFlatColor; }
    virtual void SetFlatColor(TColor value);
    int FlatColorAdjustment() const { return FFlatColorAdjustment; }
    virtual void SetFlatColorAdjustment(int value);
    TRzFrameController* FrameController() const { return FFrameController; }
    virtual void SetFrameController(TRzFrameController* value);
    TRzFrameControllerNotifications FrameControllerNotifications() const {
        return FFrameControllerNotifications;
    }
    void SetFrameControllerNotifications(TRzFrameControllerNotifications value) {
        FFrameControllerNotifications = value;
    }
    TCenterPoint CenterPoint() const { return FCenterPoint; }
    virtual void SetCenterPoint(TCenterPoint value);
    TColor FlyByColor() const { return FFlyByColor; }
    virtual void SetFlyByColor(TColor value);
    bool FlyByEnabled() const { return FFlyByEnabled; }
    virtual void SetFlyByEnabled(bool value);
    bool LightTextStyle() const { return FLightTextStyle; }
    virtual void SetLightTextStyle(bool value);
    TRotation Rotation() const { return FRotation; }
    virtual void SetRotation(TRotation value);
    int TextMargin() const { return FTextMargin; }
    virtual void SetTextMargin(int value);
    TTextStyle TextStyle() const { return FTextStyle; }
    virtual void SetTextStyle(TTextStyle value);
    TColor HighlightColor() const { return FHighlightColor; }
    virtual void SetHighlightColor(TColor value);
    TColor ShadowColor() const { return FShadowColor; }
    virtual void SetShadowColor(TColor value);
    int ShadowDepth() const { return FShadowDepth; }
    virtual void SetShadowDepth(int value);

    // The font colour as last taken over, and the colour the text is painted in now.
    TColor NormalTextColor() const { return FNormalTextColor; }
    TColor PaintTextColor() const { return FPaintTextColor; }
    TColor FlyBySavedColor() const { return FFlyBySavedColor; }

    // Where a curved caption's arc is anchored, and its x and y radius, for this label's
    // size, CenterPoint and BorderWidth.
    TPoint AnchorPoint() const;
    TPoint ArcRadii() const;

    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

    void WndProc(TMessage& message) override;

protected:
    void AdjustBounds() override;
    void Paint() override;
    void Loaded() override;
    void Notification(TComponent* component, TOperation operation) override;

private:
    UINT CondenseFlag() const;
    // In high contrast the text is drawn plain, in the system's text colour.
    bool TextEffects() const;
    TColor DrawnTextColor() const;
    void DrawStraightText();
    void DrawFlatText(const TRect& rect, UINT flags);
    void DrawCurvedText();
    void DrawCaption(TRect& rect, UINT flags);
    void PlaceVertically(TRect& rect, UINT flags);

    int FAngle = 0;
    bool FBlinking = false;
    TColor FBlinkColor = 0;
    int FBevelWidth = 0;
    TColor FBorderColor = 0;
    TFrameStyleEx FBorderInner = fsNone;
    TFrameStyleEx FBorderOuter = fsNone;
    TSides FBorderSides = 0;
    TColor FBorderHighlight = 0;
    TColor FBorderShadow = 0;
    int FBorderWidth = 0;
    TRzCondenseCaption FCondenseCaption = ccNone;
    TColor FFlatColor = 0;
    int FFlatColorAdjustment = 0;
    TRzFrameController* FFrameController = nullptr;
    TRzFrameControllerNotifications FFrameControllerNotifications = 0;
    TCenterPoint FCenterPoint = cpUpperLeft;
    TColor FFlyByColor = 0;
    bool FFlyByEnabled = false;
    bool FLightTextStyle = false;
    TRotation FRotation = roNone;
    int FTextMargin = 0;
    TTextStyle FTextStyle = tsNormal;
    TColor FHighlightColor = 0;
    TColor FShadowColor = 0;
    int FShadowDepth = 0;

    TColor FNormalTextColor = 0;
    TColor FPaintTextColor = 0;
    TColor FFlyBySavedColor = 0;
    bool FFlyBySaved = false; // a mouse entry has saved a colour to go back to
    bool FSettingInitialColor = false;
};
