// Library base classes without a window: the notifying base object and the non-visual
// component bases, shared by the audio objects, the import chain and the controls
// (common/MMControls.h holds the widget bases).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TMMObject;

// A notification slot: a procedure with its user data, called with the data and the object.
struct TMMNotifySlot {
    std::function<void(void* data, TMMObject* sender)> proc;
    void* data = nullptr;
    explicit operator bool() const { return bool(proc); }
};

// Base object with an update counter. BeginUpdate/EndUpdate bracket a batch of changes so
// that observers hear one Changing before and one Changed after the whole batch.
class TMMObject {
public:
    TMMObject() = default;
    virtual ~TMMObject() = default;
    TMMObject(const TMMObject&) = delete;
    TMMObject& operator=(const TMMObject&) = delete;

    // Raises Changing when the counter is 0, then increments it.
    void BeginUpdate();
    // Decrements the counter (never below 0) and raises Changed when it reaches 0.
    void EndUpdate();
    int32_t UpdateCount() const { return updateCount_; }

    TMMNotifySlot OnChanging;
    TMMNotifySlot OnChanged;

protected:
    // Call their slot only while the counter is 0.
    virtual void Changing();
    virtual void Changed();
    // True raises Changing, False raises Changed.
    virtual void DoChange(bool changing);

private:
    int32_t updateCount_ = 0;
};

// Component base of the component model. Children are non-owning; the owner of a
// component is whoever holds its unique_ptr.
class TMMComponent {
public:
    explicit TMMComponent(TMMComponent* owner = nullptr);
    virtual ~TMMComponent();
    TMMComponent(const TMMComponent&) = delete;
    TMMComponent& operator=(const TMMComponent&) = delete;

    TMMComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }

    // Forwards the design-mode switch to the children.
    virtual void SetDesigning(bool value);
    bool Designing() const { return designing_; }
    // True while the destructor runs (components skip notifications then).
    bool Destroying() const { return destroying_; }

protected:
    // Called on every component that named `component` as a child when it goes away.
    virtual void Notification(TMMComponent* component);
    void MarkDestroying() { destroying_ = true; }

private:
    void InsertChild(TMMComponent* child);
    void RemoveChild(TMMComponent* child);

    TMMComponent* owner_ = nullptr;
    std::vector<TMMComponent*> children_;
    std::string name_;
    bool designing_ = false;
    bool destroying_ = false;
};

class TMMNonVisualComponent : public TMMComponent {
public:
    using TMMComponent::TMMComponent;
};
