// The five calls of xldl.dll. They come from the caller's GUI thread and return at once: a
// task's work runs on its own threads, and a query copies the task's last known state.
#define XLDL_API
#include "xldl/XLEngine.h"

#include "xldl/Proxy.h"
#include "xldl/ProxyAuth.h"
#include "xldl/Socket.h"
#include "xldl/Task.h"
#include "xldl/Threads.h"
#include "xldl/Trace.h"
#include "xldl/UserKey.h"
#include "xldl/core/Url.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace xldl;

namespace {

CRITICAL_SECTION EngineLock;
bool Initialized = false;
TSettings Settings;
TProxySettings Proxies;
std::map<TaskHandle, TTask*> Tasks;
TaskHandle NextHandle = 1;
// Tasks whose threads outlived XL_UnInit's wait: never freed, since a thread still uses them.
std::vector<TTask*> Stragglers;

class TEngineLocked {
public:
    TEngineLocked() { EnterCriticalSection(&EngineLock); }
    ~TEngineLocked() { LeaveCriticalSection(&EngineLock); }
    TEngineLocked(const TEngineLocked&) = delete;
    TEngineLocked& operator=(const TEngineLocked&) = delete;
};

// The user's key is read through the system's data protection, loaded on first use (tens of
// milliseconds, many more on a slow machine): made ready while the window waits for its press,
// so that a task's start does not wait for it.
bool KeyReadied = false;

unsigned __stdcall ReadyKey(void*) {
    UserSealKey();
    InterlockedDecrement(&LiveThreads);
    return 0;
}

std::optional<std::string> Environment(const char* name) {
    char buffer[1024];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return std::nullopt;
    return std::string(buffer, n);
}

// A zero-terminated UTF-16 field of `units` units; the text stops at the end of the field
// should the terminator be missing.
template <size_t N> std::u16string FieldText(const char16_t (&field)[N]) {
    size_t n = 0;
    while (n < N && field[n])
        ++n;
    return std::u16string(field, n);
}

std::wstring Wide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&EngineLock);
    }
    return TRUE;
}

uint32_t __stdcall XL_Init() {
    TEngineLocked l;
    if (Initialized) return 1;
    Settings = LoadSettings(Environment);
    Proxies = LoadProxySettings(Environment);
    TraceOpen(Settings.TracePath);
    if (!NetStartup()) return 0;
    Initialized = true;
    if (!KeyReadied) {
        KeyReadied = true;
        if (const HANDLE thread = StartThread(ReadyKey, nullptr)) CloseHandle(thread);
    }
    return 1;
}

uint32_t __stdcall XL_UnInit() {
    std::map<TaskHandle, TTask*> tasks;
    {
        TEngineLocked l;
        tasks.swap(Tasks);
        Initialized = false;
    }
    for (auto& [handle, task] : tasks)
        task->Cancel();
    // Every wait of a task ends on its cancel event, so its threads end well within this.
    const DWORD start = GetTickCount();
    const DWORD budget = 900;
    for (auto& [handle, task] : tasks) {
        const DWORD spent = GetTickCount() - start;
        if (task->WaitEnded(spent < budget ? budget - spent : 0)) {
            delete task;
        } else {
            TEngineLocked l;
            Stragglers.push_back(task);
        }
    }
    TEngineLocked l;
    if (!Initialized) NetShutdown();
    return 1;
}

TaskHandle __stdcall XL_CreateTask(DownloadTaskParam* param) {
    if (!param) return 0;
    // The block is the caller's only until XL_StartTask returns: take copies now.
    const std::string url = UrlFromUtf16(FieldText(param->TaskUrl));
    const std::wstring fileName = Wide(FieldText(param->FileName));
    const std::wstring folder = Wide(FieldText(param->SavePath));
    const bool manyConnections = param->OptionFlag != 0;
    TEngineLocked l;
    if (!Initialized) return 0;
    const TaskHandle handle = NextHandle++;
    if (NextHandle == 0) NextHandle = 1;
    Tasks[handle] = new TTask(url, folder, fileName, manyConnections, Settings, Proxies);
    if (Tracing()) Trace("task %u created", static_cast<unsigned>(handle));
    return handle;
}

uint32_t __stdcall XL_StartTask(TaskHandle task) {
    TEngineLocked l;
    const auto it = Tasks.find(task);
    if (it == Tasks.end()) return 0;
    return it->second->Start() ? 1 : 0;
}

uint32_t __stdcall XL_QueryTaskInfoEx(TaskHandle task, DownloadTaskInfo* info) {
    if (!info) return 0;
    TEngineLocked l;
    const auto it = Tasks.find(task);
    if (it == Tasks.end()) return 0;
    it->second->Snapshot(*info);
    return 1;
}

// The task's other mirror, beside the URL it was made with (which stays the preferred one);
// between XL_CreateTask and XL_StartTask. A zero-terminated UTF-16 URL, as in the task record.
extern "C" __declspec(dllexport) uint32_t
    __stdcall XLDL_AddMirror(TaskHandle task, const char16_t* url) {
    if (!url) return 0;
    size_t n = 0;
    while (n < 2084 && url[n])
        ++n;
    if (n == 2084) return 0; // longer than any task URL may be
    const std::string text = UrlFromUtf16(std::u16string(url, n));
    TEngineLocked l;
    const auto it = Tasks.find(task);
    if (it == Tasks.end()) return 0;
    return it->second->AddMirror(text) ? 1 : 0;
}

// Failed tasks stay in StateFailed with their reason (engine/XLDownload.h).
extern "C" __declspec(dllexport) uint32_t __stdcall XLDL_ReportsFailure() {
    return 1;
}

// The window that owns the proxy's credential dialog (engine/XLDownload.h).
extern "C" __declspec(dllexport) void __stdcall XLDL_SetPromptOwner(HWND owner) {
    SetPromptOwner(owner);
}

// Where a task's bytes came from (engine/XLDownload.h).
extern "C" __declspec(dllexport) uint32_t
    __stdcall XLDL_DescribeTask(TaskHandle task, char* text, uint32_t capacity) {
    std::string description;
    {
        TEngineLocked l;
        const auto it = Tasks.find(task);
        if (it == Tasks.end()) return 0;
        description = it->second->Describe();
    }
    if (text && capacity) {
        const size_t n = std::min<size_t>(description.size(), capacity - 1);
        std::memcpy(text, description.data(), n);
        text[n] = '\0';
    }
    return static_cast<uint32_t>(description.size());
}

extern "C" __declspec(dllexport) uint32_t __cdecl XLDL_LiveThreads() {
    return static_cast<uint32_t>(LiveThreads);
}
