// The system's own libraries, from the system folder only. Windows looks for a library that is
// not a Known DLL in the program's own folder first, and the tool is run from the Downloads
// folder, where a web page can leave a file unasked: a library of that name there would run
// with the tool's rights, and with the installer's once elevated. So the shipped binaries
// import only Known DLLs (and the engine) at load time, and load the rest here, by their full
// path: the delay-load helper's hook sends every late import through this too.
#pragma once

#include <windows.h>

// `name` (as "crypt32.dll") from the system folder, or null.
HMODULE LoadSystemLibrary(const char* name);

// The function `name` of the system library `library`, as type F, or null when the system has
// none. The library stays loaded for the process.
template <class F> F SystemFunction(const char* library, const char* name) {
    const HMODULE module = LoadSystemLibrary(library);
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                  : nullptr;
}

// For the program, as the first thing it does: later loads (its own and those the system's
// libraries make on its behalf) look in the system folder only, where the system can say so;
// and nowhere in the current folder on any system.
void KeepLibrariesToTheSystemFolder();
