#include "audio/MMDSPObj.h"

#include "platform/MessageWindow.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <pthread.h>
#include <vector>

// ---------------------------------------------------------------------------------------
// Process-wide lists. Each exists from the creation of its first member to the destruction
// of its last one.

namespace {

std::mutex gListMutex;
std::unique_ptr<std::vector<TMMDSPComponent*>> gComponents;
std::unique_ptr<std::vector<TMMDSPThread*>> gThreads;

std::vector<TMMDSPComponent*> componentsSnapshot() {
    std::lock_guard<std::mutex> lock(gListMutex);
    return gComponents ? *gComponents : std::vector<TMMDSPComponent*>{};
}

template <typename T>
void addTo(std::unique_ptr<std::vector<T*>>& list, T* item) {
    std::lock_guard<std::mutex> lock(gListMutex);
    if (!list) list = std::make_unique<std::vector<T*>>();
    list->push_back(item);
}

template <typename T>
void removeFrom(std::unique_ptr<std::vector<T*>>& list, T* item) {
    std::lock_guard<std::mutex> lock(gListMutex);
    if (!list) return;
    list->erase(std::remove(list->begin(), list->end(), item), list->end());
    if (list->empty()) list.reset();
}

const std::string kInput = "Input";
const std::string kOutput = "Output";

}  // namespace

size_t DSPComponentCount() {
    std::lock_guard<std::mutex> lock(gListMutex);
    return gComponents ? gComponents->size() : 0;
}

TMMDSPComponent* DSPComponent(size_t index) {
    std::lock_guard<std::mutex> lock(gListMutex);
    return gComponents && index < gComponents->size() ? (*gComponents)[index] : nullptr;
}

size_t DSPThreadCount() {
    std::lock_guard<std::mutex> lock(gListMutex);
    return gThreads ? gThreads->size() : 0;
}

// ---------------------------------------------------------------------------------------
// Buffer header

void TMMWaveHdrDeleter::operator()(TMMWaveHdr* p) const noexcept { std::free(p); }

TMMWaveHdrPtr NewWaveHdr(uint32_t dataSize) {
    const size_t total = sizeof(TMMWaveHdr) + size_t(dataSize);
    void* block = std::calloc(1, total);
    if (!block) throw std::bad_alloc();
    auto* hdr = static_cast<TMMWaveHdr*>(block);
    hdr->wh.lpData = reinterpret_cast<char*>(hdr + 1);
    hdr->wh.dwBufferLength = dataSize;
    return TMMWaveHdrPtr(hdr);
}

// ---------------------------------------------------------------------------------------
// TMMDSPComponent

TMMDSPComponent::TMMDSPComponent(TMMComponent* owner) : TMMCustomDSPComponent(owner) {
    addTo(gComponents, this);
}

TMMDSPComponent::~TMMDSPComponent() {
    MarkDestroying();
    // Every neighbour that still points here unlinks through its own setter, so that the
    // two-way links, the format and the stop reach it the normal way. This also covers links
    // made to a component without the matching property (allow-as-input/output).
    for (TMMDSPComponent* c : componentsSnapshot()) {
        if (c == this) continue;
        if (c->input_ == this) c->SetInput(nullptr);
        if (c->output_ == this) c->SetOutput(nullptr);
    }
    input_ = nullptr;
    output_ = nullptr;
    format_.reset();
    removeFrom(gComponents, this);
}

void TMMDSPComponent::BroadcastLinkChanged(TMMDSPComponent* component, TMMLinkSide side,
                                           const std::string& name) {
    for (TMMDSPComponent* c : componentsSnapshot()) c->LinkChanged(component, side, name);
}

bool TMMDSPComponent::HasLinkProperty(const std::string& name) const {
    if (name == kInput) return HasInputProperty();
    if (name == kOutput) return HasOutputProperty();
    return false;
}

TMMDSPComponent* TMMDSPComponent::LinkByName(const std::string& name) const {
    if (name == kInput) return input_;
    if (name == kOutput) return output_;
    return nullptr;
}

