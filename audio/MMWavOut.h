// The wave output: the driver of a playback chain that ends at a sound device. It opens the
// device for the format that reaches it from its Input, keeps a ring of buffers queued there,
// refills each buffer from the chain when the device hands it back, reports the position
// heard, and stops by itself when the stream ends.
//
// Everything runs in the user-interface thread: the device's reports arrive at a hidden
// message window of the component, which processes each returned buffer and, at the end of
// the stream, the stop. It needs a running application event loop for that.
#pragma once

#include "audio/MMDSPObj.h"
#include "common/MMTypes.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class MessageWindow;
struct HWAVEOUT__;

class EMMWaveOutError : public EMMError {
public:
    using EMMError::EMMError;
};

// Blocks handed out for reuse: a released block stays in the list until FreeAll.
class TMMAllocator {
public:
    TMMAllocator() = default;
    ~TMMAllocator() { FreeAll(); }
    TMMAllocator(const TMMAllocator&) = delete;
    TMMAllocator& operator=(const TMMAllocator&) = delete;

    // The first free block of exactly size bytes, else the first free one of at least size
    // bytes, else a new zero-filled block. std::bad_alloc when memory runs out.
    void* AllocBuffer(size_t size);
    // Gives p's block back for reuse and sets p to null; nothing for null or a foreign pointer.
    void FreeBuffer(void*& p);
    // Releases every block (handed out or not).
    void FreeAll();
    size_t BlockCount() const;

private:
    struct Block {
        void* p;
        size_t size;
        int32_t uses;
    };
    mutable std::mutex mutex_;
    std::vector<Block> blocks_;
};

enum TMMWaveOutStateFlag : uint32_t { wsClosed = 1, wsOpened = 2, wsPlaying = 4, wsPaused = 8 };

class TMMWaveOut : public TMMCustomWaveOutComponent {
public:
    static constexpr int32_t MaxNumBuffers = 500;

    // Counts the devices and selects device 0.
    explicit TMMWaveOut(TMMComponent* owner = nullptr);
    // Closes the device when one is open, destroys the hidden window and frees the allocator.
    ~TMMWaveOut() override;

    bool HasInputProperty() const override { return true; }
    bool HasOutputProperty() const override { return true; }

    // --- Events --------------------------------------------------------------------------
    // Raised before every error of this component is thrown as EMMWaveOutError.
    TMMNotifyEvent OnError;
    TMMNotifyEvent OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose;
    // A looped header came back from the device.
    TMMNotifyEvent OnLooping;
    // A buffer was filled and is about to be written to the device.
    TMMBufferEvent OnBufferFilled;

    // --- Properties ----------------------------------------------------------------------
    // Setting BufferSize, NumBuffers, DeviceID or CallBackMode while opened throws "Change to
    // property while device was open".
    // Never below 32; a new value frees the allocator's blocks.
    void SetBufferSize(int32_t value) override;
    int32_t NumBuffers() const override { return numBuffers_; }
    // Values of 1 or less are ignored; larger ones are limited to MaxNumBuffers.
    void SetNumBuffers(int32_t value) override;
    TMMDeviceId DeviceID() const override { return Devices().deviceId_; }
    // -1 (the mapper) .. NumDevs - 1; anything else is stored as InvalidId.
    void SetDeviceID(TMMDeviceId value) override;
    std::string ProductName() const override { return Devices().productName_; }
    // Read-only: does nothing.
    void SetProductName(const std::string&) override {}
    TMMCBMode CallBackMode() const override { return callBackMode_; }
    // cmCallback is refused with a message box (callbacks at interrupt time exist on one old
    // platform only). cmThread is kept but processed like cmWindow, in the user-interface
    // thread, which keeps the completions in order.
    void SetCallBackMode(TMMCBMode value) override;
    TMMTimeFormats TimeFormat() const { return timeFormat_; }
    void SetTimeFormat(TMMTimeFormats value) { timeFormat_ = value; }
    bool Looping() const { return looping_; }
    void SetLooping(bool value);
    uint16_t LoopCount() const { return loopCount_; }
    void SetLoopCount(uint16_t value);
    bool ShowHourGlass() const { return showHourGlass_; }
    void SetShowHourGlass(bool value) { showHourGlass_ = value; }
    bool Mapped() const { return mapped_; }
    void SetMapped(bool value) { mapped_ = value; }
    TThreadPriority Priority() const { return priority_; }
    void SetPriority(TThreadPriority value) { priority_ = value; }

    // --- State ---------------------------------------------------------------------------
    // A set of TMMWaveOutStateFlag members.
    uint32_t State() const { return state_.load(); }
    uint32_t NumDevs() const { return Devices().numDevs_; }
    // Samples heard since Start in TimeFormat units; 0 unless opened.
    int64_t Position() { return GetPosition(); }
    int64_t GetPosition();
    uint32_t LastError() const { return lastError_; }
    uint32_t DriverVersion() const { return Devices().driverVersion_; }
    // True when deviceID lies in -1 .. NumDevs - 1, format is given and the device accepts it.
    bool CanPlay(TMMDeviceId deviceID, const WAVEFORMATEX* format);

