#include "audio/MMWavOut.h"

#include "audio/MMUtils.h"
#include "common/ScopeExit.h"
#include "platform/MessageWindow.h"
#include "platform/WaveOut.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <thread>

namespace {

constexpr int32_t kMinBufferSize = 32;
constexpr int32_t kOpenCloseRounds = 500;     // of 10 ms
constexpr int32_t kResetRounds = 100;         // of 10 ms
constexpr int32_t kDoneChecks = 65000;        // of 2 ms while refilling, plain checks at a stop
constexpr int32_t kWrapJump = 65535;
constexpr int64_t kHourGlassBytes = 100000;

std::string WithPrefix(const char* prefix, const std::string& text) { return std::string(prefix) + "\n\r" + text; }

bool IsDone(const TMMWaveHdr* hdr) {
    return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(hdr->wh.dwFlags)).load() & WHDR_DONE;
}

bool InDevice(const TMMWaveHdr* hdr) {
    return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(hdr->wh.dwFlags)).load() & WHDR_INQUEUE;
}

WAVEHDR* Wh(PMMWaveHdr hdr) { return &hdr->wh; }

// The wait cursor for one scope.
class HourGlass {
public:
    explicit HourGlass(bool show) : shown_(show && qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (shown_) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~HourGlass() { Restore(); }
    void Restore() {
        if (shown_) QGuiApplication::restoreOverrideCursor();
        shown_ = false;
    }

private:
    bool shown_;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// TMMAllocator

void* TMMAllocator::AllocBuffer(size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    Block* fit = nullptr;
    for (Block& b : blocks_) {
        if (b.uses != 0 || b.size < size) continue;
        if (b.size == size) {
            fit = &b;
            break;
        }
        if (!fit) fit = &b;
    }
    if (!fit) {
        blocks_.push_back({AllocBlock(size), size, 0});
        fit = &blocks_.back();
    }
    fit->uses = 1;
    return fit->p;
}

void TMMAllocator::FreeBuffer(void*& p) {
    if (!p) return;
    std::lock_guard<std::mutex> lock(mutex_);
    for (Block& b : blocks_)
        if (b.p == p && b.uses > 0) --b.uses;
    p = nullptr;
}

void TMMAllocator::FreeAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Block& b : blocks_) FreeBlock(b.p);
    blocks_.clear();
}

size_t TMMAllocator::BlockCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_.size();
}

// ---------------------------------------------------------------------------------------
// TMMWaveOut: properties

TMMWaveOut::TMMWaveOut(TMMComponent* owner) : TMMCustomWaveOutComponent(owner) {}

const TMMWaveOut& TMMWaveOut::Devices() const {
    if (!devicesListed_) {
        devicesListed_ = true;
        numDevs_ = waveOutGetNumDevs();
        ChooseDevice(deviceId_);
    }
    return *this;
}

TMMWaveOut::~TMMWaveOut() {
    MarkDestroying();
    if (handle_) Close();
    window_.reset();
    allocator_.FreeAll();
}

void TMMWaveOut::SetBufferSize(int32_t value) {
    if (Has(wsOpened)) Error(LibraryMessage(lmChangeWhileOpen));
    if (value != TMMCustomWaveOutComponent::BufferSize()) {
        for (PMMWaveHdr& h : ring_) h = nullptr;
        allocator_.FreeAll();
    }
    TMMCustomWaveOutComponent::SetBufferSize(std::max(value, kMinBufferSize));
}

void TMMWaveOut::SetNumBuffers(int32_t value) {
    if (Has(wsOpened)) Error(LibraryMessage(lmChangeWhileOpen));
    if (value <= 1) return;
    numBuffers_ = std::min(value, MaxNumBuffers);
}

void TMMWaveOut::SetDeviceID(TMMDeviceId value) {
    if (Has(wsOpened)) Error(LibraryMessage(lmChangeWhileOpen));
    Devices();
    ChooseDevice(value);
}

