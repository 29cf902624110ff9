#include "framework/LayoutParser.h"

#include "framework/Exceptions.h"

#include <cctype>
#include <charconv>

namespace {

[[noreturn]] void Fail(int line, const std::string& message) {
    throw EReadError("Layout line " + std::to_string(line) + ": " + message);
}

bool IsNameStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

enum class TTokenKind { End, Name, Integer, String, Symbol };

struct TToken {
    TTokenKind Kind = TTokenKind::End;
    std::string Text; // a name, a string's bytes, or the symbol
    int64_t Integer = 0;
    int Line = 1;
};

// Splits the text into tokens, one ahead of the parser.
class TLayoutScanner {
public:
    explicit TLayoutScanner(const std::string& text) : FText(text) { Next(); }

    const TToken& Current() const { return FToken; }
    // The line of the token before the current one: "expected X after Y" belongs there.
    int PreviousLine() const { return FPreviousLine; }

    void Next() {
        FPreviousLine = FToken.Line;
        SkipBlanksAndComments();
        FToken = TToken{};
        FToken.Line = FLine;
        if (FPos >= FText.size()) return;
        const char c = FText[FPos];
        const char after = FPos + 1 < FText.size() ? FText[FPos + 1] : '\0';
        if (IsNameStart(c)) {
            const size_t start = FPos;
            // Dots join the parts of a property path such as Font.Name.
            while (FPos < FText.size() && (IsNameChar(FText[FPos]) || FText[FPos] == '.'))
                ++FPos;
            FToken.Kind = TTokenKind::Name;
            FToken.Text = FText.substr(start, FPos - start);
        } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '$' ||
                   ((c == '-' || c == '+') &&
                    (std::isdigit(static_cast<unsigned char>(after)) || after == '$'))) {
            ScanNumber();
        } else if (c == '\'') {
            ScanString();
        } else if (c == '=' || c == ':' || c == '[' || c == ']' || c == ',' || c == '+') {
            FToken.Kind = TTokenKind::Symbol;
            FToken.Text = std::string(1, c);
            ++FPos;
        } else {
            Fail(FLine, std::string("unexpected character '") + c + "'");
        }
    }

private:
    void SkipBlanksAndComments() {
        while (FPos < FText.size()) {
            const char c = FText[FPos];
            if (c == '\n') {
                ++FLine;
                ++FPos;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++FPos;
            } else if (c == '/' && FPos + 1 < FText.size() && FText[FPos + 1] == '/') {
                while (FPos < FText.size() && FText[FPos] != '\n')
                    ++FPos;
            } else {
                return;
            }
        }
    }

    void ScanNumber() {
        const size_t start = FPos;
        const bool negative = FText[FPos] == '-';
        if (FText[FPos] == '-' || FText[FPos] == '+') ++FPos;
        const bool hex = FText[FPos] == '$';
        if (hex) ++FPos;
        const size_t digits = FPos;
        while (FPos < FText.size() && IsNameChar(FText[FPos]))
            ++FPos;
        uint64_t magnitude = 0;
        const char* last = FText.data() + FPos;
        const auto [end, error] =
            std::from_chars(FText.data() + digits, last, magnitude, hex ? 16 : 10);
        if (end != last || error != std::errc() || magnitude > INT64_MAX)
            Fail(FLine, "bad number '" + FText.substr(start, FPos - start) + "'");
        FToken.Kind = TTokenKind::Integer;
        FToken.Integer =
            negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    }

    // 'text' with '' standing for one quote; a string never spans lines.
    void ScanString() {
        ++FPos;
        FToken.Kind = TTokenKind::String;
        for (;;) {
            if (FPos >= FText.size() || FText[FPos] == '\n' || FText[FPos] == '\r')
                Fail(FToken.Line, "unterminated string");
            if (FText[FPos] == '\'') {
                if (FPos + 1 < FText.size() && FText[FPos + 1] == '\'') {
                    FToken.Text += '\'';
                    FPos += 2;
                    continue;
                }
                ++FPos;
                return;
            }
            FToken.Text += FText[FPos++];
        }
    }

