#include "app/SingleInstance.h"

#include "app/UnitOfZQX.h"
#include "framework/ProgramText.h"

#include <string>
#include <vector>

TInstanceLock::TInstanceLock(const char* name) {
    FMutex = CreateMutexA(nullptr, FALSE, name);
    FOwned = !FMutex || Take(0);
}

TInstanceLock::~TInstanceLock() {
    if (!FMutex) return;
    if (FOwned) ReleaseMutex(FMutex);
    CloseHandle(FMutex);
}

bool TInstanceLock::Take(DWORD timeoutMs) {
    if (FOwned) return true;
    // Abandoned: the holder ended without letting go (killed); the lock is ours all the same.
    const DWORD result = WaitForSingleObject(FMutex, timeoutMs);
    FOwned = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    return FOwned;
}

namespace {

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Read as UTF-16: the tool's title in the system's code page would not be its title.
std::wstring TitleOf(HWND window) {
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    return title;
}

// The top-level windows of other processes.
std::vector<HWND> ForeignTopLevelWindows() {
    struct TCollect {
        DWORD Self = GetCurrentProcessId();
        std::vector<HWND> Windows;
        static BOOL CALLBACK Add(HWND window, LPARAM param) {
            auto& c = *reinterpret_cast<TCollect*>(param);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process != c.Self) c.Windows.push_back(window);
            return TRUE;
        }
    } collect;
    EnumWindows(TCollect::Add, reinterpret_cast<LPARAM>(&collect));
    return collect.Windows;
}

DWORD ProcessOf(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

} // namespace

HWND RunningToolWindow() {
    const std::vector<HWND> windows = ForeignTopLevelWindows();
    // The tool is known by its taskbar entry or its main window, both titled as the tool.
    HWND entry = nullptr, main = nullptr;
    for (HWND w : windows) {
        if (TitleOf(w) != ToWide(ApplicationTitle)) continue;
        const std::string cls = ClassOf(w);
        if (cls == "TApplication" && !entry) entry = w;
        if (cls == "TForm" && !main) main = w;
    }
    if (!entry && !main) return nullptr;
    const DWORD tool = ProcessOf(entry ? entry : main);
    // Minimised from its taskbar entry, the tool's windows are hidden with it.
    if (entry && IsIconic(entry)) return main ? main : entry;
    if (main && IsIconic(main)) return main;
    // While a box is open over the window, the window takes no input: the box is the one.
    HWND box = nullptr;
    for (HWND w : windows) {
        if (ProcessOf(w) != tool || !IsWindowVisible(w) || !IsWindowEnabled(w)) continue;
        if (w == main) return main;
        if (ClassOf(w) == "#32770" && !box) box = w;
    }
    return box;
}

void BringRunningToolForward(HWND window) {
    // From the outermost owner in: restoring an owner shows again what it hid when minimised.
    std::vector<HWND> chain;
    for (HWND w = window; w; w = GetWindow(w, GW_OWNER))
        chain.insert(chain.begin(), w);
    // Asked of the tool itself, as its taskbar entry would: its own thread then also shows
    // again the windows that minimising hid, which no other process can do for it.
    for (HWND w : chain)
        if (IsIconic(w))
            SendMessageTimeoutA(w, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
    SetForegroundWindow(window);
}

bool DeferToRunningTool(TInstanceLock& lock, DWORD patienceMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND window = RunningToolWindow()) {
            BringRunningToolForward(window);
            return true;
        }
        if (lock.Take(50)) return false;
        // A tool that holds the lock and never shows a window: still one tool at a time.
        if (GetTickCount() - start > patienceMs) return true;
    }
}
