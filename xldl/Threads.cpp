#include "xldl/Threads.h"

#include <process.h>

#include <cstdint>

namespace xldl {

volatile LONG LiveThreads = 0;

HANDLE StartThread(unsigned(__stdcall* main)(void*), void* argument) {
    InterlockedIncrement(&LiveThreads);
    const uintptr_t thread = _beginthreadex(nullptr, 0, main, argument, 0, nullptr);
    if (!thread) InterlockedDecrement(&LiveThreads);
    return reinterpret_cast<HANDLE>(thread);
}

} // namespace xldl
