#include "import/MMTrigg.h"

#include "audio/MMUtils.h"
#include "common/ScopeExit.h"
#include "platform/Event.h"
#include "platform/MessageWindow.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kMinBufferSize = 32;
constexpr int32_t kThreadTimeoutMs = 5000;

std::string WithPrefix(const char* prefix, TMMLibMessage message) {
    return std::string(prefix) + "\n\r" + LibraryMessage(message);
}

bool SameFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
    if (!a || !b) return a == b;
    const int32_t size = FormatSize(a);
    return size == FormatSize(b) && std::memcmp(a, b, size_t(size)) == 0;
}

std::string CurrentErrorText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace

std::string TriggerOpenError() { return WithPrefix("TriggerOpen:", lmInvalidWaveFormat); }
std::string TriggerStartError() { return WithPrefix("TriggerStart:", lmUnableToStartDevice); }
std::string TriggerThreadError() { return WithPrefix("Trigger:", lmCouldNotCreateThread); }

// ---------------------------------------------------------------------------------------
// The worker thread: waits for the trigger or the stop signal, runs one buffer cycle per
// trigger and triggers itself again, so that the cycles follow each other until a stop.

class TMMTrigger::Worker : public TMMDSPThread {
public:
    explicit Worker(TMMTrigger* owner) : TMMDSPThread(owner), trigger_(owner) {}
    ~Worker() override {
        Terminate();
        SignalStop();
        WaitFor();
    }

    void SignalTrigger() { Signal(triggerSet_); }
    void SignalStop() { Signal(stopSet_); }
    void ClearTrigger() {
        std::lock_guard<std::mutex> lock(mutex_);
        triggerSet_ = false;
    }

    Event ready;

protected:
    void Execute() override {
        ready.Set();
        bool failed = false;
        try {
            while (!Terminated()) {
                if (!WaitTriggerOrStop()) break;
                if (!WaitIfSuspended()) break;
                if (!trigger_->Stopping()) trigger_->Cycle();
                if (trigger_->Stopping()) continue;
                const int32_t interval = trigger_->Interval();
                if (interval > 0) std::this_thread::sleep_for(std::chrono::milliseconds(interval));
                else std::this_thread::yield();
                if (!trigger_->Stopping()) SignalTrigger();
            }
        } catch (...) {
            failed = true;
            trigger_->WorkerFailure(CurrentErrorText());
        }
        if (!failed) ready.Set();
    }

private:
    void Signal(bool& flag) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            flag = true;
        }
        cv_.notify_one();
    }
    // Consumes the trigger signal (true) or the stop signal (false); the stop wins.
    bool WaitTriggerOrStop() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return triggerSet_ || stopSet_; });
        if (stopSet_) {
            stopSet_ = false;
            return false;
        }
        triggerSet_ = false;
        return true;
    }

    TMMTrigger* trigger_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool triggerSet_ = false;
    bool stopSet_ = false;
};

// ---------------------------------------------------------------------------------------

TMMTrigger::TMMTrigger(TMMComponent* owner) : TMMCustomSoundComponent(owner) {}

TMMTrigger::~TMMTrigger() {
    try {
        Close();
        if (IsTriggerOpen()) {
            // A cycle was still running: let it end, then finish the stop and the close now
            // instead of waiting for the posted message.
            for (;;) {
                {
                    std::lock_guard<std::mutex> lock(lock_);
                    if (busyCount_ == 0) break;
                }
                if (MessageWindow::IsMainThread()) MessageWindow::CheckSynchronize(5);
                else std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            closePending_ = true;
            Stop();
            if (IsTriggerOpen()) Close();
        }
    } catch (...) {
    }
    worker_.reset();
    lostWorkers_.clear();
    window_.reset();
}

void TMMTrigger::SetBufferSize(int32_t value) {
    if (IsTriggerOpen()) throw EMMTriggerError(LibraryMessage(lmChangeWhileOpen));
    TMMCustomSoundComponent::SetBufferSize(value < kMinBufferSize ? kMinBufferSize : value);
}

int64_t TMMTrigger::BytesPassed() const {
    std::lock_guard<std::mutex> lock(lock_);
    return bytesPassed_;
}

int64_t TMMTrigger::Position() const {
    const int64_t bytes = BytesPassed();
    switch (timeFormat_) {
    case tfMillisecond: return BytesToMs64(PWaveFormat(), bytes);
    case tfSample: return BytesToSamples64(PWaveFormat(), bytes);
    case tfByte: break;
    }
    return bytes;
}

std::string TMMTrigger::WorkerError() const {
    std::lock_guard<std::mutex> lock(lock_);
    return workerError_;
}

bool TMMTrigger::Stopping() const {
    std::lock_guard<std::mutex> lock(lock_);
    return stopping_;
}

void TMMTrigger::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (IsTriggerOpen()) {
        // The chain re-announces its format while it opens; only a real change closes, and
        // not in the middle of the opening walk (the sink takes the format at its turn).
        if (SameFormat(format, PWaveFormat())) return;
        if (!opening_) Close();
    }
    TMMCustomSoundComponent::SetPWaveFormat(format);
}

