// A library, signed by the maker and saved as "not-a-program.exe": a file the signature check
// passes but the shell cannot start, for the tests of a start that fails.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