void TMMDSPComponent::LinkChanged(TMMDSPComponent* component, TMMLinkSide side,
                                  const std::string& name) {
    if (!component) return;
    if (side == lsInput) {
        if (component == input_ && inputLinkName_ == name && component->HasLinkProperty(name) &&
            component->LinkByName(name) == this)
            SetInputLink(nullptr, "");
    } else {
        if (component == output_ && outputLinkName_ == name && component->HasLinkProperty(name) &&
            component->LinkByName(name) == this)
            SetOutputLink(nullptr, "");
    }
}

void TMMDSPComponent::SetInput(TMMDSPComponent* value) {
    if (value == input_ || (value && !CanConnectInput(value))) return;
    Stopped();
    if (input_) {
        BroadcastLinkChanged(this, lsOutput, kInput);  // the old Input forgets its Output
        SetInputLink(nullptr, "");
        InputFormatChanged(nullptr);
    }
    if (!value) return;
    BroadcastLinkChanged(value, lsInput, kOutput);  // value's old Output forgets its Input
    SetInputLink(value, kOutput);
    value->SetOutputLink(this, kInput);
    PropagateFormat();
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* value) {
    if (value == output_ || (value && !CanConnectOutput(value))) return;
    Stopped();
    if (output_) {
        BroadcastLinkChanged(this, lsInput, kOutput);  // the old Output forgets its Input
        output_->InputFormatChanged(nullptr);
        SetOutputLink(nullptr, "");
    }
    if (!value) return;
    BroadcastLinkChanged(value, lsOutput, kInput);  // value's old Input forgets its Output
    SetOutputLink(value, kInput);
    value->SetInputLink(this, kOutput);
    PropagateFormat();
}

bool TMMDSPComponent::CanConnectInput(TMMDSPComponent* component) {
    if (!component || component == this) return false;
    if (!component->HasOutputProperty() && !component->allowAsInput_) return false;
    return output_ ? output_->CanConnectInput(component) : true;
}

bool TMMDSPComponent::CanConnectOutput(TMMDSPComponent* component) {
    if (!component || component == this) return false;
    if (!component->HasInputProperty() && !component->allowAsOutput_) return false;
    return input_ ? input_->CanConnectOutput(component) : true;
}

void TMMDSPComponent::SetInputLink(TMMDSPComponent* component, const std::string& name) {
    input_ = component;
    inputLinkName_ = name.substr(0, MaxLinkNameLength);
}

void TMMDSPComponent::SetOutputLink(TMMDSPComponent* component, const std::string& name) {
    output_ = component;
    outputLinkName_ = name.substr(0, MaxLinkNameLength);
}

void TMMDSPComponent::PropagateFormat() {
    if (Quiet()) return;
    if (input_) InputFormatChanged(input_->PWaveFormat());
    else if (output_) output_->InputFormatChanged(PWaveFormat());
}

void TMMDSPComponent::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format != format_.get()) {
        if (started_) Stopped();
        // Copy before releasing: format may point into a neighbour's copy, never into ours.
        TMMWaveFormatPtr copy = CopyFormat(format);
        format_ = std::move(copy);
    }
    if (!Quiet() && output_) output_->InputFormatChanged(PWaveFormat());
}

void TMMDSPComponent::InputFormatChanged(const WAVEFORMATEX* format) { SetPWaveFormat(format); }

void TMMDSPComponent::Loaded() {
    loading_ = false;
    SetPWaveFormat(PWaveFormat());
}

int32_t TMMDSPComponent::BufferSize() const { return opened_ ? realBufferSize_ : bufferSize_; }

void TMMDSPComponent::SetBufferSize(int32_t value) {
    if (started_) Stopped();
    bufferSize_ = value;
}

