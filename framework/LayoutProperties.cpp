#include "framework/LayoutProperties.h"

#include "framework/Action.h"
#include "framework/Exceptions.h"
#include "framework/Form.h"
#include "framework/ImageList.h"
#include "framework/Label.h"
#include "framework/ProgressBar.h"
#include "framework/RadioButton.h"
#include "framework/Timer.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <map>

namespace {

const std::map<std::string, TColor>& ColorNames() {
    static const std::map<std::string, TColor> names = {
        {"clBlack", clBlack},
        {"clMaroon", clMaroon},
        {"clGreen", clGreen},
        {"clNavy", clNavy},
        {"clGray", clGray},
        {"clSilver", clSilver},
        {"clRed", clRed},
        {"clLime", clLime},
        {"clBlue", clBlue},
        {"clWhite", clWhite},
        {"clNone", clNone},
        {"clDefault", clDefault},
        {"clScrollBar", clScrollBar},
        {"clWindow", clWindow},
        {"clWindowFrame", clWindowFrame},
        {"clWindowText", clWindowText},
        {"clHighlight", clHighlight},
        {"clHighlightText", clHighlightText},
        {"clBtnFace", clBtnFace},
        {"clBtnShadow", clBtnShadow},
        {"clGrayText", clGrayText},
        {"clBtnText", clBtnText},
        {"clBtnHighlight", clBtnHighlight},
        {"cl3DDkShadow", cl3DDkShadow},
        {"cl3DLight", cl3DLight},
        {"clInfoText", clInfoText},
        {"clInfoBk", clInfoBk},
    };
    return names;
}

template <class F> TLayoutPropertyInfo FontProperty(std::string name, F apply) {
    return {std::move(name), [apply](TComponent* c, const TLayoutValue& v, TLayoutContext&) {
                apply(dynamic_cast<TControl&>(*c).Font(), v);
            }};
}

TControl* AsControl(TComponent* c) {
    return dynamic_cast<TControl*>(c);
}

} // namespace

TColor AsColor(const TLayoutValue& value) {
    if (value.Kind == TLayoutValueKind::Integer) {
        if (value.Integer < INT32_MIN || value.Integer > UINT32_MAX)
            throw EReadError("colour " + std::to_string(value.Integer) + " is out of range");
        return static_cast<TColor>(value.Integer);
    }
    const std::string& name = AsIdentifier(value);
    auto it = ColorNames().find(name);
    if (it == ColorNames().end()) throw EReadError("'" + name + "' is not a colour");
    return it->second;
}

TFontStyles AsFontStyles(const TLayoutValue& value) {
    static const std::map<std::string, TFontStyle> names = {{"fsBold", fsBold},
                                                            {"fsItalic", fsItalic},
                                                            {"fsUnderline", fsUnderline},
                                                            {"fsStrikeOut", fsStrikeOut}};
    TFontStyles styles = 0;
    for (const std::string& item : AsSet(value)) {
        auto it = names.find(item);
        if (it == names.end()) throw EReadError("'" + item + "' is not a font style");
        styles |= it->second;
    }
    return styles;
}

