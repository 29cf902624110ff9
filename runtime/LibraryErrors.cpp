// The C++ library reports the faults it meets (a string grown past its limit, an index out of
// range, an empty function called) through these calls. Its own versions throw its standard
// types, whose copy-on-write message strings bring about 50 KB of the library into a binary.
// Defined here, they are never linked. Where exceptions are on (the program) the faults throw
// one small type, which every handler of ours catches as a std::exception with the library's
// message; where they are off (the engine), they end the process as an exception nobody
// catches does, after telling a debugger why.
#include "runtime/LibraryErrors.h"

#include <windows.h>

#include <bits/functexcept.h>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>
#include <typeinfo>

namespace {

// Appends `more` to the text in `text` (of `capacity` bytes), cut to fit.
void Append(char* text, size_t capacity, const char* more) {
    size_t used = std::strlen(text);
    while (*more && used + 1 < capacity)
        text[used++] = *more++;
    text[used] = '\0';
}

// The library's messages carry only %s and %zu (its own formatter knows no more): formatted
// here without printf, whose formatter would otherwise come into the program for these alone.
void Format(char* text, size_t capacity, const char* format, va_list args) {
    text[0] = '\0';
    for (const char* f = format; *f; ++f) {
        char piece[24] = {f[0], '\0'};
        if (f[0] == '%' && f[1] == 's') {
            Append(text, capacity, va_arg(args, const char*));
            ++f;
            continue;
        }
        if (f[0] == '%' && (f[1] == 'z' || f[1] == 'l') && f[2] == 'u') {
            size_t n = f[1] == 'z' ? va_arg(args, size_t) : va_arg(args, unsigned long);
            char* p = piece + sizeof piece - 1;
            *p = '\0';
            do {
                *--p = static_cast<char>('0' + n % 10);
            } while (n /= 10);
            Append(text, capacity, p);
            f += 2;
            continue;
        }
        if (f[0] == '%' && f[1] == '%') ++f;
        Append(text, capacity, piece);
    }
}

[[noreturn]] void Raise(const char* message) {
#if __cpp_exceptions
    throw TLibraryError(message);
#else
    NoExceptionsFailure(message);
#endif
}

// The types that carry no message stay the library's own where they can be thrown.
template <class E> [[noreturn]] void RaiseType(const char* message) {
#if __cpp_exceptions
    (void)message;
    throw E();
#else
    NoExceptionsFailure(message);
#endif
}

} // namespace

#if __cpp_exceptions
TLibraryError::TLibraryError(const char* message) {
    Text[0] = '\0';
    Append(Text, sizeof Text, message ? message : "");
}
#else
void NoExceptionsFailure(const char* message) {
    char text[300] = "terminate called: ";
    Append(text, sizeof text, message);
    Append(text, sizeof text, "\n");
    OutputDebugStringA(text);
    std::abort();
}
#endif

namespace std {

void __throw_bad_exception() {
    RaiseType<bad_exception>("std::bad_exception");
}
void __throw_bad_alloc() {
    RaiseType<bad_alloc>("std::bad_alloc");
}
void __throw_bad_array_new_length() {
    RaiseType<bad_array_new_length>("bad array new length");
}
void __throw_bad_cast() {
    RaiseType<bad_cast>("std::bad_cast");
}
void __throw_bad_typeid() {
    RaiseType<bad_typeid>("std::bad_typeid");
}
void __throw_logic_error(const char* s) {
    Raise(s);
}
void __throw_domain_error(const char* s) {
    Raise(s);
}
void __throw_invalid_argument(const char* s) {
    Raise(s);
}
void __throw_length_error(const char* s) {
    Raise(s);
}
void __throw_out_of_range(const char* s) {
    Raise(s);
}
void __throw_runtime_error(const char* s) {
    Raise(s);
}
void __throw_range_error(const char* s) {
    Raise(s);
}
void __throw_overflow_error(const char* s) {
    Raise(s);
}
void __throw_underflow_error(const char* s) {
    Raise(s);
}
void __throw_bad_function_call() {
    Raise("bad_function_call");
}

void __throw_out_of_range_fmt(const char* format, ...) {
    char text[sizeof TLibraryError::Text];
    va_list args;
    va_start(args, format);
    Format(text, sizeof text, format, args);
    va_end(args);
    Raise(text);
}

} // namespace std
