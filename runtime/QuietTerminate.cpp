// The C++ runtime's default terminate handler names the exception that ended the program, its
// type demangled, on the console. The demangler it brings weighs 46 KB in each binary, and
// neither the window program nor the engine in it has a console. This one says the same, with
// the type's name as the compiler wrote it, to a debugger (OutputDebugString, which Wine
// prints too), and ends the program as the default one does. Defined here, the runtime's own
// (and the demangler with it) is never linked.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <typeinfo>

namespace {

void Append(char* text, size_t capacity, const char* more) {
    const size_t used = std::strlen(text);
    if (used + 1 >= capacity) return;
    std::strncat(text, more, capacity - used - 1);
}

} // namespace

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    static bool terminating = false; // a second call comes from within this one
    if (terminating) std::abort();
    terminating = true;
    char text[512] = "terminate called";
    if (const std::type_info* type = abi::__cxa_current_exception_type()) {
        Append(text, sizeof text, " after throwing an instance of ");
        Append(text, sizeof text, type->name());
        try {
            std::rethrow_exception(std::current_exception());
        } catch (const std::exception& e) {
            Append(text, sizeof text, ": ");
            Append(text, sizeof text, e.what());
        } catch (...) {
        }
    }
    Append(text, sizeof text, "\n");
    OutputDebugStringA(text);
    std::abort();
}

} // namespace __gnu_cxx
