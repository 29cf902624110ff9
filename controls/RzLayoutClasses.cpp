#include "controls/RzLayoutClasses.h"

#include "controls/RzButton.h"
#include "controls/RzLabel.h"
#include "framework/Exceptions.h"
#include "framework/LayoutProperties.h"

#include <map>

namespace {

const std::vector<std::string> TextStyleNames = {"tsNormal", "tsRaised", "tsRecessed", "tsShadow"};
const std::vector<std::string> FrameStyleNames = {
    "fsNone",   "fsFlat",     "fsGroove", "fsBump",  "fsLowered",  "fsButtonDown",
    "fsRaised", "fsButtonUp", "fsStatus", "fsPopup", "fsFlatBold", "fsFlatRounded"};

TSides AsSides(const TLayoutValue& value) {
    static const std::map<std::string, TSides> names = {
        {"sdLeft", sdLeft}, {"sdTop", sdTop}, {"sdRight", sdRight}, {"sdBottom", sdBottom}};
    TSides sides = 0;
    for (const std::string& item : AsSet(value)) {
        auto it = names.find(item);
        if (it == names.end()) throw EReadError("'" + item + "' is not a side");
        sides |= it->second;
    }
    return sides;
}

uint16_t AsWord(const TLayoutValue& value) {
    const int v = AsInt(value);
    if (v < 0 || v > 65535) throw EReadError(std::to_string(v) + " is not within 0..65535");
    return static_cast<uint16_t>(v);
}

void RegisterButtons() {
    RegisterLayoutClass(
        "TRzButton", "TCustomControl", [](TComponent* owner) { return new TRzButton(owner); },
        {
            EnumProperty("Alignment", &TRzButton::SetAlignment,
                         {"taLeftJustify", "taRightJustify", "taCenter"}),
            EnumProperty("AlignmentVertical", &TRzButton::SetAlignmentVertical,
                         {"avTop", "avCenter", "avBottom"}),
            Property("Cancel", &TRzButton::SetCancel, AsBool),
            Property("Default", &TRzButton::SetDefault, AsBool),
            Property("DropDownOnEnter", &TRzButton::SetDropDownOnEnter, AsBool),
            // The group comes before Down: an ungrouped button refuses to go down.
            Property("GroupIndex", &TRzButton::SetGroupIndex, AsInt),
            Property("AllowAllUp", &TRzButton::SetAllowAllUp, AsBool),
            Property("Down", &TRzButton::SetDown, AsBool),
            Property("FrameColor", &TRzButton::SetFrameColor, AsColor),
            Property("HighlightColor", &TRzButton::SetHighlightColor, AsColor),
            Property("HotTrack", &TRzButton::SetHotTrack, AsBool),
            Property("HotTrackColor", &TRzButton::SetHotTrackColor, AsColor),
            EnumProperty("HotTrackColorType", &TRzButton::SetHotTrackColorType,
                         {"htctComplement", "htctActual"}),
            Property("LightTextStyle", &TRzButton::SetLightTextStyle, AsBool),
            Property("ModalResult", &TRzButton::SetModalResult, AsInt),
            Property("ShowDownPattern", &TRzButton::SetShowDownPattern, AsBool),
            Property("ShowFocusRect", &TRzButton::SetShowFocusRect, AsBool),
            Property("TextHighlightColor", &TRzButton::SetTextHighlightColor, AsColor),
            Property("TextShadowColor", &TRzButton::SetTextShadowColor, AsColor),
            Property("TextShadowDepth", &TRzButton::SetTextShadowDepth, AsInt),
            EnumProperty("TextStyle", &TRzButton::SetTextStyle, TextStyleNames),
            Property("ThemeAware", &TRzButton::SetThemeAware, AsBool),
            EventProperty("OnMouseEnter", &TRzButton::OnMouseEnter),
            EventProperty("OnMouseLeave", &TRzButton::OnMouseLeave),
        })
        // Older layouts call hot tracking "FrameFlat".
        .Alias("FrameFlat", "HotTrack");
    RegisterLayoutClass(
        "TRzBitBtn", "TRzButton", [](TComponent* owner) { return new TRzBitBtn(owner); },
        {
            // A bitmap resource of the program.
            {"Glyph",
             [](TComponent* c, const TLayoutValue& v, TLayoutContext&) {
                 TBitmap glyph;
                 if (!glyph.LoadFromResourceName(GetModuleHandleA(nullptr), AsString(v).c_str()))
                     throw EReadError("the program has no bitmap '" + AsString(v) + "'");
                 dynamic_cast<TRzBitBtn&>(*c).SetGlyph(glyph);
             }},
            EnumProperty("Kind", &TRzBitBtn::SetKind,
                         {"bkCustom", "bkOK", "bkCancel", "bkHelp", "bkYes", "bkNo", "bkClose",
                          "bkAbort", "bkRetry", "bkIgnore", "bkAll"}),
            EnumProperty("Layout", &TRzBitBtn::SetLayout,
                         {"blGlyphLeft", "blGlyphRight", "blGlyphTop", "blGlyphBottom"}),
            Property("Margin", &TRzBitBtn::SetMargin, AsInt),
            Property("NumGlyphs", &TRzBitBtn::SetNumGlyphs,
                     [](const TLayoutValue& v) {
                         const int n = AsInt(v);
                         if (n < 1 || n > 4)
                             throw EReadError(std::to_string(n) + " is not within 1..4");
                         return n;
                     }),
            Property("Spacing", &TRzBitBtn::SetSpacing, AsInt),
            {"Images",
             [](TComponent* c, const TLayoutValue& v, TLayoutContext& ctx) {
                 auto* button = dynamic_cast<TRzBitBtn*>(c);
                 ctx.Reference(AsIdentifier(v), [button](TComponent* target) {
                     auto* images = dynamic_cast<TCustomImageList*>(target);
                     if (!images) throw EReadError("'" + target->Name() + "' is no image list");
                     button->SetImages(images);
                 });
             }},
            Property("ImageIndex", &TRzBitBtn::SetImageIndex, AsInt),
            Property("DisabledIndex", &TRzBitBtn::SetDisabledIndex, AsInt),
        });
}

void RegisterLabel() {
    RegisterLayoutClass(
        "TRzFrameController", "", [](TComponent* owner) { return new TRzFrameController(owner); },
        {
            Property("FrameVisible", &TRzFrameController::SetFrameVisible, AsBool),
            EnumProperty("FrameStyle", &TRzFrameController::SetFrameStyle, FrameStyleNames),
            Property("FrameSides", &TRzFrameController::SetFrameSides, AsSides),
            Property("FrameColor", &TRzFrameController::SetFrameColor, AsColor),
            Property("Color", &TRzFrameController::SetColor, AsColor),
            Property("ParentColor", &TRzFrameController::SetParentColor, AsBool),
        });
    RegisterLayoutClass(
        "TRzLabel", "TLabel", [](TComponent* owner) { return new TRzLabel(owner); },
        {
            Property("Angle", &TRzLabel::SetAngle, AsInt),
            Property("Blinking", &TRzLabel::SetBlinking, AsBool),
            Property("BlinkColor", &TRzLabel::SetBlinkColor, AsColor),
            Property("BlinkIntervalOff", &TRzLabel::SetBlinkIntervalOff, AsWord),
            Property("BlinkIntervalOn", &TRzLabel::SetBlinkIntervalOn, AsWord),
            Property("BevelWidth", &TRzLabel::SetBevelWidth, AsInt),
            EnumProperty("BorderInner", &TRzLabel::SetBorderInner, FrameStyleNames),
            EnumProperty("BorderOuter", &TRzLabel::SetBorderOuter, FrameStyleNames),
            Property("BorderSides", &TRzLabel::SetBorderSides, AsSides),
            Property("BorderColor", &TRzLabel::SetBorderColor, AsColor),
            Property("BorderHighlight", &TRzLabel::SetBorderHighlight, AsColor),
            Property("BorderShadow", &TRzLabel::SetBorderShadow, AsColor),
            Property("BorderWidth", &TRzLabel::SetBorderWidth, AsInt),
            EnumProperty("CondenseCaption", &TRzLabel::SetCondenseCaption,
                         {"ccNone", "ccAtEnd", "ccWithinPath"}),
            Property("FlatColor", &TRzLabel::SetFlatColor, AsColor),
            Property("FlatColorAdjustment", &TRzLabel::SetFlatColorAdjustment, AsInt),
            {"FrameController",
             [](TComponent* c, const TLayoutValue& v, TLayoutContext& ctx) {
                 auto* label = dynamic_cast<TRzLabel*>(c);
                 ctx.Reference(AsIdentifier(v), [label](TComponent* target) {
                     label->SetFrameController(dynamic_cast<TRzFrameController*>(target));
                 });
             }},
            EnumProperty("CenterPoint", &TRzLabel::SetCenterPoint,
                         {"cpUpperLeft", "cpUpperCenter", "cpUpperRight", "cpLeftCenter",
                          "cpCenter", "cpRightCenter", "cpLowerLeft", "cpLowerCenter",
                          "cpLowerRight"}),
            Property("FlyByColor", &TRzLabel::SetFlyByColor, AsColor),
            Property("FlyByEnabled", &TRzLabel::SetFlyByEnabled, AsBool),
            Property("LightTextStyle", &TRzLabel::SetLightTextStyle, AsBool),
            EnumProperty("Rotation", &TRzLabel::SetRotation, {"roNone", "roFlat", "roCurve"}),
            Property("HighlightColor", &TRzLabel::SetHighlightColor, AsColor),
            Property("ShadowColor", &TRzLabel::SetShadowColor, AsColor),
            Property("ShadowDepth", &TRzLabel::SetShadowDepth, AsInt),
            Property("TextMargin", &TRzLabel::SetTextMargin, AsInt),
            EnumProperty("TextStyle", &TRzLabel::SetTextStyle, TextStyleNames),
            EventProperty("OnMouseEnter", &TRzLabel::OnMouseEnter),
            EventProperty("OnMouseLeave", &TRzLabel::OnMouseLeave),
        })
        // Read and discarded: older layouts stored the sides under this name.
        .Ignore("FrameSides");
}

} // namespace

void RegisterStyledControlsLayoutClasses() {
    static bool done = false;
    if (done) return;
    done = true;
    RegisterFrameworkLayoutClasses();
    RegisterButtons();
    RegisterLabel();
}
