#include "framework/Action.h"

#include "framework/Control.h"

#include <algorithm>

TAction::~TAction() {
    // The controls must not reach back into an action that is going.
    for (TControl* client : FClients)
        client->FAction = nullptr;
}

void TAction::SetImageIndex(int value) {
    if (value == FImageIndex) return;
    FImageIndex = value;
    // A client may unlink itself while it is told.
    for (TControl* client : std::vector<TControl*>(FClients))
        client->ActionChange(this, false);
}

bool TAction::Execute() {
    if (!OnExecute) return false;
    OnExecute(this);
    return true;
}

void TAction::AddClient(TControl* client) {
    if (std::find(FClients.begin(), FClients.end(), client) == FClients.end())
        FClients.push_back(client);
}

void TAction::RemoveClient(TControl* client) {
    FClients.erase(std::remove(FClients.begin(), FClients.end(), client), FClients.end());
}