    // --- Operations ----------------------------------------------------------------------
    // Open, Start, Pause, Restart, Stop and Reset throw EMMWaveOutError (after OnError) and
    // leave the device closed when they fail; Close never throws.
    void Open() override;
    void Close() override;
    // Opens if needed, fills the ring from the chain and starts playing.
    void Start() override;
    void Pause() override;
    void Restart() override;
    // Stops and releases the ring. While a returned buffer is being processed the stop only
    // takes effect when that processing ends.
    void Stop() override;
    // Drops what the device holds and refills the ring from the chain's current position.
    void Reset();
    // Raises OnError, then throws EMMWaveOutError(message).
    [[noreturn]] void Error(const std::string& message);

    // Another driver's notifications map onto the operations; buffers pushed from upstream are
    // ignored.
    void Opened() override { Open(); }
    void Closed() override { Close(); }
    void Started() override { Start(); }
    void Paused() override { Pause(); }
    void Restarted() override { Restart(); }
    void Stopped() override { Stop(); }
    void BufferReady(PMMWaveHdr) override {}
    // A format change closes the device first.
    void SetPWaveFormat(const WAVEFORMATEX* format) override;

    // For tests: the buffers queued at the last start or reset, and those in the device now.
    int32_t QueuedBuffers() const { return queued_; }
    int32_t BuffersInDevice() const { return buffersInDevice_; }
    const TMMAllocator& Allocator() const { return allocator_; }

private:
    bool Has(uint32_t flags) const { return (state_.load() & flags) != 0; }
    void AddState(uint32_t flags) { state_.fetch_or(flags); }
    void RemoveState(uint32_t flags) { state_.fetch_and(~flags); }
    // Raises OnError, swallowing what a handler throws.
    void RaiseError() noexcept;
    // The rollback of a failed operation: OnError, then close.
    void FailAndClose() noexcept;
    [[noreturn]] void DeviceError(const char* prefix, uint32_t result);
    void Check(const char* prefix, uint32_t result);
    void WindowProc(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    void BufferDone();
    void ProcessCompletion();
    int32_t LoadBuffer(PMMWaveHdr header, bool& more);
    void WriteBuffer(PMMWaveHdr header);
    // Allocates missing headers and fills the ring until the chain has no more; the count.
    int32_t FillRing();
    uint32_t DevicePosition();
    // DevicePosition, counting the wraps of the device's counter.
    uint32_t TrackedDevicePosition();
    // Delivers the hidden window's messages in 10 ms steps until done() or rounds steps have
    // passed.
    template <typename Done>
    bool WaitUntil(Done done, int32_t rounds);

    std::unique_ptr<MessageWindow> window_;
    HWAVEOUT__* handle_ = nullptr;
    TMMAllocator allocator_;
    PMMWaveHdr ring_[MaxNumBuffers] = {};

    // The devices are listed when first asked for, not at construction: a program may list them
    // meanwhile on a thread of its own (TWaveOutDeviceProbe) and show its window first.
    const TMMWaveOut& Devices() const;
    void ChooseDevice(TMMDeviceId value) const;
    mutable bool devicesListed_ = false;
    mutable uint32_t numDevs_ = 0;
    mutable TMMDeviceId deviceId_ = 0;
    mutable std::string productName_;
    mutable uint32_t driverVersion_ = 0;
    uint32_t lastError_ = 0;
    int32_t numBuffers_ = 10;
    TMMCBMode callBackMode_ = cmWindow;
    TMMTimeFormats timeFormat_ = tfByte;
    bool looping_ = false;
    uint16_t loopCount_ = 0;
    bool showHourGlass_ = true;
    bool mapped_ = false;
    TThreadPriority priority_ = tpHigher;

    std::atomic<uint32_t> state_{wsClosed};
    int32_t queued_ = 0;
    int32_t next_ = 0;
    int32_t buffersInDevice_ = 0;
    int32_t inProgress_ = 0;
    int32_t loopsRemaining_ = 0;
    bool closing_ = false;
    bool closePending_ = false;
    bool stopPending_ = false;
    bool noMoreWrites_ = false;
    bool resetting_ = false;
    bool stopPosted_ = false;
    bool moreBuffers_ = false;

    std::mutex lock_;  // bytes played, loop start, the stop flags
    int64_t bytesPlayed_ = 0;
    int64_t positionOffset_ = 0;
    int64_t loopStart_ = 0;
    uint32_t lastDevicePos_ = 0;
    int64_t wrapCount_ = 0;
    int64_t wrapBase_ = 0;
};