// --- Errors ----------------------------------------------------------------------------

void TMMTrigger::RaiseError() {
    if (OnError) OnError(this);
}

void TMMTrigger::FailAndClose() {
    try {
        RaiseError();
    } catch (...) {
    }
    Close();
    if (IsTriggerOpen()) {
        // A stop was pending while the error struck; nothing runs any more, so finish now.
        closePending_ = true;
        Stop();
    }
    state_ = 0;
}

// --- Open and close --------------------------------------------------------------------

void TMMTrigger::Open() {
    if (!PWaveFormat()) {
        RaiseError();
        Close();
        state_ = 0;
        throw EMMTriggerError(TriggerOpenError());
    }
    if (IsTriggerOpen()) Close();
    if (IsTriggerOpen() || closing_) return;
    {
        auto undo = ScopeExit([this] {
            opening_ = false;
            FailAndClose();
        });
        {
            std::lock_guard<std::mutex> lock(lock_);
            stopping_ = false;
            stopPending_ = false;
            busyCount_ = 0;
        }
        closing_ = false;
        closePending_ = false;
        if (!window_)
            window_ = std::make_unique<MessageWindow>(
                [this](uint32_t msg, uintptr_t, intptr_t) { WindowProc(msg); });
        // Open from here on, so that a failure below undoes what the walk opened.
        state_ = trsOpen;
        opening_ = true;
        TMMCustomSoundComponent::Opened();
        opening_ = false;
        StartWorker();
        headerSize_ = uint32_t(BufferSize());
        header_ = NewWaveHdr(headerSize_);
        undo.Dismiss();
    }
    if (OnOpen) OnOpen(this);
}

void TMMTrigger::Close() {
    if (!IsTriggerOpen()) return;
    if (closing_ && !closePending_) return;
    closing_ = true;
    try {
        if (State() & (trsStarted | trsPaused)) {
            Stop();
            bool pending;
            {
                std::lock_guard<std::mutex> lock(lock_);
                pending = stopPending_;
            }
            if (pending) {
                closePending_ = true;  // the pending stop closes
                return;
            }
        }
        closePending_ = false;
        state_ = 0;
        TMMCustomSoundComponent::Closed();
        StopWorker();
        header_.reset();
        closing_ = false;
        if (OnClose) OnClose(this);
    } catch (...) {
        closing_ = false;
        closePending_ = false;
        state_ = 0;
        StopWorker();
        header_.reset();
    }
}

void TMMTrigger::StartWorker() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        workerFailed_ = false;
        workerError_.clear();
    }
    try {
        worker_ = std::make_unique<Worker>(this);
        worker_->Resume();
    } catch (const std::system_error&) {
        worker_.reset();
        throw EMMTriggerError(TriggerThreadError());
    }
    if (!worker_->ready.WaitFor(kThreadTimeoutMs)) throw EMMTriggerError(TriggerThreadError());
}

void TMMTrigger::StopWorker() {
    if (!worker_) return;
    worker_->Resume();  // ends a pause
    worker_->SignalStop();
    if (!worker_->WaitFor(kThreadTimeoutMs)) {
        // Still busy (a long Interval): it ends by itself once it sees the stop; the
        // destructor joins it.
        worker_->Terminate();
        lostWorkers_.push_back(std::move(worker_));
    }
    worker_.reset();
}

// --- Start, pause, restart, stop --------------------------------------------------------

void TMMTrigger::Start() {
    if (!IsTriggerOpen()) Open();  // reports and closes on its own failure
    if (!IsTriggerOpen() || IsTriggerStarted()) return;
    {
        auto undo = ScopeExit([this] { FailAndClose(); });
        {
            // Cycles stay held off (Stopping) until the first buffer is in the header.
            std::lock_guard<std::mutex> lock(lock_);
            bytesPassed_ = 0;
            busyCount_ = 0;
            stopPending_ = false;
            stopping_ = true;
        }
        worker_->ClearTrigger();
        window_->RemovePending(MM_STOPMESSAGE);
        TMMCustomSoundComponent::Started();
        moreBuffers_ = true;
        state_ |= trsStarted;
        const int32_t bytes = LoadBuffer();
        if (bytes > 0 && OnBufferFilled) OnBufferFilled(this, header_.get());
        if (bytes <= 0) {
            TMMCustomSoundComponent::Stopped();
            state_ &= ~uint32_t(trsStarted | trsPaused);
            throw EMMTriggerError(TriggerStartError());
        }
        {
            std::lock_guard<std::mutex> lock(lock_);
            stopping_ = false;
        }
        if (!IsTriggerPaused()) worker_->SignalTrigger();
        undo.Dismiss();
    }
    if (OnStart) OnStart(this);
}

