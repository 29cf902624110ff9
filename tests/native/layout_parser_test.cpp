// Reading the stored-layout text into a tree: every kind of value, nesting, and the line that
// each syntax error names.
#include "framework/LayoutParser.h"

#include "framework/Exceptions.h"

#include <gtest/gtest.h>

namespace {

const TLayoutProperty& Prop(const TLayoutObject& object, size_t index) {
    return object.Properties.at(index);
}

TEST(LayoutParser, ValuesOfEveryKind) {
    const TLayoutObject form = ParseLayout("// a window\n"
                                           "object FormOfZQX: TFormOfZQX\n"
                                           "  Left = 0\n"
                                           "  Width = -12\n"
                                           "  Color = $00F0F4F4\n"
                                           "  Caption = 'Orlenz ''quoted'' text'\n"
                                           "  Hint = 'abc' +\n"
                                           "    'def' + ''''\n"
                                           "  Font.Style = [fsBold, fsItalic]\n"
                                           "  Anchors = []\n"
                                           "  Visible = True // stays\n"
                                           "  OnShow = FormShow\n"
                                           "end\n");
    EXPECT_EQ(form.Name, "FormOfZQX");
    EXPECT_EQ(form.ClassName, "TFormOfZQX");
    EXPECT_EQ(form.Line, 2);
    ASSERT_EQ(form.Properties.size(), 9u);
    EXPECT_EQ(Prop(form, 0).Name, "Left");
    EXPECT_EQ(Prop(form, 0).Value.Kind, TLayoutValueKind::Integer);
    EXPECT_EQ(Prop(form, 0).Value.Integer, 0);
    EXPECT_EQ(Prop(form, 1).Value.Integer, -12);
    EXPECT_EQ(Prop(form, 2).Value.Integer, 0xF0F4F4);
    EXPECT_EQ(Prop(form, 3).Value.Kind, TLayoutValueKind::String);
    EXPECT_EQ(Prop(form, 3).Value.Text, "Orlenz 'quoted' text");
    EXPECT_EQ(Prop(form, 4).Value.Text, "abcdef'");
    EXPECT_EQ(Prop(form, 4).Line, 7);
    EXPECT_EQ(Prop(form, 5).Name, "Font.Style");
    EXPECT_EQ(Prop(form, 5).Value.Kind, TLayoutValueKind::Set);
    EXPECT_EQ(Prop(form, 5).Value.Items, (std::vector<std::string>{"fsBold", "fsItalic"}));
    EXPECT_EQ(Prop(form, 6).Value.Kind, TLayoutValueKind::Set);
    EXPECT_TRUE(Prop(form, 6).Value.Items.empty());
    EXPECT_EQ(Prop(form, 7).Value.Kind, TLayoutValueKind::Identifier);
    EXPECT_EQ(Prop(form, 7).Value.Text, "True");
    EXPECT_EQ(Prop(form, 8).Value.Text, "FormShow");
    EXPECT_EQ(Prop(form, 8).Line, 12);
}

TEST(LayoutParser, NumbersAtTheirLimits) {
    const TLayoutObject object = ParseLayout(
        "object A: TA\n a = $FFFFFFFF\n b = -$10\n c = +7\n d = 9223372036854775807\nend");
    EXPECT_EQ(Prop(object, 0).Value.Integer, 0xFFFFFFFFll);
    EXPECT_EQ(Prop(object, 1).Value.Integer, -16);
    EXPECT_EQ(Prop(object, 2).Value.Integer, 7);
    EXPECT_EQ(Prop(object, 3).Value.Integer, INT64_MAX);
}

TEST(LayoutParser, ChildrenNestInFileOrder) {
    const TLayoutObject form = ParseLayout("object F: TForm\n"
                                           "  object Panel1: TPanel\n"
                                           "    Top = 1\n"
                                           "    object Label1: TLabel\n"
                                           "    end\n"
                                           "  end\n"
                                           "  Caption = 'after the panel'\n"
                                           "  object Button1: TButton\n"
                                           "  end\n"
                                           "end");
    ASSERT_EQ(form.Children.size(), 2u);
    EXPECT_EQ(form.Properties.size(), 1u);
    const TLayoutObject& panel = form.Children[0];
    EXPECT_EQ(panel.Name, "Panel1");
    EXPECT_EQ(panel.ClassName, "TPanel");
    EXPECT_EQ(panel.Line, 2);
    EXPECT_EQ(panel.Properties.size(), 1u);
    ASSERT_EQ(panel.Children.size(), 1u);
    EXPECT_EQ(panel.Children[0].Name, "Label1");
    EXPECT_EQ(panel.Children[0].Line, 4);
    EXPECT_EQ(form.Children[1].Name, "Button1");
    EXPECT_EQ(form.Children[1].Line, 8);
}

TEST(LayoutParser, EachErrorNamesItsLine) {
    const struct {
        const char* Text;
        const char* Message;
    } cases[] = {
        {"object F: TF\n  Left 0\nend", "Layout line 2: expected '=' after property name"},
        {"object F: TF\n\n  Caption = 'open\nend", "Layout line 3: unterminated string"},
        {"object F: TF\n  object B: TB\n  end\n", "Layout line 1: missing 'end' of object F"},
        {"object F: TF\n  Left = 12px\nend", "Layout line 2: bad number '12px'"},
        {"object F: TF\n  Color = $\nend", "Layout line 2: bad number '$'"},
        {"object F: TF\n  Color = $GG\nend", "Layout line 2: bad number '$GG'"},
        {"object F: TF\n  N = 9223372036854775808\nend",
         "Layout line 2: bad number '9223372036854775808'"},
        {"// header\nform F: TF\nend", "Layout line 2: expected 'object'"},
        {"object F TF\nend", "Layout line 1: expected ':' after the component name"},
        {"object F: 'TF'\nend", "Layout line 1: expected a class name after ':'"},
        {"object : TF\nend", "Layout line 1: expected a component name after 'object'"},
        {"object F: TF\n  S = [a b]\nend", "Layout line 2: expected ',' or ']' in the set"},
        {"object F: TF\n  S = [a,]\nend", "Layout line 2: expected a name in the set"},
        {"object F: TF\n  T = 'a' +\n  Left = 1\nend",
         "Layout line 2: expected a string after '+'"},
        {"object F: TF\n  Left = ]\nend", "Layout line 2: expected a value after '='"},
        {"object F: TF\n  Left = 1\n  = 2\nend",
         "Layout line 3: expected a property name, 'object' or 'end'"},
        {"object F: TF\n  Left = #1\nend", "Layout line 2: unexpected character '#'"},
        {"object F: TF\nend\nobject G: TG\nend",
         "Layout line 3: unexpected text after the final 'end'"},
    };
    for (const auto& c : cases) {
        try {
            ParseLayout(c.Text);
            ADD_FAILURE() << "no error for: " << c.Text;
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message(), c.Message) << c.Text;
        }
    }
}

} // namespace
