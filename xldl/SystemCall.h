// A call of a system library loaded only when first needed: the proxy resolver's and the
// credential dialog's libraries are not worth loading into every program that loads the
// engine (most never meet an automatic setting or a proxy's question). Kept for the process.
#pragma once

#include <windows.h>

namespace xldl {

// The function `name` of `library` as type F, or null when the system has none.
template <class F> F SystemCall(const char* library, const char* name) {
    const HMODULE module = LoadLibraryA(library);
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                  : nullptr;
}

} // namespace xldl
