// The text of a stored layout read into a tree: objects with a name and a class, their
// properties in file order and their children. Only the syntax is checked here; which classes
// and properties exist is the layout reader's business. Strings keep the file's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class TLayoutValueKind { Integer, String, Identifier, Set };

struct TLayoutValue {
    TLayoutValueKind Kind = TLayoutValueKind::Integer;
    int64_t Integer = 0;
    std::string Text;               // a string's bytes or an identifier
    std::vector<std::string> Items; // the names of a set
    int Line = 0;
};

struct TLayoutProperty {
    std::string Name; // may be dotted: Font.Name
    TLayoutValue Value;
    int Line = 0;
};

struct TLayoutObject {
    std::string Name, ClassName;
    int Line = 0;
    std::vector<TLayoutProperty> Properties;
    std::vector<TLayoutObject> Children;
};

// Reads one top object; an EReadError names the line of the first fault.
TLayoutObject ParseLayout(const std::string& text);
