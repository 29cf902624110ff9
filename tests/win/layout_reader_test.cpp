// Building components from a stored layout: creation through the registry, the order in which
// properties are set and loading ends, aliases, events, references, text conversion, errors.
#include "framework/LayoutReader.h"

#include "framework/Exceptions.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>

namespace {

std::vector<std::string> Calls; // "Name.Property" per setter call, "Name.Loaded" per Loaded

class TTestBox : public TComponent {
public:
    using TComponent::TComponent;
    int FSize = 0, FAlign = -1, FLoadedCount = 0;
    std::string FCaption, FTitle;
    bool FActive = false, FLoadingInSetters = true, FSawLastAtLoaded = false;
    std::vector<std::string> FSides;
    TNotifyEvent FOnFoo;
    TComponent *FBuddy = nullptr, *FBuddyAtLoaded = nullptr, *FPlacedIn = nullptr;

protected:
    void Loaded() override {
        ++FLoadedCount;
        Calls.push_back(Name() + ".Loaded");
        FSawLastAtLoaded = (Owner() ? Owner() : this)->FindComponent("Last") != nullptr;
        FBuddyAtLoaded = FBuddy;
    }
};

class TTestPanel : public TTestBox {
public:
    using TTestBox::TTestBox;
};

class TTestForm : public TTestBox {
public:
    TTestForm() : TTestBox(nullptr) {}
};

using TBoxSetter = std::function<void(TTestBox*, const TLayoutValue&, TLayoutContext&)>;

TLayoutPropertyInfo Property(const std::string& name, TBoxSetter set) {
    return {name, [name, set](TComponent* c, const TLayoutValue& v, TLayoutContext& context) {
                auto* box = static_cast<TTestBox*>(c);
                Calls.push_back(box->Name() + "." + name);
                box->FLoadingInSetters = box->FLoadingInSetters && box->Loading();
                set(box, v, context);
            }};
}

void RegisterTestClasses() {
    RegisterLayoutClass(
        "TTestBox", "", [](TComponent* owner) { return new TTestBox(owner); },
        {Property("Size", [](TTestBox* b, auto& v, auto&) { b->FSize = AsInt(v); }),
         Property("Caption", [](TTestBox* b, auto& v, auto&) { b->FCaption = AsString(v); }),
         Property("Active", [](TTestBox* b, auto& v, auto&) { b->FActive = AsBool(v); }),
         Property("Align",
                  [](TTestBox* b, auto& v, auto&) {
                      b->FAlign = AsEnum(v, {"alNone", "alTop", "alClient"});
                  }),
         Property("Sides", [](TTestBox* b, auto& v, auto&) { b->FSides = AsSet(v); }),
         Property("OnFoo",
                  [](TTestBox* b, auto& v, auto& c) { b->FOnFoo = c.Handler(AsIdentifier(v)); }),
         Property("Buddy",
                  [](TTestBox* b, auto& v, auto& c) {
                      c.Reference(AsIdentifier(v), [b](TComponent* t) { b->FBuddy = t; });
                  })},
        [](TComponent* child, TComponent* parent) {
            static_cast<TTestBox*>(child)->FPlacedIn = parent;
        })
        .Alias("OldSize", "Size")
        .Ignore("Obsolete");
    // Redeclares Size (stored doubled, to tell the setters apart) and adds one of its own.
    RegisterLayoutClass(
        "TTestPanel", "TTestBox", [](TComponent* owner) { return new TTestPanel(owner); },
        {Property("Title", [](TTestBox* b, auto& v, auto&) { b->FTitle = AsString(v); }),
         Property("Size", [](TTestBox* b, auto& v, auto&) { b->FSize = 2 * AsInt(v); })});
    RegisterLayoutClass(
        "TTestForm", "TTestBox", nullptr,
        {Property("Title", [](TTestBox* b, auto& v, auto&) { b->FTitle = AsString(v); })});
}

class LayoutReader : public testing::Test {
protected:
    void SetUp() override {
        RegisterTestClasses();
        Calls.clear();
    }
    void Load(const std::string& text, const TLayoutHandlers& handlers = {}) {
        LoadLayout(FForm.get(), text, handlers);
    }
    TTestBox* Box(const std::string& name) {
        return dynamic_cast<TTestBox*>(FForm->FindComponent(name));
    }
    std::unique_ptr<TTestForm> FForm = std::make_unique<TTestForm>();
};

TEST_F(LayoutReader, CreatesNamedComponentsOwnedByTheRootAndPlacedInTheirParent) {
    Load("object Main: TTestForm\n"
         "  object Box1: TTestBox\n  end\n"
         "  object Panel1: TTestPanel\n"
         "    object Box2: TTestBox\n    end\n"
         "  end\n"
         "end");
    EXPECT_EQ(FForm->Name(), "Main");
    ASSERT_EQ(FForm->ComponentCount(), 3);
    const char* names[] = {"Box1", "Panel1", "Box2"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(FForm->Components(i)->Name(), names[i]);
        EXPECT_EQ(FForm->Components(i)->Owner(), FForm.get());
    }
    EXPECT_NE(dynamic_cast<TTestPanel*>(Box("Panel1")), nullptr);
    EXPECT_EQ(dynamic_cast<TTestPanel*>(Box("Box2")), nullptr);
    EXPECT_EQ(Box("Box1")->FPlacedIn, FForm.get());
    EXPECT_EQ(Box("Panel1")->FPlacedIn, FForm.get()); // attach inherited from TTestBox
    EXPECT_EQ(Box("Box2")->FPlacedIn, Box("Panel1"));
}

TEST_F(LayoutReader, PropertiesFollowDeclarationOrderAndLoadedComesLast) {
    Load("object Main: TTestForm\n"
         "  Title = 't'\n  Size = 1\n"
         "  object Panel1: TTestPanel\n"
         "    Title = 'p'\n    Caption = 'c'\n    Size = 5\n"
         "  end\n"
         "end");
    // A redeclared property keeps its base's place; the panel's own ones come after.
    EXPECT_EQ(Calls,
              (std::vector<std::string>{"Main.Size", "Main.Title", "Panel1.Size", "Panel1.Caption",
                                        "Panel1.Title", "Main.Loaded", "Panel1.Loaded"}));
    EXPECT_EQ(Box("Panel1")->FSize, 10);
    EXPECT_EQ(FForm->FSize, 1);
}

TEST_F(LayoutReader, LoadingEndsOnceAfterTheWholeTreeAndItsReferences) {
    Load("object Main: TTestForm\n"
         "  object First: TTestBox\n    Buddy = Last\n    Size = 1\n  end\n"
         "  object Panel1: TTestPanel\n"
         "    object Inner: TTestBox\n      Buddy = Main\n    end\n"
         "  end\n"
         "  object Last: TTestBox\n  end\n"
         "end");
    EXPECT_EQ(Calls, (std::vector<std::string>{"First.Size", "First.Buddy", "Inner.Buddy",
                                               "Main.Loaded", "First.Loaded", "Panel1.Loaded",
                                               "Inner.Loaded", "Last.Loaded"}));
    for (TTestBox* box : {static_cast<TTestBox*>(FForm.get()), Box("First"), Box("Panel1"),
                          Box("Inner"), Box("Last")}) {
        EXPECT_EQ(box->FLoadedCount, 1) << box->Name();
        EXPECT_TRUE(box->FSawLastAtLoaded) << box->Name();
        EXPECT_TRUE(box->FLoadingInSetters) << box->Name();
        EXPECT_FALSE(box->Loading()) << box->Name();
    }
    EXPECT_EQ(Box("First")->FBuddyAtLoaded, Box("Last"));
    EXPECT_EQ(Box("Inner")->FBuddyAtLoaded, FForm.get());
}

TEST_F(LayoutReader, ValuesAliasesAndIgnoredProperties) {
    Load("object Main: TTestForm\n"
         "  object Box1: TTestBox\n"
         "    OldSize = -7\n    Caption = 'it''s'\n    Active = True\n    Align = alClient\n"
         "    Sides = [sdLeft, sdTop]\n    Obsolete = [anything]\n"
         "  end\n"
         "  object Panel1: TTestPanel\n    OldSize = 4\n    Active = False\n    Align = alNone\n  "
         "end\n"
         "end");
    TTestBox* box = Box("Box1");
    EXPECT_EQ(box->FSize, -7);
    EXPECT_EQ(box->FCaption, "it's");
    EXPECT_TRUE(box->FActive);
    EXPECT_EQ(box->FAlign, 2);
    EXPECT_EQ(box->FSides, (std::vector<std::string>{"sdLeft", "sdTop"}));
    EXPECT_EQ(Box("Panel1")->FSize, 8); // the alias reaches the redeclared setter
    EXPECT_FALSE(Box("Panel1")->FActive);
    EXPECT_EQ(Box("Panel1")->FAlign, 0);
}

TEST_F(LayoutReader, EventsAreBoundToTheRootsHandlers) {
    std::vector<std::pair<std::string, TObject*>> fired;
    const TLayoutHandlers handlers = {
        {"BoxFoo", [&](TObject* sender) { fired.emplace_back("BoxFoo", sender); }},
        {"FormFoo", [&](TObject* sender) { fired.emplace_back("FormFoo", sender); }}};
    Load("object Main: TTestForm\n  OnFoo = FormFoo\n"
         "  object Box1: TTestBox\n    OnFoo = BoxFoo\n  end\nend",
         handlers);
    ASSERT_TRUE(FForm->FOnFoo && Box("Box1")->FOnFoo);
    Box("Box1")->FOnFoo(Box("Box1"));
    FForm->FOnFoo(FForm.get());
    EXPECT_EQ(fired, (std::vector<std::pair<std::string, TObject*>>{{"BoxFoo", Box("Box1")},
                                                                    {"FormFoo", FForm.get()}}));
}

TEST_F(LayoutReader, StringsArriveInTheAnsiCodePage) {
    ASSERT_EQ(GetACP(), 936u);
    Load(reinterpret_cast<const char*>(u8"object Main: TTestForm\n  Title = '下载' + '.'\nend"));
    EXPECT_EQ(FForm->FTitle, "\xCF\xC2\xD4\xD8.");
}

TEST_F(LayoutReader, ErrorsNameTheLineClassAndProperty) {
    auto inBox = [](const std::string& lines) {
        return "object Main: TTestForm\n  object B: TTestBox\n" + lines + "\n  end\nend";
    };
    const std::pair<std::string, std::string> cases[] = {
        {"object Main: TNoForm\nend", "Layout line 1: class TNoForm is not registered"},
        {"object Main: TTestForm\n\n  object B: TNoBox\n  end\nend",
         "Layout line 3: class TNoBox is not registered"},
        {"object Main: TTestForm\n  object B: TTestForm\n  end\nend",
         "Layout line 2: class TTestForm cannot be created"},
        {inBox("  end\n  object B: TTestPanel"), "Layout line 4: duplicate component name 'B'"},
        {inBox("    Colour = 1"), "Layout line 3: TTestBox has no property 'Colour'"},
        {inBox("    Size 1"), "Layout line 3: expected '=' after property name"},
        {inBox("    Size = 'big'"), "Layout line 3: expected an integer, not 'big'"},
        {inBox("    Size = 3000000000"),
         "Layout line 3: expected a 32-bit integer, not 3000000000"},
        {inBox("    Caption = 5"), "Layout line 3: expected a string, not 5"},
        {inBox("    Caption = '\xFF'"), "Layout line 3: string is not valid UTF-8"},
        {inBox("    Active = Yes"), "Layout line 3: expected True or False, not Yes"},
        {inBox("    Align = alBottom"),
         "Layout line 3: expected one of alNone, alTop, alClient, not alBottom"},
        {inBox("    Sides = sdLeft"), "Layout line 3: expected a set, not sdLeft"},
        {inBox("    OnFoo = [x]"), "Layout line 3: expected a name, not [x]"},
        {inBox("    Size = 1\n    OnFoo = Missing"),
         "Layout line 4: no handler 'Missing' for TTestBox.OnFoo"},
        {"object Main: TTestForm\n  object P: TTestPanel\n    OnFoo = Gone\n  end\nend",
         "Layout line 3: no handler 'Gone' for TTestPanel.OnFoo"},
        {inBox("    Buddy = Nobody"), "Layout line 3: no component 'Nobody' for TTestBox.Buddy"},
    };
    for (const auto& [text, message] : cases) {
        FForm = std::make_unique<TTestForm>();
        try {
            Load(text);
            ADD_FAILURE() << "no error for:\n" << text;
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message(), message);
        }
        // What was created is gone again, and nothing saw the end of loading.
        EXPECT_EQ(FForm->ComponentCount(), 0) << text;
        EXPECT_EQ(FForm->FLoadedCount, 0) << text;
    }
}

} // namespace
