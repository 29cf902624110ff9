// The engine's threads: counted from before each starts until its last instruction, so that
// XL_UnInit can tell when every one has ended.
#pragma once

#include <windows.h>

namespace xldl {

// The engine's threads now running.
extern volatile LONG LiveThreads;
// A thread of the engine; the thread's last act is InterlockedDecrement(&LiveThreads). It holds
// the engine loaded while it runs.
HANDLE StartThread(unsigned(__stdcall* main)(void*), void* argument);

} // namespace xldl
