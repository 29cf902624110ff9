#include "runtime/SystemLibrary.h"

#include <delayimp.h>

#include <string>

namespace {

// What system libraries load in turn by a bare name, late (their own delay imports), after the
// program has set where libraries come from: Windows 7 without its loader update, which has no
// SetDefaultDllDirectories, looks for such a name beside the program first, and so does Wine
// (a builtin library's delay import searches the program's initial path, whatever the default
// directories say). A library already loaded is taken by its name, wherever it came from: so
// these are loaded from the system folder first, before what brings them in. Found by tracing
// every load of a whole run (docs/defences.md).
struct TBringsIn {
    const char* Library;
    const char* First[2];
} const BringsIn[] = {
    {"comctl32.dll", {"uxtheme.dll"}},                 // its themed drawing, when first asked
    {"wintrust.dll", {"dbghelp.dll", "imagehlp.dll"}}, // the image's hash; imagehlp needs dbghelp
};

HMODULE LoadFromSystemFolder(const char* name) {
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    std::wstring path(folder, n);
    path += L'\\';
    for (const char* c = name; *c; ++c)
        path += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    // What it imports in turn is looked for beside it first: in the system folder too.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

HMODULE LoadSystemLibrary(const char* name) {
    for (const TBringsIn& b : BringsIn)
        if (lstrcmpiA(b.Library, name) == 0)
            for (const char* first : b.First)
                if (first) LoadFromSystemFolder(first);
    return LoadFromSystemFolder(name);
}

void KeepLibrariesToTheSystemFolder() {
    SetDllDirectoryW(L"");
    using TSetDefault = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<TSetDefault>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

namespace {

FARPROC WINAPI LateImport(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(LoadSystemLibrary(info->szDll)));
}

} // namespace

// The delay-load helper asks this before it loads a library itself (declared by its header).
PfnDliHook __pfnDliNotifyHook2 = LateImport;
