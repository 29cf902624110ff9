#include "framework/Timer.h"

#include "framework/Exceptions.h"

namespace {
constexpr UINT_PTR TimerId = 1;
}

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
    FWindow = std::make_unique<TUtilityWindow>([this](TMessage& m) {
        if (m.Msg != WM_TIMER) return false;
        Timer();
        return true;
    });
}

TTimer::~TTimer() {
    FEnabled = false;
    if (FArmed) KillTimer(FWindow->WindowHandle(), TimerId);
}

void TTimer::SetInterval(unsigned interval) {
    if (interval == FInterval) return;
    FInterval = interval;
    UpdateTimer();
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == FEnabled) return;
    FEnabled = enabled;
    UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
    FOnTimer = std::move(handler);
    UpdateTimer();
}

bool TTimer::StartSystemTimer(HWND window, unsigned interval) {
    return SetTimer(window, TimerId, interval, nullptr) != 0;
}

void TTimer::UpdateTimer() {
    if (FArmed) KillTimer(FWindow->WindowHandle(), TimerId);
    FArmed = false;
    if (FInterval == 0 || !FEnabled || !FOnTimer) return;
    if (!StartSystemTimer(FWindow->WindowHandle(), FInterval))
        throw EOutOfResources("Not enough timers available");
    FArmed = true;
}

void TTimer::Timer() {
    if (FEnabled && FOnTimer) FOnTimer(this);
}
