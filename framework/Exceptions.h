// The framework's error type: an exception with a message text (8-bit, ANSI code page).
// Anything thrown inside a window procedure or an event handler ends up in the application's
// error box, never in the system.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// The system refused a resource (a timer, a window, a GDI object).
class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

// An index outside a list.
class EListError : public Exception {
public:
    using Exception::Exception;
};

// A stored layout that cannot be read.
class EReadError : public Exception {
public:
    using Exception::Exception;
};

// The text the error box shows for a message: a full stop is added when the message is not
// empty and its last byte has a code above that of the full stop: a message ending in a
// letter, a digit or a Chinese character gets one; one ending in '.', '!', ')' or a space not.
inline std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}
