#include "controls/RzBlinkList.h"

#include "framework/Exceptions.h"

#include <algorithm>

TRzBlinkingControlsList* SharedBlinkList = nullptr;

TRzBlinkingControlsList::TRzBlinkingControlsList() {
    FBlinkTimer = std::make_unique<TTimer>(nullptr);
    FBlinkTimer->SetOnTimer([this](TObject* sender) { HandleTick(sender); });
    // The first tick comes one normal-phase length after construction, whatever lengths
    // the labels store later.
    FBlinkTimer->SetInterval(FNormalPhaseMs);
    FBlinkTimer->SetEnabled(true);
}

TRzBlinkingControlsList::~TRzBlinkingControlsList() {
    FBlinkTimer.reset();
}

void TRzBlinkingControlsList::RegisterControl(TControl* control) {
    FRegisteredControls.push_back(control);
}

void TRzBlinkingControlsList::UnregisterControl(TControl* control) {
    auto it = std::find(FRegisteredControls.begin(), FRegisteredControls.end(), control);
    if (it == FRegisteredControls.end()) throw EListError("List index out of bounds (-1)");
    FRegisteredControls.erase(it);
}

void TRzBlinkingControlsList::HandleTick(TObject*) {
    if (FBlinkPhase == 0) {
        FBlinkPhase = 1;
        FBlinkTimer->SetInterval(FBlinkPhaseMs);
    } else {
        FBlinkPhase = 0;
        FBlinkTimer->SetInterval(FNormalPhaseMs);
    }
    const int count = ControlCount();
    for (int i = 0; i < count && i < static_cast<int>(FRegisteredControls.size()); ++i) {
        TControl* control = FRegisteredControls[i];
        if (control->Perform(BlinkQueryMessage, 0, 0) == 1)
            control->Perform(BlinkPhaseMessage, FBlinkPhase, 0);
    }
}

void ReleaseBlinkListIfEmpty() {
    if (SharedBlinkList && SharedBlinkList->ControlCount() == 0) {
        delete SharedBlinkList;
        SharedBlinkList = nullptr;
    }
}
