// A library with the installer's version resource, signed by the maker and saved as an .exe:
// the maker's, but no installer, which the tool must refuse.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
