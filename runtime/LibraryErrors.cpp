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
#include <cstdio>
#include <cstdlib>
#include <new>
#include <typeinfo>

namespace {

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
    std::snprintf(Text, sizeof Text, "%s", message ? message : "");
}
#else
void NoExceptionsFailure(const char* message) {
    char text[300];
    std::snprintf(text, sizeof text, "terminate called: %s\n", message);
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
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Raise(text);
}

} // namespace std