void TMMDSPComponent::Opened() {
    if (opened_) return;
    const WAVEFORMATEX* f = PWaveFormat();
    // A format without a block alignment cannot size buffers; it counts as no format.
    if (f && f->nBlockAlign > 0) {
        const int32_t align = f->nBlockAlign;
        realBufferSize_ = std::max(bufferSize_ - bufferSize_ % align, align);
    } else {
        realBufferSize_ = bufferSize_;
    }
    opened_ = true;
    started_ = false;
    paused_ = false;
}

void TMMDSPComponent::Closed() { opened_ = false; }

void TMMDSPComponent::Started() {
    if (opened_ && !started_) started_ = true;
}

void TMMDSPComponent::Paused() { paused_ = true; }

void TMMDSPComponent::Restarted() { paused_ = false; }

void TMMDSPComponent::Stopped() {
    if (started_) {
        started_ = false;
        paused_ = false;
    }
}

void TMMDSPComponent::BufferLoad(PMMWaveHdr header, bool& more) {
    if (OnBufferLoad) OnBufferLoad(this, header, more);
    if (input_) input_->BufferLoad(header, more);
    if (AfterLoadProc && header && header->wh.dwBytesRecorded > 0)
        AfterLoadProc(AfterLoadData, this, header);
}

void TMMDSPComponent::BufferReady(PMMWaveHdr header) {
    if (OnBufferReady) OnBufferReady(this, header);
    if (output_) output_->BufferReady(header);
}

// ---------------------------------------------------------------------------------------
// TMMCustomSoundComponent

namespace {
bool isDriver(const TMMDSPComponent* c) {
    return dynamic_cast<const TMMCustomSoundComponent*>(c) != nullptr;
}
}  // namespace

TMMDSPComponent* TMMCustomSoundComponent::FindHead(bool sourceFlagEnds, bool* upstreamDriver) {
    if (upstreamDriver) *upstreamDriver = false;
    TMMDSPComponent* head = this;
    while (head->Input()) {
        head = head->Input();
        if (isDriver(head)) {
            if (upstreamDriver) *upstreamDriver = true;
            return this;
        }
        if (sourceFlagEnds && head->IsSourceComponent()) break;
    }
    return head;
}

void TMMCustomSoundComponent::Notify(TMMDSPComponent* c, TMMNotification what) {
    switch (what) {
    case nOpened:
        c->SetBufferSize(BufferSize());
        c->Opened();
        break;
    case nClosed: c->Closed(); break;
    case nStarted: c->Started(); break;
    case nPaused: c->Paused(); break;
    case nRestarted: c->Restarted(); break;
    case nStopped: c->Stopped(); break;
    case nReset: c->StreamReset(); break;
    case nLooped: c->Looped(); break;
    }
}

void TMMCustomSoundComponent::WalkForward(TMMNotification what) {
    bool upstream = false;
    TMMDSPComponent* head = FindHead(what == nOpened || what == nStarted, &upstream);
    if (what == nOpened) drivenFromUpstream_ = upstream;
    for (TMMDSPComponent* c = head; c; c = c->Output()) {
        if (c == this) continue;
        Notify(c, what);
        if (isDriver(c)) break;
    }
}

void TMMCustomSoundComponent::WalkBackward(TMMNotification what) {
    // The next driver downstream first, then the components this driver feeds or pulls.
    TMMDSPComponent* next = Output();
    while (next && !isDriver(next)) next = next->Output();
    if (next && next != this) Notify(next, what);

    TMMDSPComponent* head = FindHead(false, nullptr);
    for (TMMDSPComponent* c = head; c; c = c->Output()) {
        if (c == this) continue;
        if (isDriver(c)) break;
        Notify(c, what);
    }
}

void TMMCustomSoundComponent::Opened() {
    drivenFromUpstream_ = false;
    WalkForward(nOpened);
    TMMDSPComponent::Opened();
}

void TMMCustomSoundComponent::Started() {
    WalkForward(nStarted);
    TMMDSPComponent::Started();
}

void TMMCustomSoundComponent::Paused() {
    WalkForward(nPaused);
    TMMDSPComponent::Paused();
}

