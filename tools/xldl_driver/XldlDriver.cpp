// xldl_driver: downloads one URL into a folder through xldl.dll, as the tool would, and says
// what the engine reports. For trying the engine by hand, its tests and benchmarks.
//
//   xldl_driver URL FOLDER [--name FILE] [--mirror URL] [--single] [--timeout SECONDS] [--quiet]
//
// --mirror gives the task another mirror of the file, as the tool gives it the one not chosen.
//
// Prints each change of state and, twice a second, the progress. Exit code: 0 finished,
// 1 failed, 2 bad arguments or engine not started, 3 timed out (the task is cancelled).
#include "xldl/XLEngine.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

const char* StateName(uint8_t state) {
    switch (state) {
    case StateCreated:
        return "created";
    case StateConnecting:
        return "connecting";
    case StateDownloading:
        return "downloading";
    case StateFinished:
        return "finished";
    case StateFailed:
        return "failed";
    case StateWaiting:
        return "waiting";
    case StateVerifying:
        return "verifying";
    default:
        return "?";
    }
}

// The last path segment of a URL, without query.
std::wstring NameFromUrl(const std::wstring& url) {
    std::wstring path = url.substr(0, url.find_first_of(L"?#"));
    const size_t slash = path.rfind(L'/');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

template <size_t N> bool CopyField(char16_t (&field)[N], const std::wstring& text) {
    if (text.size() >= N) return false;
    for (size_t i = 0; i < text.size(); ++i)
        field[i] = static_cast<char16_t>(text[i]);
    return true;
}

int Usage() {
    std::fprintf(stderr, "usage: xldl_driver URL FOLDER [--name FILE] [--mirror URL] [--single] "
                         "[--timeout SECONDS] [--quiet]\n");
    return 2;
}

} // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return Usage();
    const std::wstring url = argv[1];
    std::wstring folder = argv[2];
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    std::wstring name = NameFromUrl(url);
    std::wstring mirror;
    bool single = false, quiet = false;
    double timeout = 0;
    for (int i = 3; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--name" && i + 1 < argc)
            name = argv[++i];
        else if (a == L"--mirror" && i + 1 < argc)
            mirror = argv[++i];
        else if (a == L"--single")
            single = true;
        else if (a == L"--quiet")
            quiet = true;
        else if (a == L"--timeout" && i + 1 < argc)
            timeout = std::wcstod(argv[++i], nullptr);
        else
            return Usage();
    }
    if (name.empty()) return Usage();

    if (!EngineTrue(XL_Init())) {
        std::fprintf(stderr, "xldl_driver: the engine did not start\n");
        XL_UnInit();
        return 2;
    }
    static DownloadTaskParam param;
    std::memset(&param, 0, sizeof param);
    if (!CopyField(param.TaskUrl, url) || !CopyField(param.FileName, name) ||
        !CopyField(param.SavePath, folder)) {
        XL_UnInit();
        return Usage();
    }
    param.OptionFlag = single ? 0 : 0xFFFFFFFFu;
    const TaskHandle task = XL_CreateTask(&param);
    if (!mirror.empty()) {
        const auto add = reinterpret_cast<TXLAddMirror>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("xldl.dll"), AddMirrorExport)));
        static char16_t other[2084];
        if (!add || !CopyField(other, mirror) || !add(task, other)) {
            std::fprintf(stderr, "xldl_driver: the engine did not take the other mirror\n");
            XL_UnInit();
            return 2;
        }
    }
    if (!EngineTrue(XL_StartTask(task))) {
        std::fprintf(stderr, "xldl_driver: the task did not start\n");
        XL_UnInit();
        return 2;
    }

    const DWORD start = GetTickCount();
    int lastState = -1;
    DWORD lastPrint = 0;
    for (;;) {
        DownloadTaskInfo info;
        if (EngineTrue(XL_QueryTaskInfoEx(task, &info))) {
            const DWORD now = GetTickCount() - start;
            const bool changed = info.State != lastState;
            if (changed || (!quiet && now - lastPrint >= 500)) {
                std::printf(
                    "%7.3f %-11s %lld/%lld conns=%u http=%u restarts=%u\n", now / 1000.0,
                    StateName(info.State), static_cast<long long>(info.DoneSize),
                    static_cast<long long>(info.TotalSize), InfoField(info, InfoConnectionsOffset),
                    InfoField(info, InfoHttpStatusOffset), InfoField(info, InfoRestartsOffset));
                std::fflush(stdout);
                lastState = info.State;
                lastPrint = now;
            }
            if (info.State == StateFinished) {
                std::printf("finished %lld bytes in %.3f s\n",
                            static_cast<long long>(info.TotalSize), now / 1000.0);
                XL_UnInit();
                return 0;
            }
            if (info.State == StateFailed) {
                std::printf("failed error=%u http=%u detail=0x%08X\n",
                            InfoField(info, InfoErrorOffset), InfoField(info, InfoHttpStatusOffset),
                            InfoField(info, InfoDetailOffset));
                XL_UnInit();
                return 1;
            }
        }
        if (timeout > 0 && GetTickCount() - start > timeout * 1000) {
            std::printf("timed out\n");
            XL_UnInit();
            return 3;
        }
        Sleep(50);
    }
}