void TMMWaveOut::ChooseDevice(TMMDeviceId value) const {
    productName_ = LibraryMessage(lmNoPlayDevice);
    driverVersion_ = 0;
    if (numDevs_ > 0 && value >= MapperId && value < int32_t(numDevs_)) {
        WAVEOUTCAPS caps{};
        if (waveOutGetDevCaps(value, &caps, sizeof caps) == MMSYSERR_NOERROR) {
            productName_ = caps.szPname;
            driverVersion_ = caps.vDriverVersion;
        }
        deviceId_ = value;
    } else {
        deviceId_ = InvalidId;
    }
}

void TMMWaveOut::SetCallBackMode(TMMCBMode value) {
    if (Has(wsOpened)) Error(LibraryMessage(lmChangeWhileOpen));
    if (value == cmCallback) {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            QMessageBox::information(nullptr, "TMMWaveOut",
                                     "\"CallBacks\" are called at interrupt time !\n\rThis is currently only "
                                     "supported under Windows 95");
        return;
    }
    callBackMode_ = value;
}

void TMMWaveOut::SetLooping(bool value) {
    looping_ = value;
    loopsRemaining_ = loopCount_;
}

void TMMWaveOut::SetLoopCount(uint16_t value) {
    loopCount_ = value;
    loopsRemaining_ = loopCount_;
}

void TMMWaveOut::SetPWaveFormat(const WAVEFORMATEX* format) {
    Close();
    TMMCustomWaveOutComponent::SetPWaveFormat(format);
}

bool TMMWaveOut::CanPlay(TMMDeviceId deviceID, const WAVEFORMATEX* format) {
    if (!format || deviceID < MapperId || deviceID >= int32_t(NumDevs())) return false;
    lastError_ = waveOutOpen(nullptr, deviceID, format, 0, 0, WAVE_FORMAT_QUERY);
    return lastError_ == MMSYSERR_NOERROR;
}

// ---------------------------------------------------------------------------------------
// Errors

void TMMWaveOut::RaiseError() noexcept {
    try {
        if (OnError) OnError(this);
    } catch (...) {
    }
}

void TMMWaveOut::FailAndClose() noexcept {
    RaiseError();
    Close();
}

void TMMWaveOut::Error(const std::string& message) {
    RaiseError();
    throw EMMWaveOutError(message);
}

void TMMWaveOut::DeviceError(const char* prefix, uint32_t result) {
    char text[MAXERRORLENGTH];
    const std::string t = waveOutGetErrorText(result, text, sizeof text) == MMSYSERR_NOERROR
                              ? std::string(text)
                              : LibraryMessage(lmUnknownDeviceError);
    Error(WithPrefix(prefix, t));
}

void TMMWaveOut::Check(const char* prefix, uint32_t result) {
    lastError_ = result;
    if (result != MMSYSERR_NOERROR) DeviceError(prefix, result);
}