void TMMTrigger::Pause() {
    if (!IsTriggerOpen()) Open();
    if (!IsTriggerStarted() || IsTriggerPaused()) return;
    {
        auto undo = ScopeExit([this] { FailAndClose(); });
        {
            std::lock_guard<std::mutex> lock(lock_);
            worker_->Suspend();
        }
        state_ |= trsPaused;
        TMMCustomSoundComponent::Paused();
        undo.Dismiss();
    }
    if (OnPause) OnPause(this);
}

void TMMTrigger::Restart() {
    if (!IsTriggerStarted() || !IsTriggerPaused()) return;
    {
        auto undo = ScopeExit([this] { FailAndClose(); });
        worker_->Resume();
        state_ &= ~uint32_t(trsPaused);
        TMMCustomSoundComponent::Restarted();
        undo.Dismiss();
    }
    if (OnRestart) OnRestart(this);
}

void TMMTrigger::Stop() {
    if (!(State() & (trsStarted | trsPaused))) return;
    {
        std::lock_guard<std::mutex> lock(lock_);
        stopping_ = true;
        if (busyCount_ > 0) {
            stopPending_ = true;  // the cycle's end posts the stop again
            return;
        }
        stopPending_ = false;
    }
    // A paused worker must be free to serve the next start.
    if (IsTriggerPaused() && worker_) worker_->Resume();
    state_ &= ~uint32_t(trsStarted | trsPaused);
    TMMCustomSoundComponent::Stopped();
    if (OnStop) OnStop(this);
    if (closePending_) Close();
}

// --- Notifications from another driver --------------------------------------------------

void TMMTrigger::Opened() { Open(); }
void TMMTrigger::Closed() { Close(); }
void TMMTrigger::Started() { Start(); }
void TMMTrigger::Paused() { Pause(); }
void TMMTrigger::Restarted() { Restart(); }
void TMMTrigger::Stopped() { Stop(); }

bool TMMTrigger::IsWorkerHeld() const { return worker_ && worker_->Held(); }

// --- Buffers ---------------------------------------------------------------------------

int32_t TMMTrigger::LoadBuffer() {
    bool more = false;
    moreBuffers_ = false;
    WAVEHDR& wh = header_->wh;
    wh.dwBufferLength = headerSize_;
    wh.dwBytesRecorded = 0;
    header_->dwLooping = 0;
    {
        // Nothing of a failed load is passed on.
        auto undo = ScopeExit([&wh] {
            wh.dwBufferLength = 0;
            wh.dwBytesRecorded = 0;
        });
        TMMCustomSoundComponent::BufferLoad(header_.get(), more);
        undo.Dismiss();
    }
    if (wh.dwBytesRecorded > headerSize_) wh.dwBytesRecorded = headerSize_;
    wh.dwBufferLength = wh.dwBytesRecorded;
    const int32_t bytes = int32_t(wh.dwBytesRecorded);
    moreBuffers_ = more && bytes > 0;
    return bytes;
}

void TMMTrigger::Cycle() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (!(State() & trsStarted) || stopping_) return;
        ++busyCount_;
        bytesPassed_ += header_->wh.dwBufferLength;
    }
    struct EndOfCycle {
        TMMTrigger* t;
        ~EndOfCycle() {
            bool post = false;
            {
                std::lock_guard<std::mutex> lock(t->lock_);
                if (--t->busyCount_ == 0 && (t->stopPending_ || !t->moreBuffers_)) {
                    t->stopping_ = true;
                    post = true;
                }
            }
            if (post) t->PostStop();
        }
    } end{this};

    try {
        BufferReady(header_.get());
        if (moreBuffers_ && !StopPending()) {
            if (LoadBuffer() <= 0) throw EMMTriggerError(LibraryMessage(lmErrorFillingBuffer));
            if (!StopPending()) {
                if (OnBufferFilled) OnBufferFilled(this, header_.get());
                if (!moreBuffers_) {
                    {
                        std::lock_guard<std::mutex> lock(lock_);
                        bytesPassed_ += header_->wh.dwBufferLength;
                    }
                    BufferReady(header_.get());
                }
            }
        }
    } catch (...) {
        RaiseError();
        bool handled = false;
        if (OnErrorEx) OnErrorEx(this, handled);
        if (!handled) {
            // Recorded before the end of the cycle can post the stop, so that whoever handles
            // the stop sees the failure.
            RecordFailure(CurrentErrorText());
            throw;
        }
    }
}

bool TMMTrigger::StopPending() const {
    std::lock_guard<std::mutex> lock(lock_);
    return stopPending_;
}

void TMMTrigger::RecordFailure(const std::string& text) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!workerFailed_) workerError_ = text;
    stopping_ = true;
    workerFailed_ = true;
}

void TMMTrigger::WorkerFailure(const std::string& text) {
    RecordFailure(text);
    PostStop();
}

void TMMTrigger::PostStop() {
    if (window_) window_->Post(MM_STOPMESSAGE);
}

void TMMTrigger::WindowProc(uint32_t msg) {
    if (msg != MM_STOPMESSAGE) return;
    try {
        Stop();
        if (WorkerFailed()) Close();
    } catch (...) {
        Close();
        throw;  // reported by the window
    }
}
