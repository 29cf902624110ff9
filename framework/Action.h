// TAction: something the user can do, kept apart from the controls that offer it. It carries
// the image that stands for it (an index into the image list of whoever shows it) and what
// runs when it is carried out. Controls that are linked to it hear when its image changes.
#pragma once

#include "framework/Component.h"

#include <vector>

class TControl;

class TAction : public TComponent {
public:
    explicit TAction(TComponent* owner) : TComponent(owner) {}
    ~TAction() override;

    int ImageIndex() const { return FImageIndex; }
    // Tells every linked control.
    void SetImageIndex(int value);

    // Runs OnExecute; false when there is nothing to run.
    virtual bool Execute();
    TNotifyEvent OnExecute;

private:
    friend class TControl;
    void AddClient(TControl* client);
    void RemoveClient(TControl* client);

    int FImageIndex = -1;
    std::vector<TControl*> FClients;
};