// Only this component's own reports are delivered while it waits: no other event of the
// application runs inside an operation (a window being destroyed closes its output this way).
template <typename Done>
bool TMMWaveOut::WaitUntil(Done done, int32_t rounds) {
    for (int32_t i = 0; i < rounds; ++i) {
        if (window_) window_->ProcessPending();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (window_) window_->ProcessPending();
    return done();
}

// ---------------------------------------------------------------------------------------
// Open and close

void TMMWaveOut::Open() {
    if (NumDevs() == 0) Error(LibraryMessage(lmNoPlayDevice));
    if (deviceId_ == InvalidId) Error(LibraryMessage(lmInvalidDeviceID));
    if (!PWaveFormat()) Error(WithPrefix("WaveOutOpen:", LibraryMessage(lmInvalidWaveFormat)));
    if (Has(wsOpened)) Close();
    if (Has(wsOpened) || closing_) return;
    closing_ = resetting_ = noMoreWrites_ = stopPosted_ = false;
    {
        auto undo = ScopeExit([this] {
            RaiseError();
            state_ = wsOpened;
            Close();
            state_ = wsClosed;
        });
        if (!CanPlay(deviceId_, PWaveFormat()))
            Error(WithPrefix("WaveOutOpen:", LibraryMessage(lmDeviceCantPlayFormat)));
        if (!window_)
            window_ = std::make_unique<MessageWindow>(
                [this](uint32_t msg, uintptr_t w, intptr_t l) { WindowProc(msg, w, l); });
        handle_ = nullptr;
        closePending_ = false;
        TMMCustomWaveOutComponent::Opened();
        uint32_t flags = CALLBACK_WINDOW;
        if (mapped_ && deviceId_ >= 0) flags |= WAVE_MAPPED;
        HWAVEOUT handle = nullptr;
        Check("WaveOutOpen:", waveOutOpen(&handle, deviceId_, PWaveFormat(),
                                          reinterpret_cast<uintptr_t>(window_.get()), 0, flags));
        handle_ = handle;
        if (!WaitUntil([this] { return Has(wsOpened); }, kOpenCloseRounds))
            Error(WithPrefix("WaveOutOpen:", LibraryMessage(lmUnableToOpenDevice)));
        undo.Dismiss();
    }
    if (OnOpen) OnOpen(this);
}

void TMMWaveOut::Close() {
    if (!Has(wsOpened) || (closing_ && !closePending_)) return;
    try {
        closing_ = true;
        if (Has(wsPlaying | wsPaused)) Stop();
        if (stopPending_) {
            closePending_ = true;
            return;
        }
        closePending_ = false;
        bool closeReported = true;
        if (handle_) {
            Check("WaveOutClose:", waveOutClose(handle_));
            closeReported = WaitUntil([this] { return Has(wsClosed); }, kOpenCloseRounds);
            wrapCount_ = wrapBase_ = 0;
        } else {
            state_ = wsClosed;
        }
        TMMCustomWaveOutComponent::Closed();
        handle_ = nullptr;
        closing_ = false;
        if (!Destroying() && OnClose) OnClose(this);
        if (!closeReported) Error(WithPrefix("WaveOutClose:", LibraryMessage(lmUnableToCloseDevice)));
    } catch (...) {
        closing_ = false;
    }
}

// ---------------------------------------------------------------------------------------
// Start, pause, restart, stop, reset

void TMMWaveOut::Start() {
    auto undo = ScopeExit([this] {
        RaiseError();
        AddState(wsPlaying);
        Close();
        state_ = wsClosed;
    });
    if (!Has(wsOpened)) Open();
    if (Has(wsOpened) && !Has(wsPlaying)) {
        {
            std::lock_guard<std::mutex> lock(lock_);
            bytesPlayed_ = positionOffset_ = loopStart_ = 0;
            lastDevicePos_ = 0;
            wrapCount_ = wrapBase_ = 0;
            stopPending_ = resetting_ = noMoreWrites_ = stopPosted_ = false;
        }
        loopsRemaining_ = loopCount_;
        inProgress_ = next_ = buffersInDevice_ = 0;
        HourGlass hourGlass(showHourGlass_ && int64_t(BufferSize()) * numBuffers_ > kHourGlassBytes);
        Check("WaveOutPause:", waveOutPause(handle_));
        TMMCustomWaveOutComponent::Started();
        queued_ = FillRing();
        AddState(wsPlaying);
        hourGlass.Restore();
        if (queued_ == 0) {
            TMMCustomWaveOutComponent::Stopped();
            Error(WithPrefix("WaveOutStart:", LibraryMessage(lmUnableToStartDevice)));
        }
        if (!Has(wsPaused)) Check("WaveOutRestart:", waveOutRestart(handle_));
        if (OnStart) OnStart(this);
    }
    undo.Dismiss();
}

int32_t TMMWaveOut::FillRing() {
    bool more = true;
    int32_t written = 0;
    const int32_t size = BufferSize();
    for (int32_t i = 0; i < numBuffers_ && more; ++i) {
        if (!ring_[i]) {
            void* block = nullptr;
            try {
                block = allocator_.AllocBuffer(sizeof(TMMWaveHdr) + size_t(size));
            } catch (const std::bad_alloc&) {
                Error(LibraryMessage(lmNoMemoryForWaveHeader));
            }
            ring_[i] = static_cast<PMMWaveHdr>(block);
            ring_[i]->wh.lpData = reinterpret_cast<char*>(ring_[i] + 1);
            ring_[i]->wh.dwBufferLength = uint32_t(size);
        }
        Check("WaveOutPrepareHeader:", waveOutPrepareHeader(handle_, Wh(ring_[i]), sizeof(WAVEHDR)));
        if (LoadBuffer(ring_[i], more) <= 0) break;
        WriteBuffer(ring_[i]);
        ++written;
    }
    return written;
}

void TMMWaveOut::Pause() {
    auto undo = ScopeExit([this] { FailAndClose(); });
    if (!Has(wsOpened)) Open();
    if (Has(wsOpened) && !Has(wsPaused)) {
        if (Has(wsPlaying)) {
            std::lock_guard<std::mutex> lock(lock_);
            Check("WaveOutPause:", waveOutPause(handle_));
            AddState(wsPaused);
            if (DrivenFromUpstream()) {
                positionOffset_ += DevicePosition();
                resetting_ = true;
                waveOutReset(handle_);
                next_ = buffersInDevice_ = 0;
            }
        }
        AddState(wsPaused);
        TMMCustomWaveOutComponent::Paused();
        if (OnPause) OnPause(this);
    }
    undo.Dismiss();
}

void TMMWaveOut::Restart() {
    if (!Has(wsPlaying) || !Has(wsPaused)) return;
    auto undo = ScopeExit([this] { FailAndClose(); });
    resetting_ = false;
    TMMCustomWaveOutComponent::Restarted();
    Check("WaveOutRestart:", waveOutRestart(handle_));
    RemoveState(wsPaused);
    if (OnRestart) OnRestart(this);
    undo.Dismiss();
}

void TMMWaveOut::Stop() {
    if (!Has(wsPlaying | wsPaused)) return;
    auto undo = ScopeExit([this] { FailAndClose(); });
    {
        std::lock_guard<std::mutex> lock(lock_);
        noMoreWrites_ = true;
        resetting_ = true;
    }
    wrapCount_ = wrapBase_ = 0;
    const MMRESULT r = waveOutReset(handle_);
    lastError_ = r;
    if (r > 0) DeviceError("WaveOutReset:", r);
    if (inProgress_ > 0) {
        stopPending_ = true;  // the last completion posts the stop again
        undo.Dismiss();
        return;
    }
    RemoveState(wsPlaying | wsPaused);
    WaitUntil([this] { return buffersInDevice_ <= 0; }, kOpenCloseRounds);
    TMMCustomWaveOutComponent::Stopped();
    for (int32_t i = 0; i < queued_; ++i) {
        PMMWaveHdr h = ring_[i];
        if (!h) continue;
        for (int32_t n = 0; n < kDoneChecks && !IsDone(h) && InDevice(h); ++n) std::this_thread::yield();
        std::atomic_ref<uint32_t>(h->wh.dwFlags).fetch_or(WHDR_DONE);
        waveOutUnprepareHeader(handle_, Wh(h), sizeof(WAVEHDR));
    }
    for (PMMWaveHdr& h : ring_) {
        void* p = h;
        allocator_.FreeBuffer(p);
        h = nullptr;
    }
    queued_ = buffersInDevice_ = next_ = 0;
    stopPending_ = false;
    if (!Destroying() && OnStop) OnStop(this);
    if (closePending_) Close();
    undo.Dismiss();
}

void TMMWaveOut::Reset() {
    if (!Has(wsPlaying | wsPaused) || resetting_) return;
    auto undo = ScopeExit([this] { FailAndClose(); });
    resetting_ = true;
    Check("WaveOutPause:", waveOutPause(handle_));
    // Reports not yet processed belong to buffers the device no longer holds.
    buffersInDevice_ -= int32_t(window_->RemovePending(MM_WOM_DONE));
    if (buffersInDevice_ <= 0) {
        buffersInDevice_ = 0;
        resetting_ = false;
    }
    Check("WaveOutReset:", waveOutReset(handle_));
    WaitUntil([this] { return !resetting_; }, kResetRounds);
    resetting_ = false;
    Check("WaveOutRestart:", waveOutRestart(handle_));
    Check("WaveOutPause:", waveOutPause(handle_));
    {
        std::lock_guard<std::mutex> lock(lock_);
        next_ = buffersInDevice_ = 0;
        positionOffset_ = loopStart_ = 0;
        lastDevicePos_ = 0;
        wrapCount_ = wrapBase_ = 0;
    }
    TMMCustomWaveOutComponent::StreamReset();
    queued_ = FillRing();
    if (!Has(wsPaused)) Check("WaveOutRestart:", waveOutRestart(handle_));
    if (queued_ == 0) Stop();
    undo.Dismiss();
}

// ---------------------------------------------------------------------------------------
// Buffers

int32_t TMMWaveOut::LoadBuffer(PMMWaveHdr header, bool& more) {
    more = false;
    header->wh.dwBufferLength = uint32_t(BufferSize());
    header->wh.dwBytesRecorded = 0;
    header->dwLooping = looping_ ? -1 : 0;
    if (looping_) {
        header->dwLoopCount = loopCount_;
        header->dwLoopTmpCnt = loopsRemaining_;
        header->dwLooped = 0;
    }
    TMMCustomWaveOutComponent::BufferLoad(header, more);
    header->wh.dwBytesRecorded = std::min(header->wh.dwBytesRecorded, uint32_t(BufferSize()));
    header->wh.dwBufferLength = header->wh.dwBytesRecorded;
    if (looping_) loopsRemaining_ = header->dwLoopTmpCnt;
    if (header->wh.dwBytesRecorded == 0) more = false;
    moreBuffers_ = more;
    return int32_t(header->wh.dwBytesRecorded);
}

void TMMWaveOut::WriteBuffer(PMMWaveHdr header) {
    if (OnBufferFilled) OnBufferFilled(this, header);
    if (noMoreWrites_) return;
    header->wh.dwFlags = (header->wh.dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    header->dwSavedBytesRecorded = header->wh.dwBytesRecorded;
    const MMRESULT r = waveOutWrite(handle_, Wh(header), sizeof(WAVEHDR));
    if (r != MMSYSERR_NOERROR) header->wh.dwFlags |= WHDR_DONE;  // never reached the device
    Check("WaveOutWrite:", r);
    header->wh.dwBytesRecorded = header->dwSavedBytesRecorded;
    std::lock_guard<std::mutex> lock(lock_);
    ++buffersInDevice_;
}

uint32_t TMMWaveOut::DevicePosition() {
    if (!handle_) return 0;
    MMTIME t{TIME_SAMPLES, {0}};
    Check("WaveOutGetPosition:", waveOutGetPosition(handle_, &t, sizeof t));
    if (t.wType == TIME_SAMPLES) return t.u.sample;
    t.wType = TIME_BYTES;
    Check("WaveOutGetPosition:", waveOutGetPosition(handle_, &t, sizeof t));
    return uint32_t(BytesToSamples(PWaveFormat(), int32_t(t.u.cb)));
}

uint32_t TMMWaveOut::TrackedDevicePosition() {
    const uint32_t p = DevicePosition();
    std::lock_guard<std::mutex> lock(lock_);
    if (int64_t(p) + kWrapJump <= int64_t(lastDevicePos_)) {
        // The counter wrapped: it restarts after the power of two above the last value.
        wrapBase_ = int64_t(lastDevicePos_ | 0xFFFFFu) + 1;
        ++wrapCount_;
    }
    lastDevicePos_ = p;
    return p;
}

int64_t TMMWaveOut::GetPosition() {
    if (!Has(wsOpened) || !PWaveFormat() || closePending_) return 0;
    int64_t pos;
    {
        // A wrap is noticed here too, so that no reading between two returned buffers jumps back.
        const int64_t device = TrackedDevicePosition();
        std::lock_guard<std::mutex> lock(lock_);
        pos = device + wrapCount_ * wrapBase_ + positionOffset_ - loopStart_;
    }
    switch (timeFormat_) {
    case tfMillisecond: return SamplesToMs64(PWaveFormat(), pos);
    case tfByte: return SamplesToBytes64(PWaveFormat(), pos);
    case tfSample: break;
    }
    return pos;
}

// ---------------------------------------------------------------------------------------
// The hidden window: the device's reports and the stop at the end of the stream

void TMMWaveOut::WindowProc(uint32_t msg, uintptr_t wParam, intptr_t) {
    if (!handle_ || wParam != reinterpret_cast<uintptr_t>(handle_)) return;
    // A failure goes on to the application's handler once the device is closed.
    auto undo = ScopeExit([this] { FailAndClose(); });
    switch (msg) {
    case MM_WOM_OPEN: state_ = wsOpened; break;
    case MM_WOM_CLOSE: state_ = wsClosed; break;
    case MM_WOM_DONE: BufferDone(); break;
    case MM_STOPMESSAGE: Stop(); break;
    default: break;
    }
    undo.Dismiss();
}

void TMMWaveOut::BufferDone() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        --buffersInDevice_;
    }
    if (resetting_) {
        if (buffersInDevice_ <= 0) resetting_ = false;
        return;
    }
    if (!noMoreWrites_) ProcessCompletion();
}

