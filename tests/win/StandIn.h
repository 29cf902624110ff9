// The stand-in engine's scripting calls, looked up in the loaded xldl.dll.
#pragma once

#include "engine/XLDownload.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TStandIn {
    HMODULE Module = GetModuleHandleA("xldl.dll");
    template <class F> F Get(const char* name) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(Module, name)));
    }
    void (*Reset)() = Get<void (*)()>("StandIn_Reset");
    void (*SetResults)(uint32_t, uint32_t, TaskHandle) =
        Get<void (*)(uint32_t, uint32_t, TaskHandle)>("StandIn_SetResults");
    void (*QueueQuery)(uint32_t, uint8_t, int64_t, int64_t) =
        Get<void (*)(uint32_t, uint8_t, int64_t, int64_t)>("StandIn_QueueQuery");
    void (*QueueQueryWithError)(uint32_t, uint8_t, int64_t, int64_t, uint32_t) =
        Get<void (*)(uint32_t, uint8_t, int64_t, int64_t, uint32_t)>("StandIn_QueueQueryWithError");
    // Only in the stand-in that declares failure reporting: what XLDL_ReportsFailure answers.
    void (*SetReportsFailure)(uint32_t) = Get<void (*)(uint32_t)>("StandIn_SetReportsFailure");
    // Only there too: the task and URL last given to XLDL_AddMirror (0 and "" when none).
    TaskHandle (*MirrorTask)() = Get<TaskHandle (*)()>("StandIn_MirrorTask");
    const char* (*MirrorUrl)() = Get<const char* (*)()>("StandIn_MirrorUrl");
    // Also only there: the window given to XLDL_SetPromptOwner, now or when XL_UnInit came.
    HWND (*PromptOwner)(bool) = Get<HWND (*)(bool)>("StandIn_PromptOwner");
    int (*CallCount)() = Get<int (*)()>("StandIn_CallCount");
    const char* (*CallName)(int) = Get<const char* (*)(int)>("StandIn_CallName");
    uint32_t (*CallArgument)(int) = Get<uint32_t (*)(int)>("StandIn_CallArgument");
    const uint8_t* (*CallRecord)(int, size_t*) =
        Get<const uint8_t* (*)(int, size_t*)>("StandIn_CallRecord");

    // The names of the calls made so far, in order.
    std::vector<std::string> CallNames() {
        std::vector<std::string> names;
        for (int i = 0; i < CallCount(); ++i)
            names.emplace_back(CallName(i));
        return names;
    }
    // The bytes of the record that call `i` received.
    std::vector<uint8_t> Record(int i) {
        size_t size = 0;
        const uint8_t* bytes = CallRecord(i, &size);
        return {bytes, bytes + size};
    }
};
