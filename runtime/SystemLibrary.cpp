#include "runtime/SystemLibrary.h"

#include <delayimp.h>

#include <string>

HMODULE LoadSystemLibrary(const char* name) {
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
