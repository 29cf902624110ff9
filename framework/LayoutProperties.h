// The framework's classes as a stored layout sees them: value converters for colours and font
// styles, property-entry helpers, and the registration of the framework's own classes.
#pragma once

#include "framework/Colors.h"
#include "framework/GraphicsObjects.h"
#include "framework/LayoutReader.h"

#include <string>
#include <type_traits>
#include <vector>

// A colour: a number (explicit RGB or a system colour such as $FF00000F) or a name (clRed,
// clBtnFace, clNone, ...).
TColor AsColor(const TLayoutValue& value);
TFontStyles AsFontStyles(const TLayoutValue& value);

// A property whose setter takes what `convert` makes of the stored value.
template <class T, class V, class Convert>
TLayoutPropertyInfo Property(std::string name, void (T::*setter)(V), Convert convert) {
    return {std::move(name),
            [setter, convert](TComponent* c, const TLayoutValue& v, TLayoutContext&) {
                (dynamic_cast<T&>(*c).*setter)(static_cast<std::decay_t<V>>(convert(v)));
            }};
}

// An enumeration stored by its names, in declaration order.
template <class T, class E>
TLayoutPropertyInfo EnumProperty(std::string name, void (T::*setter)(E),
                                 std::vector<std::string> names) {
    return Property(std::move(name), setter,
                    [names](const TLayoutValue& v) { return static_cast<E>(AsEnum(v, names)); });
}

// An event bound to the window's handler of the stored name.
template <class T> TLayoutPropertyInfo EventProperty(std::string name, TNotifyEvent T::*event) {
    return {std::move(name), [event](TComponent* c, const TLayoutValue& v, TLayoutContext& ctx) {
                dynamic_cast<T&>(*c).*event = ctx.Handler(AsIdentifier(v));
            }};
}

// TControl, TWinControl, TCustomControl, TGraphicControl, TForm, TCustomLabel, TLabel, TAction
// and TImageList. Idempotent.
void RegisterFrameworkLayoutClasses();

// The text of the layout compiled into the program as RCDATA resource `name`; EReadError when
// the program has none.
std::string LayoutResourceText(const char* name);