void TMMWaveOut::ProcessCompletion() {
    if (!Has(wsPlaying) || resetting_ || noMoreWrites_ || queued_ == 0) return;
    ++inProgress_;
    std::exception_ptr error;
    try {
        // The device hands buffers back strictly in ring order, whatever the report names, so
        // the next index says which buffer to refill.
        PMMWaveHdr header = ring_[next_];
        {
            std::lock_guard<std::mutex> lock(lock_);
            bytesPlayed_ += header->wh.dwBufferLength;
        }
        next_ = (next_ + 1) % queued_;
        header->wh.dwBytesRecorded = header->dwSavedBytesRecorded;
        header->lpNextHdr = ring_[next_];
        ring_[next_]->wh.dwBytesRecorded = ring_[next_]->dwSavedBytesRecorded;
        auto raise = ScopeExit([this] { RaiseError(); });
        TMMCustomWaveOutComponent::BufferReady(header);

        const uint32_t p = TrackedDevicePosition();

        if (moreBuffers_ && !stopPending_) {
            if (looping_ && header->dwLooped) {
                {
                    std::lock_guard<std::mutex> lock(lock_);
                    loopStart_ = p;
                }
                header->dwLooped = 0;
                TMMCustomWaveOutComponent::Looped();
                if (OnLooping) OnLooping(this);
            }
            for (int32_t n = 0; n < kDoneChecks && !IsDone(header); ++n)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            bool more = false;
            if (LoadBuffer(header, more) <= 0 && !stopPending_) Error(LibraryMessage(lmErrorFillingBuffer));
            if (!stopPending_) WriteBuffer(header);
        }
        raise.Dismiss();
    } catch (...) {
        error = std::current_exception();
    }
    --inProgress_;
    if (inProgress_ == 0 && (stopPending_ || buffersInDevice_ <= 0) && !stopPosted_) {
        stopPosted_ = true;
        noMoreWrites_ = true;
        const MMRESULT r = waveOutPause(handle_);
        if (r != MMSYSERR_NOERROR && !error) DeviceError("WaveOutPause:", r);
        if (r == MMSYSERR_NOERROR) window_->Post(MM_STOPMESSAGE, reinterpret_cast<uintptr_t>(handle_));
    }
    if (error) std::rethrow_exception(error);
}