    const std::string& FText;
    size_t FPos = 0;
    int FLine = 1;
    int FPreviousLine = 1;
    TToken FToken;
};

class TLayoutParser {
public:
    explicit TLayoutParser(const std::string& text) : FScanner(text) {}

    TLayoutObject ParseRoot() {
        TLayoutObject root = ParseObject();
        if (Current().Kind != TTokenKind::End)
            Fail(Current().Line, "unexpected text after the final 'end'");
        return root;
    }

private:
    const TToken& Current() const { return FScanner.Current(); }
    bool IsWord(const char* word) const {
        return Current().Kind == TTokenKind::Name && Current().Text == word;
    }
    bool IsSymbol(char symbol) const {
        return Current().Kind == TTokenKind::Symbol && Current().Text[0] == symbol;
    }
    void Expect(char symbol, const std::string& message) {
        if (!IsSymbol(symbol)) Fail(FScanner.PreviousLine(), message);
        FScanner.Next();
    }
    std::string ExpectName(const std::string& message) {
        if (Current().Kind != TTokenKind::Name) Fail(FScanner.PreviousLine(), message);
        std::string name = Current().Text;
        FScanner.Next();
        return name;
    }

    TLayoutObject ParseObject() {
        if (!IsWord("object")) Fail(Current().Line, "expected 'object'");
        TLayoutObject object;
        object.Line = Current().Line;
        FScanner.Next();
        object.Name = ExpectName("expected a component name after 'object'");
        Expect(':', "expected ':' after the component name");
        object.ClassName = ExpectName("expected a class name after ':'");
        for (;;) {
            if (Current().Kind == TTokenKind::End)
                Fail(object.Line, "missing 'end' of object " + object.Name);
            if (IsWord("end")) {
                FScanner.Next();
                return object;
            }
            if (IsWord("object")) {
                object.Children.push_back(ParseObject());
                continue;
            }
            if (Current().Kind != TTokenKind::Name)
                Fail(Current().Line, "expected a property name, 'object' or 'end'");
            TLayoutProperty property;
            property.Name = Current().Text;
            property.Line = Current().Line;
            FScanner.Next();
            Expect('=', "expected '=' after property name");
            property.Value = ParseValue();
            object.Properties.push_back(std::move(property));
        }
    }

    TLayoutValue ParseValue() {
        TLayoutValue value;
        value.Line = Current().Line;
        switch (Current().Kind) {
        case TTokenKind::Integer:
            value.Kind = TLayoutValueKind::Integer;
            value.Integer = Current().Integer;
            FScanner.Next();
            return value;
        case TTokenKind::Name:
            value.Kind = TLayoutValueKind::Identifier;
            value.Text = Current().Text;
            FScanner.Next();
            return value;
        case TTokenKind::String:
            value.Kind = TLayoutValueKind::String;
            value.Text = Current().Text;
            FScanner.Next();
            // Long texts are stored as pieces joined with '+', across lines.
            while (IsSymbol('+')) {
                FScanner.Next();
                if (Current().Kind != TTokenKind::String)
                    Fail(FScanner.PreviousLine(), "expected a string after '+'");
                value.Text += Current().Text;
                FScanner.Next();
            }
            return value;
        default:
            break;
        }
        if (!IsSymbol('[')) Fail(FScanner.PreviousLine(), "expected a value after '='");
        value.Kind = TLayoutValueKind::Set;
        FScanner.Next();
        if (!IsSymbol(']'))
            for (;;) {
                value.Items.push_back(ExpectName("expected a name in the set"));
                if (IsSymbol(']')) break;
                Expect(',', "expected ',' or ']' in the set");
            }
        FScanner.Next();
        return value;
    }

    TLayoutScanner FScanner;
};

} // namespace

TLayoutObject ParseLayout(const std::string& text) {
    return TLayoutParser(text).ParseRoot();
}
