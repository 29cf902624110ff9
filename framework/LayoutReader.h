// Builds a window from its stored layout. Classes that a layout may name are registered with
// a factory and their published properties in declaration order; the loader creates the
// components (all owned by the window), sets their properties in that order whatever the
// file's order, binds events to the window's handlers, resolves references once everything
// exists, and only then ends the loading state of each component.
#pragma once

#include "framework/Component.h"
#include "framework/LayoutParser.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

class TLayoutContext;

using TLayoutSetter =
    std::function<void(TComponent* component, const TLayoutValue& value, TLayoutContext& context)>;
using TLayoutFactory = std::function<TComponent*(TComponent* owner)>;
// Places a created component inside the one that encloses it in the layout.
using TLayoutAttach = std::function<void(TComponent* child, TComponent* parentInLayout)>;
using TLayoutHandlers = std::map<std::string, TNotifyEvent>;

struct TLayoutPropertyInfo {
    std::string Name;
    TLayoutSetter Setter;
};

// A registered class. Alias and Ignore cover property names that older layouts still store.
class TLayoutClass {
public:
    TLayoutClass(std::string baseName, TLayoutFactory factory,
                 std::vector<TLayoutPropertyInfo> properties, TLayoutAttach attach)
        : FBaseName(std::move(baseName)), FFactory(std::move(factory)),
          FProperties(std::move(properties)), FAttach(std::move(attach)) {}

    // Reads the stored property `storedName` as `propertyName`.
    TLayoutClass& Alias(const std::string& storedName, const std::string& propertyName);
    // Reads the stored property `storedName` and discards its value.
    TLayoutClass& Ignore(const std::string& storedName);

private:
    friend class TLayoutLoader;
    std::string FBaseName;
    TLayoutFactory FFactory; // empty: the class is only ever a root or a base
    std::vector<TLayoutPropertyInfo> FProperties;
    TLayoutAttach FAttach;
    std::map<std::string, std::string> FAliases;
    std::set<std::string> FIgnored;
};

// Registers (or replaces) a class. Its properties are its base's followed by its own; one that
// repeats a base property's name replaces that setter in the base's place. A class without an
// attach callback uses its base's.
TLayoutClass& RegisterLayoutClass(const std::string& className, const std::string& baseClassName,
                                  TLayoutFactory factory,
                                  std::vector<TLayoutPropertyInfo> properties,
                                  TLayoutAttach attach = {});

// What a setter may reach besides the component and the value.
class TLayoutContext {
public:
    TLayoutContext(TComponent* root, const TLayoutHandlers& handlers)
        : FRoot(root), FHandlers(handlers) {}

    TComponent* Root() const { return FRoot; }
    // The root's handler called `name`; EReadError when it has none.
    const TNotifyEvent& Handler(const std::string& name) const;
    // Calls `assign` with the component called `name` once every component exists (the root
    // answers to its own name); EReadError then when there is none.
    void Reference(const std::string& name, std::function<void(TComponent*)> assign);

private:
    friend class TLayoutLoader;
    struct TFixUp {
        std::string Name, Property;
        int Line;
        std::function<void(TComponent*)> Assign;
    };
    TComponent* FRoot;
    const TLayoutHandlers& FHandlers;
    std::string FProperty; // "TClass.Property" being set, for messages
    int FLine = 0;
    std::vector<TFixUp> FFixUps;
};

// Value conversions for setters; each raises EReadError naming the kind it expected.
int AsInt(const TLayoutValue& value);
bool AsBool(const TLayoutValue& value);
const std::string& AsString(const TLayoutValue& value);
const std::string& AsIdentifier(const TLayoutValue& value);
const std::vector<std::string>& AsSet(const TLayoutValue& value);
// The index of the value's name in `names`.
int AsEnum(const TLayoutValue& value, const std::vector<std::string>& names);

// Layout files are UTF-8; the program's texts are in its code page (ProgramCodePage, 936),
// whatever the system's.
std::string Utf8ToAnsi(const std::string& text);

// Reads `text` into `root`, which the caller has built and whose class the top object names.
// Components are created with `root` as owner; `handlers` are the root's event handlers.
// On an error, the components created so far are freed again.
void LoadLayout(TComponent* root, const std::string& text, const TLayoutHandlers& handlers);
