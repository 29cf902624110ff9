// A library someone left beside the tool under the name of a system library: had it been
// loaded, it leaves a note beside itself ("NAME.dll.loaded"), as any code of its author's would
// have run. It exports nothing, so a program that imports from it fails to start.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8];
        const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            lstrcatW(path, L".loaded");
            const HANDLE note =
                CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (note != INVALID_HANDLE_VALUE) CloseHandle(note);
        }
    }
    return TRUE;
}
