#include "common/MMObj.h"

#include <algorithm>

void TMMObject::BeginUpdate() {
    if (updateCount_ == 0) DoChange(true);
    ++updateCount_;
}

void TMMObject::EndUpdate() {
    if (updateCount_ > 0) --updateCount_;
    if (updateCount_ == 0) DoChange(false);
}

void TMMObject::Changing() {
    if (updateCount_ == 0 && OnChanging) OnChanging.proc(OnChanging.data, this);
}

void TMMObject::Changed() {
    if (updateCount_ == 0 && OnChanged) OnChanged.proc(OnChanged.data, this);
}

void TMMObject::DoChange(bool changing) {
    if (changing) Changing();
    else Changed();
}

TMMComponent::TMMComponent(TMMComponent* owner) : owner_(owner) {
    if (owner_) owner_->InsertChild(this);
}

TMMComponent::~TMMComponent() {
    destroying_ = true;
    for (TMMComponent* child : children_) child->owner_ = nullptr;
    if (owner_) {
        owner_->Notification(this);
        owner_->RemoveChild(this);
    }
}

void TMMComponent::SetDesigning(bool value) {
    designing_ = value;
    for (TMMComponent* child : children_) child->SetDesigning(value);
}

void TMMComponent::Notification(TMMComponent*) {}

void TMMComponent::InsertChild(TMMComponent* child) { children_.push_back(child); }

void TMMComponent::RemoveChild(TMMComponent* child) {
    children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
}
