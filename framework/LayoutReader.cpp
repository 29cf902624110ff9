#include "framework/LayoutReader.h"

#include "framework/Exceptions.h"
#include "framework/ProgramText.h"

#include <windows.h>

#include <algorithm>
#include <climits>

namespace {

std::map<std::string, TLayoutClass>& Registry() {
    static std::map<std::string, TLayoutClass> registry;
    return registry;
}

[[noreturn]] void Fail(int line, const std::string& message) {
    throw EReadError("Layout line " + std::to_string(line) + ": " + message);
}

// Runs code of a registered class (a setter, a factory, an attach callback, a fix-up): its
// errors know nothing of the layout, so they get the line of the object or property.
template <class F> void AtLine(int line, F&& code) {
    try {
        code();
    } catch (const Exception& e) {
        Fail(line, e.Message());
    }
}

// How a value reads in a message.
std::string Shown(const TLayoutValue& value) {
    switch (value.Kind) {
    case TLayoutValueKind::Integer:
        return std::to_string(value.Integer);
    case TLayoutValueKind::String:
        return "'" + value.Text + "'";
    case TLayoutValueKind::Identifier:
        return value.Text;
    case TLayoutValueKind::Set:
        break;
    }
    std::string text;
    for (const std::string& item : value.Items)
        text += (text.empty() ? "" : ", ") + item;
    return "[" + text + "]";
}

[[noreturn]] void WrongValue(const std::string& expected, const TLayoutValue& value) {
    throw EReadError("expected " + expected + ", not " + Shown(value));
}

} // namespace

TLayoutClass& TLayoutClass::Alias(const std::string& storedName, const std::string& propertyName) {
    FAliases[storedName] = propertyName;
    return *this;
}

TLayoutClass& TLayoutClass::Ignore(const std::string& storedName) {
    FIgnored.insert(storedName);
    return *this;
}

TLayoutClass& RegisterLayoutClass(const std::string& className, const std::string& baseClassName,
                                  TLayoutFactory factory,
                                  std::vector<TLayoutPropertyInfo> properties,
                                  TLayoutAttach attach) {
    // Bases are looked up only when a layout is read, so registration order does not matter.
    return Registry()
        .insert_or_assign(className, TLayoutClass(baseClassName, std::move(factory),
                                                  std::move(properties), std::move(attach)))
        .first->second;
}

const TNotifyEvent& TLayoutContext::Handler(const std::string& name) const {
    auto found = FHandlers.find(name);
    if (found == FHandlers.end()) throw EReadError("no handler '" + name + "' for " + FProperty);
    return found->second;
}

void TLayoutContext::Reference(const std::string& name, std::function<void(TComponent*)> assign) {
    FFixUps.push_back({name, FProperty, FLine, std::move(assign)});
}

int AsInt(const TLayoutValue& value) {
    if (value.Kind != TLayoutValueKind::Integer) WrongValue("an integer", value);
    if (value.Integer < INT_MIN || value.Integer > INT_MAX) WrongValue("a 32-bit integer", value);
    return static_cast<int>(value.Integer);
}

bool AsBool(const TLayoutValue& value) {
    if (value.Kind != TLayoutValueKind::Identifier ||
        (value.Text != "True" && value.Text != "False"))
        WrongValue("True or False", value);
    return value.Text == "True";
}

const std::string& AsString(const TLayoutValue& value) {
    if (value.Kind != TLayoutValueKind::String) WrongValue("a string", value);
    return value.Text;
}

const std::string& AsIdentifier(const TLayoutValue& value) {
    if (value.Kind != TLayoutValueKind::Identifier) WrongValue("a name", value);
    return value.Text;
}

const std::vector<std::string>& AsSet(const TLayoutValue& value) {
    if (value.Kind != TLayoutValueKind::Set) WrongValue("a set", value);
    return value.Items;
}

int AsEnum(const TLayoutValue& value, const std::vector<std::string>& names) {
    if (value.Kind == TLayoutValueKind::Identifier) {
        auto found = std::find(names.begin(), names.end(), value.Text);
        if (found != names.end()) return static_cast<int>(found - names.begin());
    }
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : ", ") + name;
    WrongValue("one of " + list, value);
}

std::string Utf8ToAnsi(const std::string& text) {
    if (text.empty()) return text;
    const int length = static_cast<int>(text.size());
    const int wide =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (wide <= 0) throw EReadError("string is not valid UTF-8");
    std::wstring utf16(wide, L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, utf16.data(), wide);
    return FromWide(utf16);
}

// One reading of a layout: the classes it names, flattened with their bases, and every
// component it has put into the loading state, in creation order.
class TLayoutLoader {
public:
    TLayoutLoader(TComponent* root, const TLayoutHandlers& handlers) : FContext(root, handlers) {}

