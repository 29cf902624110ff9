#include "xldl/Threads.h"

namespace xldl {

volatile LONG LiveThreads = 0;

namespace {

struct TThreadStart {
    unsigned(__stdcall* Main)(void*);
    void* Argument;
    HMODULE Module;
};

// Every thread holds the engine loaded until its last instruction: a host may unload it after
// XL_UnInit while a thread is still inside a call that no stop reaches (a flush, a logon).
DWORD WINAPI ThreadMain(void* start) {
    const TThreadStart s = *static_cast<TThreadStart*>(start);
    delete static_cast<TThreadStart*>(start);
    FreeLibraryAndExitThread(s.Module, s.Main(s.Argument));
}

} // namespace

HANDLE StartThread(unsigned(__stdcall* main)(void*), void* argument) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(&ThreadMain)),
                            &module))
        return nullptr;
    InterlockedIncrement(&LiveThreads);
    auto* start = new TThreadStart{main, argument, module};
    const HANDLE thread = CreateThread(nullptr, 0, ThreadMain, start, 0, nullptr);
    if (!thread) {
        delete start;
        InterlockedDecrement(&LiveThreads);
        FreeLibrary(module);
    }
    return thread;
}

} // namespace xldl
