// What the C++ library's faults become in our binaries (see LibraryErrors.cpp).
#pragma once

#include <exception>

// A fault the C++ library met, with its message.
class TLibraryError : public std::exception {
public:
    explicit TLibraryError(const char* message);
    const char* what() const noexcept override { return Text; }

    char Text[256];
};

#if !__cpp_exceptions
// Ends the process as an uncaught exception would, after telling a debugger `message`.
[[noreturn]] void NoExceptionsFailure(const char* message);
#endif