    void Load(const TLayoutObject& top) {
        TComponent* root = FContext.FRoot;
        const TResolvedClass& rootClass = Resolve(top.ClassName, top.Line);
        root->BeginLoading();
        root->SetName(top.Name);
        FLoaded.push_back(root);
        try {
            Read(root, rootClass, top);
            FixReferences();
        } catch (...) {
            // Last created first: a component goes before the one it was placed in.
            for (size_t i = FLoaded.size(); i-- > 1;)
                delete FLoaded[i];
            throw;
        }
        // Only now: Loaded of each component sees the whole window, references included.
        for (TComponent* component : FLoaded)
            component->EndLoading();
    }

private:
    struct TResolvedClass {
        std::string Name;
        TLayoutFactory Factory;
        TLayoutAttach Attach;
        std::vector<TLayoutPropertyInfo> Properties; // declaration order, bases first
        std::map<std::string, size_t> Index;
        std::map<std::string, std::string> Aliases;
        std::set<std::string> Ignored;
    };

    const TResolvedClass& Resolve(const std::string& name, int line, int depth = 0) {
        auto cached = FClasses.find(name);
        if (cached != FClasses.end()) return cached->second;
        auto entry = Registry().find(name);
        if (entry == Registry().end()) Fail(line, "class " + name + " is not registered");
        if (depth > 64) Fail(line, "class " + name + " derives from itself");
        const TLayoutClass& own = entry->second;
        TResolvedClass resolved;
        if (!own.FBaseName.empty()) resolved = Resolve(own.FBaseName, line, depth + 1);
        resolved.Name = name;
        resolved.Factory = own.FFactory;
        if (own.FAttach) resolved.Attach = own.FAttach;
        for (const TLayoutPropertyInfo& property : own.FProperties) {
            auto [at, added] = resolved.Index.emplace(property.Name, resolved.Properties.size());
            if (added)
                resolved.Properties.push_back(property);
            else
                resolved.Properties[at->second] = property;
        }
        for (const auto& [stored, current] : own.FAliases)
            resolved.Aliases[stored] = current;
        resolved.Ignored.insert(own.FIgnored.begin(), own.FIgnored.end());
        return FClasses.emplace(name, std::move(resolved)).first->second;
    }

    void Read(TComponent* component, const TResolvedClass& cls, const TLayoutObject& object) {
        SetProperties(component, cls, object);
        TComponent* root = FContext.FRoot;
        for (const TLayoutObject& child : object.Children) {
            const TResolvedClass& childClass = Resolve(child.ClassName, child.Line);
            if (!childClass.Factory)
                Fail(child.Line, "class " + child.ClassName + " cannot be created");
            if (child.Name == root->Name() || root->FindComponent(child.Name))
                Fail(child.Line, "duplicate component name '" + child.Name + "'");
            TComponent* created = nullptr;
            AtLine(child.Line, [&] { created = childClass.Factory(root); });
            if (!created) Fail(child.Line, "class " + child.ClassName + " cannot be created");
            FLoaded.push_back(created);
            created->BeginLoading();
            created->SetName(child.Name);
            if (childClass.Attach)
                AtLine(child.Line, [&] { childClass.Attach(created, component); });
            Read(created, childClass, child);
        }
    }

    void SetProperties(TComponent* component, const TResolvedClass& cls,
                       const TLayoutObject& object) {
        std::vector<std::pair<size_t, const TLayoutProperty*>> order;
        for (const TLayoutProperty& property : object.Properties) {
            auto found = cls.Index.find(property.Name);
            if (found == cls.Index.end()) {
                auto alias = cls.Aliases.find(property.Name);
                if (alias != cls.Aliases.end()) found = cls.Index.find(alias->second);
            }
            if (found != cls.Index.end())
                order.emplace_back(found->second, &property);
            else if (!cls.Ignored.count(property.Name))
                Fail(property.Line, cls.Name + " has no property '" + property.Name + "'");
        }
        // A setter may rely on the properties declared before it being set already.
        std::stable_sort(order.begin(), order.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [index, property] : order) {
            const TLayoutPropertyInfo& info = cls.Properties[index];
            FContext.FProperty = cls.Name + "." + info.Name;
            FContext.FLine = property->Line;
            AtLine(property->Line, [&] {
                TLayoutValue value = property->Value;
                if (value.Kind == TLayoutValueKind::String) value.Text = Utf8ToAnsi(value.Text);
                info.Setter(component, value, FContext);
            });
        }
    }

    void FixReferences() {
        TComponent* root = FContext.FRoot;
        for (const TLayoutContext::TFixUp& fixUp : FContext.FFixUps) {
            TComponent* target =
                fixUp.Name == root->Name() ? root : root->FindComponent(fixUp.Name);
            if (!target)
                Fail(fixUp.Line, "no component '" + fixUp.Name + "' for " + fixUp.Property);
            AtLine(fixUp.Line, [&] { fixUp.Assign(target); });
        }
    }

    TLayoutContext FContext;
    std::map<std::string, TResolvedClass> FClasses;
    std::vector<TComponent*> FLoaded;
};

void LoadLayout(TComponent* root, const std::string& text, const TLayoutHandlers& handlers) {
    const TLayoutObject top = ParseLayout(text);
    TLayoutLoader(root, handlers).Load(top);
}
