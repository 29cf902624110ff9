#include "framework/Component.h"

#include <algorithm>

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    FComponentState |= csDestroying;
    // Tell everyone who asked; each may unsubscribe while being told.
    while (!FFreeNotifies.empty()) {
        TComponent* other = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        auto& back = other->FFreeNotifies;
        back.erase(std::remove(back.begin(), back.end(), this), back.end());
        other->Notification(this, TOperation::opRemove);
    }
    // Owned components go last-created first.
    while (!FComponents.empty()) {
        TComponent* child = FComponents.back();
        delete child; // removes itself from FComponents
    }
    if (FOwner) FOwner->RemoveComponent(this);
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    for (TComponent* c : FComponents)
        if (c->FName == name) return c;
    return nullptr;
}

void TComponent::EndLoading() {
    if (!Loading()) return;
    FComponentState &= ~csLoading;
    Loaded();
}

void TComponent::FreeNotification(TComponent* component) {
    if (!component || component == this) return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) == FFreeNotifies.end())
        FFreeNotifies.push_back(component);
    if (std::find(component->FFreeNotifies.begin(), component->FFreeNotifies.end(), this) ==
        component->FFreeNotifies.end())
        component->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (!component) return;
    FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), component),
                        FFreeNotifies.end());
    auto& other = component->FFreeNotifies;
    other.erase(std::remove(other.begin(), other.end(), this), other.end());
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    // Siblings hear about each other through their owner, so that a reference from one
    // owned component to another never outlives its target.
    if (operation == TOperation::opRemove && component) RemoveFreeNotification(component);
    for (size_t i = 0; i < FComponents.size(); ++i)
        if (FComponents[i] != component) FComponents[i]->Notification(component, operation);
}

void TComponent::InsertComponent(TComponent* component) {
    FComponents.push_back(component);
    component->FOwner = this;
    Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
    FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), component),
                      FComponents.end());
    component->FOwner = nullptr;
    Notification(component, TOperation::opRemove);
}