void TMMCustomSoundComponent::Restarted() {
    WalkForward(nRestarted);
    TMMDSPComponent::Restarted();
}

void TMMCustomSoundComponent::StreamReset() {
    WalkForward(nReset);
    TMMDSPComponent::StreamReset();
}

void TMMCustomSoundComponent::Looped() {
    WalkForward(nLooped);
    TMMDSPComponent::Looped();
}

void TMMCustomSoundComponent::Closed() {
    WalkBackward(nClosed);
    TMMDSPComponent::Closed();
}

void TMMCustomSoundComponent::Stopped() {
    WalkBackward(nStopped);
    TMMDSPComponent::Stopped();
}

// ---------------------------------------------------------------------------------------
// Threads

TMMThreadEx::TMMThreadEx() = default;

TMMThreadEx::~TMMThreadEx() {
    Terminate();
    WaitFor();
}

void TMMThreadEx::Resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable() && !finished_) {
        thread_ = std::thread([this] { Run(); });
        return;
    }
    suspended_ = false;
    cv_.notify_all();
}

void TMMThreadEx::Suspend() {
    std::lock_guard<std::mutex> lock(mutex_);
    suspended_ = true;
}

bool TMMThreadEx::Suspended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return suspended_;
}

void TMMThreadEx::Terminate() {
    terminated_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    suspended_ = false;
    cv_.notify_all();
}

bool TMMThreadEx::Held() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_;
}

bool TMMThreadEx::WaitIfSuspended() {
    std::unique_lock<std::mutex> lock(mutex_);
    held_ = true;
    cv_.wait(lock, [this] { return !suspended_ || terminated_; });
    held_ = false;
    return !terminated_;
}

void TMMThreadEx::WaitFor() {
    while (!WaitFor(100)) {
    }
}

bool TMMThreadEx::WaitFor(int32_t timeoutMs) {
    if (!thread_.joinable()) return true;
    if (std::this_thread::get_id() == thread_.get_id()) return false;  // a thread cannot join itself
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const bool mainThread = MessageWindow::IsMainThread();
    while (!finished_) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        const int32_t slice = int32_t(std::min<int64_t>(
            5, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1));
        if (mainThread) MessageWindow::CheckSynchronize(slice);
        else std::this_thread::sleep_for(std::chrono::milliseconds(slice));
    }
    thread_.join();
    return true;
}

void TMMThreadEx::SetPriority(TThreadPriority value) {
    std::lock_guard<std::mutex> lock(mutex_);
    priority_ = value;
    if (thread_.joinable() && !finished_) ::SetPriority(thread_.native_handle(), value);
}

void TMMThreadEx::Synchronize(const std::function<void()>& fn) { MessageWindow::Synchronize(fn); }

void TMMThreadEx::Run() {
    threadId_ = std::this_thread::get_id();
    TThreadPriority priority;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        priority = priority_;
    }
    if (priority != tpNormal) ::SetPriority(pthread_self(), priority);
    try {
        Execute();
    } catch (...) {
        fatal_ = std::current_exception();
    }
    finished_ = true;
}

TMMDSPThread::TMMDSPThread(TMMCustomSoundComponent* owner) : owner_(owner) { addTo(gThreads, this); }

TMMDSPThread::~TMMDSPThread() {
    // Leave the list only once the thread no longer runs.
    Terminate();
    WaitFor();
    removeFrom(gThreads, this);
}

void CallInMainThread(const std::function<void()>& proc) {
    bool marshal = false;
    if (!MessageWindow::IsMainThread()) {
        const std::thread::id self = std::this_thread::get_id();
        std::lock_guard<std::mutex> lock(gListMutex);
        if (gThreads)
            marshal = std::any_of(gThreads->begin(), gThreads->end(),
                                  [self](TMMDSPThread* t) { return t->ThreadID() == self; });
    }
    if (marshal) MessageWindow::Synchronize(proc);
    else proc();
}