void RegisterFrameworkLayoutClasses() {
    static bool done = false;
    if (done) return;
    done = true;

    const auto str = [](const TLayoutValue& v) { return AsString(v); };
    RegisterLayoutClass(
        "TControl", "", nullptr,
        {
            Property("Left", &TControl::SetLeft, AsInt),
            Property("Top", &TControl::SetTop, AsInt),
            Property("Width", &TControl::SetWidth, AsInt),
            Property("Height", &TControl::SetHeight, AsInt),
            Property("Caption", &TControl::SetCaption, str),
            Property("Color", &TControl::SetColor, AsColor),
            Property("Enabled", &TControl::SetEnabled, AsBool),
            FontProperty("Font.Charset", [](TFont& f, auto& v) { f.SetCharset(AsInt(v)); }),
            FontProperty("Font.Color", [](TFont& f, auto& v) { f.SetColor(AsColor(v)); }),
            FontProperty("Font.Height", [](TFont& f, auto& v) { f.SetHeight(AsInt(v)); }),
            FontProperty("Font.Name", [](TFont& f, auto& v) { f.SetName(AsString(v)); }),
            FontProperty("Font.Style", [](TFont& f, auto& v) { f.SetStyle(AsFontStyles(v)); }),
            Property("ParentColor", &TControl::SetParentColor, AsBool),
            Property("ParentFont", &TControl::SetParentFont, AsBool),
            Property("Visible", &TControl::SetVisible, AsBool),
            {"Action",
             [](TComponent* c, const TLayoutValue& v, TLayoutContext& ctx) {
                 auto* control = AsControl(c);
                 ctx.Reference(AsIdentifier(v), [control](TComponent* target) {
                     auto* action = dynamic_cast<TAction*>(target);
                     if (!action) throw EReadError("'" + target->Name() + "' is no action");
                     control->SetAction(action);
                 });
             }},
            EventProperty("OnClick", &TControl::OnClick),
        },
        [](TComponent* child, TComponent* parent) {
            if (auto* c = AsControl(child)) c->SetParent(dynamic_cast<TWinControl*>(parent));
        });
    RegisterLayoutClass("TWinControl", "TControl", nullptr,
                        {
                            Property("TabOrder", &TWinControl::SetTabOrder, AsInt),
                            Property("TabStop", &TWinControl::SetTabStop, AsBool),
                        });
    RegisterLayoutClass("TCustomControl", "TWinControl", nullptr, {});
    RegisterLayoutClass("TGraphicControl", "TControl", nullptr, {});
    RegisterLayoutClass(
        "TForm", "TWinControl", nullptr,
        {
            {"ClientWidth",
             [](TComponent* c, const TLayoutValue& v, TLayoutContext&) {
                 auto& f = dynamic_cast<TForm&>(*c);
                 f.SetClientSize(AsInt(v), f.ClientHeight());
             }},
            {"ClientHeight",
             [](TComponent* c, const TLayoutValue& v, TLayoutContext&) {
                 auto& f = dynamic_cast<TForm&>(*c);
                 f.SetClientSize(f.ClientWidth(), AsInt(v));
             }},
            {"BorderIcons",
             [](TComponent* c, const TLayoutValue& v, TLayoutContext&) {
                 static const std::vector<std::string> names = {"biSystemMenu", "biMinimize",
                                                                "biMaximize"};
                 TBorderIcons icons = 0;
                 for (const std::string& item : AsSet(v)) {
                     auto it = std::find(names.begin(), names.end(), item);
                     if (it == names.end()) throw EReadError("'" + item + "' is not a border icon");
                     icons |= static_cast<TBorderIcons>(1 << (it - names.begin()));
                 }
                 dynamic_cast<TForm&>(*c).SetBorderIcons(icons);
             }},
            EnumProperty("Position", &TForm::SetPosition, {"poDesigned", "poDesktopCenter"}),
            Property("AutoScroll", &TForm::SetAutoScroll, AsBool),
            Property("PixelsPerInch", &TForm::SetPixelsPerInch, AsInt),
            Property("TextHeight", &TForm::SetTextHeight, AsInt),
            EventProperty("OnShow", &TForm::OnShow),
            EventProperty("OnDestroy", &TForm::OnDestroy),
        });
    RegisterLayoutClass(
        "TCustomLabel", "TGraphicControl", nullptr,
        {
            EnumProperty("Alignment", &TCustomLabel::SetAlignment,
                         {"taLeftJustify", "taRightJustify", "taCenter"}),
            Property("AutoSize", &TCustomLabel::SetAutoSize, AsBool),
            {"FocusControl",
             [](TComponent* c, const TLayoutValue& v, TLayoutContext& ctx) {
                 auto* label = dynamic_cast<TCustomLabel*>(c);
                 ctx.Reference(AsIdentifier(v), [label](TComponent* target) {
                     label->SetFocusControl(dynamic_cast<TWinControl*>(target));
                 });
             }},
            EnumProperty("Layout", &TCustomLabel::SetLayout, {"tlTop", "tlCenter", "tlBottom"}),
            Property("ShowAccelChar", &TCustomLabel::SetShowAccelChar, AsBool),
            Property("Transparent", &TCustomLabel::SetTransparent, AsBool),
            Property("WordWrap", &TCustomLabel::SetWordWrap, AsBool),
        });
    RegisterLayoutClass("TLabel", "TCustomLabel",
                        [](TComponent* owner) { return new TLabel(owner); }, {});
    RegisterLayoutClass("TProgressBar", "TWinControl",
                        [](TComponent* owner) { return new TProgressBar(owner); },
                        {
                            Property("Min", &TProgressBar::SetMin, AsInt),
                            Property("Max", &TProgressBar::SetMax, AsInt),
                            Property("Position", &TProgressBar::SetPosition, AsInt),
                        });
    RegisterLayoutClass("TRadioButton", "TWinControl",
                        [](TComponent* owner) { return new TRadioButton(owner); },
                        {Property("Checked", &TRadioButton::SetChecked, AsBool)});
    // Not a control: it stands in the layout but on no parent.
    RegisterLayoutClass(
        "TTimer", "", [](TComponent* owner) { return new TTimer(owner); },
        {
            Property("Enabled", &TTimer::SetEnabled, AsBool),
            Property("Interval", &TTimer::SetInterval,
                     [](const TLayoutValue& v) { return static_cast<unsigned>(AsInt(v)); }),
            {"OnTimer",
             [](TComponent* c, const TLayoutValue& v, TLayoutContext& ctx) {
                 dynamic_cast<TTimer&>(*c).SetOnTimer(ctx.Handler(AsIdentifier(v)));
             }},
        },
        [](TComponent*, TComponent*) {});
    RegisterLayoutClass("TAction", "", [](TComponent* owner) { return new TAction(owner); },
                        {
                            Property("ImageIndex", &TAction::SetImageIndex, AsInt),
                            EventProperty("OnExecute", &TAction::OnExecute),
                        });
    RegisterLayoutClass(
        "TImageList", "", [](TComponent* owner) { return new TImageList(owner); },
        {
            Property("Width", &TImageList::SetWidth, AsInt),
            Property("Height", &TImageList::SetHeight, AsInt),
            // The images: a bitmap resource of the program, cut into images of the list's
            // size, with the colour of its bottom-left pixel left out.
            {"Bitmap",
             [](TComponent* c, const TLayoutValue& v, TLayoutContext&) {
                 TBitmap strip;
                 if (!strip.LoadFromResourceName(GetModuleHandleA(nullptr), AsString(v).c_str()))
                     throw EReadError("the program has no bitmap '" + AsString(v) + "'");
                 dynamic_cast<TImageList&>(*c).AddMasked(strip, strip.TransparentColor());
             }},
        });
}

std::string LayoutResourceText(const char* name) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC info = FindResourceA(module, name, reinterpret_cast<LPCSTR>(RT_RCDATA));
    HGLOBAL data = info ? LoadResource(module, info) : nullptr;
    const void* bytes = data ? LockResource(data) : nullptr;
    if (!bytes) throw EReadError(std::string("The program has no layout ") + name);
    return std::string(static_cast<const char*>(bytes), SizeofResource(module, info));
}
