// TComponent: ownership, names, notification and component state.

#include "host/Classes.h"
#include "host/ClassesUtil.h"

#include <algorithm>
#include <iterator>

namespace orvex {

namespace {

void EraseOne(std::vector<TComponent*>& list, TComponent* component)
{
    const auto it = std::find(list.begin(), list.end(), component);
    if (it != list.end())
        list.erase(it);
}

} // namespace

TComponent::TComponent(TComponent* owner)
{
    if (owner != nullptr)
        owner->InsertComponent(this);
}

TComponent::~TComponent()
{
    Destroying();
    // Tell every component linked by FreeNotification, last linked first. The
    // link is undone on both sides before the call, so a Notification override
    // that does not call the inherited one leaves no pointer to this behind.
    while (!FFreeNotifies.empty()) {
        TComponent* other = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        EraseOne(other->FFreeNotifies, this);
        other->Notification(this, opRemove);
    }
    DestroyComponents();
    if (FOwner != nullptr)
        FOwner->RemoveComponent(this);
}

void TComponent::SetName(const std::string& value)
{
    if (FName == value)
        return;
    if (FOwner != nullptr)
        FOwner->ValidateRename(this, FName, value);
    FName = value;
}

TComponent* TComponent::Components(int index) const
{
    if (index < 0 || index >= ComponentCount())
        detail::ListIndexError(index);
    return FComponents[index];
}

int TComponent::ComponentIndex() const
{
    if (FOwner == nullptr)
        return -1;
    const auto& list = FOwner->FComponents;
    const auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(const std::string& name) const
{
    if (name.empty())
        return nullptr;
    for (TComponent* component : FComponents)
        if (SameText(component->FName, name))
            return component;
    return nullptr;
}

void TComponent::ValidateRename(TComponent* component, const std::string& curName,
                                const std::string& newName) const
{
    if (SameText(curName, newName))
        return;
    TComponent* found = FindComponent(newName);
    if (found != nullptr && found != component)
        throw EComponentError(Format("A component named %s already exists", {newName}));
}

void TComponent::InsertComponent(TComponent* component)
{
    if (component == nullptr || component->FOwner == this)
        return;
    // A named component may not bring a second of its name into this owner.
    ValidateRename(component, "", component->FName);
    if (component->FOwner != nullptr)
        component->FOwner->RemoveComponent(component);
    Insert(component);
    if (HasState(csDesigning))
        component->SetDesigning(true);
    if (HasState(csReading))
        component->MarkLoading();
    Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component)
{
    if (component == nullptr || component->FOwner != this)
        return;
    Notification(component, opRemove);
    Remove(component);
}

void TComponent::DestroyComponents()
{
    while (!FComponents.empty()) {
        TComponent* component = FComponents.back();
        // Components linked by free notification are removed with notice to
        // the owner's other components; the rest silently.
        if (component->HasState(csFreeNotification))
            RemoveComponent(component);
        else
            Remove(component);
        delete component;
    }
}

void TComponent::Insert(TComponent* component)
{
    FComponents.push_back(component);
    component->FOwner = this;
}

void TComponent::Remove(TComponent* component)
{
    // Searched from the end: owners free their components last first.
    const auto it = std::find(FComponents.rbegin(), FComponents.rend(), component);
    if (it != FComponents.rend())
        FComponents.erase(std::next(it).base());
    component->FOwner = nullptr;
}

void TComponent::FreeNotification(TComponent* component)
{
    if (component == nullptr || component == this)
        return;
    // Components of one owner hear of each other through that owner.
    if (FOwner == nullptr || component->FOwner != FOwner) {
        if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) ==
            FFreeNotifies.end()) {
            FFreeNotifies.push_back(component);
            component->FreeNotification(this);
        }
    }
    FComponentState |= csFreeNotification;
}

void TComponent::RemoveFreeNotification(TComponent* component)
{
    if (component == nullptr)
        return;
    UnlinkFreeNotify(component);
    component->UnlinkFreeNotify(this);
}

void TComponent::UnlinkFreeNotify(TComponent* component)
{
    EraseOne(FFreeNotifies, component);
}

void TComponent::Notification(TComponent* component, TOperation operation)
{
    if (operation == opRemove && component != nullptr)
        UnlinkFreeNotify(component);
    // Pass it on to the owned components; indexed, as a receiver may free
    // one of them.
    for (std::size_t i = 0; i < FComponents.size(); ++i)
        FComponents[i]->Notification(component, operation);
}

void TComponent::SetDesigning(bool value)
{
    if (value)
        FComponentState |= csDesigning;
    else
        FComponentState &= ~static_cast<unsigned>(csDesigning);
    for (TComponent* component : FComponents)
        component->SetDesigning(value);
}

void TComponent::MarkLoading()
{
    FComponentState |= csLoading | csReading;
    for (TComponent* component : FComponents)
        component->MarkLoading();
}

void TComponent::CollectLoading(std::vector<TComponent*>& list)
{
    if (HasState(csLoading))
        list.push_back(this);
    for (TComponent* component : FComponents)
        component->CollectLoading(list);
}

void TComponent::BeginLoading()
{
    MarkLoading();
}

void TComponent::EndLoading()
{
    // As a reader finishes a stream: reading ends everywhere first, then
    // every component that was loading hears Loaded, the owner first.
    std::vector<TComponent*> loading;
    CollectLoading(loading);
    for (TComponent* component : loading)
        component->FComponentState &= ~static_cast<unsigned>(csReading);
    for (TComponent* component : loading)
        component->Loaded();
}

void TComponent::Loaded()
{
    FComponentState &= ~static_cast<unsigned>(csLoading);
}

void TComponent::Destroying()
{
    if (HasState(csDestroying))
        return;
    FComponentState |= csDestroying;
    for (TComponent* component : FComponents)
        component->Destroying();
}

} // namespace orvex
