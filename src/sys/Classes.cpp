#include "Classes.h"

#include <algorithm>

namespace sys {

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner)
        AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    destroying_ = true;
    // Owned components leave the list themselves while they are destroyed.
    while (!components_.empty())
        delete components_.back();
    if (owner_)
        owner_->RemoveComponent(this);
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::InsertComponent(TComponent* c) {
    components_.push_back(c);
    c->owner_ = this;
    Notification(c, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
    auto it = std::find(components_.begin(), components_.end(), c);
    if (it == components_.end())
        return;
    components_.erase(it);
    c->owner_ = nullptr;
    Notification(c, TOperation::opRemove);
}

}  // namespace sys
