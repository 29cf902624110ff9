// The one blink scheduler of the process: a single timer alternates a blink phase and a
// normal phase and, at each change, asks every registered control whether it blinks and
// tells those that do which phase has begun. Created by the first styled label, destroyed
// when the last one unregisters; it never owns the controls it lists.
#pragma once

#include "framework/Control.h"
#include "framework/Timer.h"

#include <cstdint>
#include <memory>
#include <vector>

class TRzBlinkingControlsList : public TObject {
public:
    TRzBlinkingControlsList();
    ~TRzBlinkingControlsList() override;

    void RegisterControl(TControl* control);
    // Removes the first entry for `control`; one that is not listed is a list index error.
    void UnregisterControl(TControl* control);
    virtual int ControlCount() const { return static_cast<int>(FRegisteredControls.size()); }

    // The timer's event: switch phase, re-arm for the new phase's length, tell the blinkers.
    void HandleTick(TObject* sender);

    uint8_t BlinkPhase() const { return FBlinkPhase; }
    const std::vector<TControl*>& RegisteredControls() const { return FRegisteredControls; }
    TTimer& BlinkTimer() { return *FBlinkTimer; }
    // Phase lengths in milliseconds; a new length takes effect when the next tick re-arms.
    uint16_t NormalPhaseMs() const { return FNormalPhaseMs; }
    void SetNormalPhaseMs(uint16_t ms) { FNormalPhaseMs = ms; }
    uint16_t BlinkPhaseMs() const { return FBlinkPhaseMs; }
    void SetBlinkPhaseMs(uint16_t ms) { FBlinkPhaseMs = ms; }

private:
    uint8_t FBlinkPhase = 1;
    std::vector<TControl*> FRegisteredControls;
    std::unique_ptr<TTimer> FBlinkTimer;
    uint16_t FNormalPhaseMs = 500;
    uint16_t FBlinkPhaseMs = 500;
};

// The scheduler while any styled label exists, else null.
extern TRzBlinkingControlsList* SharedBlinkList;

// Destroys the shared scheduler when no control is registered any more.
void ReleaseBlinkListIfEmpty();
