// TComponent: a named object with an owner. The owner frees what it owns; a component that
// asked to be told (FreeNotification) hears when another one goes; loading from a stored
// layout is a state of its own, ended once by Loaded.
#pragma once

#include "framework/Object.h"

#include <cstdint>
#include <string>
#include <vector>

enum TComponentStateFlag : uint32_t {
    csLoading = 1,
    csDesigning = 2,
    csDestroying = 4,
};

enum class TOperation { opInsert, opRemove };

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;

    const std::string& Name() const { return FName; }
    void SetName(const std::string& name) { FName = name; }
    TComponent* Owner() const { return FOwner; }
    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int index) const { return FComponents.at(index); }
    TComponent* FindComponent(const std::string& name) const;

    uint32_t ComponentState() const { return FComponentState; }
    bool Loading() const { return (FComponentState & csLoading) != 0; }
    bool Designing() const { return (FComponentState & csDesigning) != 0; }
    bool Destroying() const { return (FComponentState & csDestroying) != 0; }
    // Entered by the layout reader before it sets the stored properties.
    void BeginLoading() { FComponentState |= csLoading; }
    // Ends the loading state and runs Loaded, once.
    void EndLoading();

    // Asks to be told (Notification with opRemove) when `component` goes.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

protected:
    virtual void Loaded() {}
    virtual void Notification(TComponent* component, TOperation operation);

private:
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);

    std::string FName;
    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
    uint32_t FComponentState = 0;
};
