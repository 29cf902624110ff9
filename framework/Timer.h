// TTimer: ticks OnTimer every Interval milliseconds on the GUI thread, through a system timer
// on a hidden window of its own. Arming (enabling, a new interval, a new handler) starts a
// new period; an interval of 0 never ticks.
#pragma once

#include "framework/Component.h"
#include "framework/WindowTarget.h"

#include <memory>

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;

    unsigned Interval() const { return FInterval; }
    // The same interval again changes nothing (the running period goes on).
    void SetInterval(unsigned interval);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled);
    const TNotifyEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(TNotifyEvent handler);

    // Whether a system timer is running now.
    bool Armed() const { return FArmed; }

protected:
    virtual void Timer();
    // Starts the system timer; false when the system refuses one.
    virtual bool StartSystemTimer(HWND window, unsigned interval);

private:
    void UpdateTimer();

    unsigned FInterval = 1000;
    bool FEnabled = true;
    bool FArmed = false;
    TNotifyEvent FOnTimer;
    std::unique_ptr<TUtilityWindow> FWindow;
};
