// One tool at a time in a user session: the running tool holds a named lock for its whole
// life; a second start finds it taken, brings the running tool's window to the front and ends.
#pragma once

#include <windows.h>

// Per session: another user's tool on the same machine is none of ours.
constexpr const char* InstanceLockName = "Local\\Orlenz.OrlenzDownloader.Running";

// The lock, taken without waiting when made; released when destroyed.
class TInstanceLock {
public:
    explicit TInstanceLock(const char* name);
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // Whether this process holds the lock (also when the system gave no lock at all: nothing
    // then stands in the way).
    bool Owned() const { return FOwned; }
    // Waits up to `timeoutMs` for the holder to end; true once the lock is ours.
    bool Take(DWORD timeoutMs);

private:
    HANDLE FMutex = nullptr;
    bool FOwned = false;
};

// The window of the running tool (another process) that should take the user's attention:
// its main window, or the box it has open over it; null while it shows neither.
HWND RunningToolWindow();

// Brings the running tool forward: restored when minimised (from its taskbar entry or its
// own window), then made the foreground window. The caller is the process the user has just
// started, which the system lets hand on the foreground.
void BringRunningToolForward(HWND window);

// The second start's part: waits up to `patienceMs` for the running tool to show a window
// (it may be starting) and brings it forward: true. False when the lock became ours on the
// way (the running tool ended), so this start goes on as the tool.
bool DeferToRunningTool(TInstanceLock& lock, DWORD patienceMs);
