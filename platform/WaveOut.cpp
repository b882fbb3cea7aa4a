#include "platform/WaveOut.h"

#include "platform/MessageWindow.h"
#include "platform/OutputDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How often the reporter looks at the counters while buffers are queued.
constexpr auto kReportInterval = std::chrono::milliseconds(5);
// A stream may take this long for its first callback after a start (a sound server warming
// up) before it counts as lost.
constexpr int64_t kFirstRenderLimitMs = 2000;

enum class Backend { None, PortAudio, Virtual };

Backend chosenBackend() {
    const char* v = std::getenv("TESSIVO_AUDIO_DEVICE");
    if (v && std::strcmp(v, "virtual") == 0) return Backend::Virtual;
    if (v && std::strcmp(v, "none") == 0) return Backend::None;
    return Backend::PortAudio;
}

// The backends live for the rest of the process once used (PortAudio lists its devices once).
OutputDevice* backend() {
    static std::mutex mutex;
    static std::unique_ptr<OutputDevice> portAudio, virtualDevice;
    std::lock_guard<std::mutex> lock(mutex);
    switch (chosenBackend()) {
    case Backend::None: return nullptr;
    case Backend::Virtual:
        if (!virtualDevice) virtualDevice = MakeVirtualDevice();
        return virtualDevice.get();
    case Backend::PortAudio:
        if (!portAudio) portAudio = MakePortAudioDevice();
        return portAudio.get();
    }
    return nullptr;
}

bool playableFormat(const WAVEFORMATEX* f) {
    return f && f->wFormatTag == WAVE_FORMAT_PCM && (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) &&
           f->nChannels >= 1 && f->nChannels <= 8 && f->nSamplesPerSec >= 1000 &&
           f->nSamplesPerSec <= 192000 && f->nBlockAlign == f->nChannels * f->wBitsPerSample / 8;
}

uint32_t& flagsOf(WAVEHDR* hdr) { return hdr->dwFlags; }
// Header flags are read by the thread that owns the header while this layer's reporter sets
// WHDR_DONE.
void setFlags(WAVEHDR* hdr, uint32_t set, uint32_t clear) {
    std::atomic_ref<uint32_t> flags(flagsOf(hdr));
    uint32_t old = flags.load();
    while (!flags.compare_exchange_weak(old, (old & ~clear) | set)) {
    }
}

// ---------------------------------------------------------------------------------------
// One open device: the queue the stream renders from, the counters the render publishes and
// the reporter thread that turns them into MM_WOM_DONE reports.

class Device final : public RenderTarget {
public:
    Device(HWAVEOUT handle, const WAVEFORMATEX& format, uintptr_t callback, uintptr_t instance, uint32_t flags)
        : handle_(handle), format_(format), callback_(callback), instance_(instance),
          callbackType_(flags & CALLBACK_TYPEMASK),
          silence_(format.wBitsPerSample == 8 ? 0x80 : 0) {}

    ~Device() override {
        StopReporter();
        stream_.reset();
    }

    MMRESULT Open(OutputDevice* out, int32_t id) {
        MMRESULT error = MMSYSERR_ERROR;
        stream_ = out->Open(id, format_, this, &error);
        if (!stream_) return error;
        // The stream starts with the first buffer that may play: silence run before it would
        // be queued in the sound server ahead of the first sample.
        reporter_ = std::thread([this] { ReporterLoop(); });
        return MMSYSERR_NOERROR;
    }

    HWAVEOUT Handle() const { return handle_; }

    void Report(uint32_t msg, WAVEHDR* hdr) {
        if (callbackType_ == CALLBACK_WINDOW && callback_) {
            reinterpret_cast<MessageWindow*>(callback_)->Post(msg, reinterpret_cast<uintptr_t>(handle_),
                                                              reinterpret_cast<intptr_t>(hdr));
        } else if (callbackType_ == CALLBACK_FUNCTION && callback_) {
            reinterpret_cast<WAVEOUTPROC>(callback_)(handle_, msg, instance_, reinterpret_cast<uintptr_t>(hdr), 0);
        }
    }

    MMRESULT Write(WAVEHDR* hdr) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (lost_) return MMSYSERR_NODRIVER;
        if (!(hdr->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
        const uint64_t w = writeIndex_.load(std::memory_order_relaxed);
        if (w - reapIndex_ >= kSlots) return MMSYSERR_NOMEM;
        Slot& s = slots_[w % kSlots];
        s.hdr = hdr;
        s.data = reinterpret_cast<const uint8_t*>(hdr->lpData);
        s.bytes = hdr->dwBufferLength;
        queuedBytes_ += s.bytes;
        s.endByte = queuedBytes_;
        setFlags(hdr, WHDR_INQUEUE, WHDR_DONE);
        writeIndex_.store(w + 1, std::memory_order_release);
        cv_.notify_all();
        if (!running_ && !paused_.load())
            if (const MMRESULT r = StartStream()) return r;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Pause(bool pause) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (lost_) return MMSYSERR_NODRIVER;
        paused_.store(pause, std::memory_order_release);
        if (!pause && !running_ && reapIndex_ != writeIndex_.load(std::memory_order_relaxed))
            if (const MMRESULT r = StartStream()) return r;
        cv_.notify_all();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_) {
            stream_->Stop();
            running_ = false;
        }
        // No render runs now: its state is ours until the next start.
        ReturnAllLocked();
        readIndex_ = writeIndex_.load(std::memory_order_relaxed);
        offset_ = 0;
        realBytes_.store(0, std::memory_order_relaxed);
        silenceRun_.store(0, std::memory_order_relaxed);
        heldBack_.store(0, std::memory_order_relaxed);
        queuedBytes_ = 0;
        lastHeard_ = 0;
        return MMSYSERR_NOERROR;
    }

    bool Queued() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reapIndex_ != writeIndex_.load(std::memory_order_relaxed);
    }

    // What was heard since the open or the last reset: samples on a counter of the stream's
    // width when asked for samples, otherwise bytes.
    void Position(MMTIME* time) {
        std::lock_guard<std::mutex> lock(mutex_);
        const uint64_t bytes = HeardBytesLocked();
        if (time->wType == TIME_SAMPLES) {
            const int bits = stream_->CounterBits();
            const uint64_t mask = bits >= 32 ? 0xFFFFFFFFull : (uint64_t(1) << bits) - 1;
            time->u.sample = uint32_t((bytes / format_.nBlockAlign) & mask);
        } else {
            time->wType = TIME_BYTES;
            time->u.cb = uint32_t(bytes);
        }
    }

    // Stops the stream for good before the device goes away.
    void Shutdown() {
        StopReporter();
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_) stream_->Stop();
        running_ = false;
    }

    void Render(void* out, uint32_t frames, uint32_t delayFrames) noexcept override {
        inRender_.store(true);
        const uint64_t bytes = uint64_t(frames) * format_.nBlockAlign;
        auto* dst = static_cast<uint8_t*>(out);
        uint64_t done = 0;
        if (!lost_.load()) {
            if (!paused_.load(std::memory_order_acquire)) {
                const uint64_t w = writeIndex_.load(std::memory_order_acquire);
                // Buffers are cut and joined freely: the stream asks for whatever count it likes.
                while (done < bytes && readIndex_ < w) {
                    const Slot& s = slots_[readIndex_ % kSlots];
                    const uint64_t n = std::min<uint64_t>(s.bytes - offset_, bytes - done);
                    if (dst) std::memcpy(dst + done, s.data + offset_, n);
                    done += n;
                    offset_ += uint32_t(n);
                    if (offset_ >= s.bytes) {
                        ++readIndex_;
                        offset_ = 0;
                    }
                }
            }
            const uint64_t run = done ? bytes - done : silenceRun_.load(std::memory_order_relaxed) + bytes;
            const uint32_t s = seq_.load(std::memory_order_relaxed);
            seq_.store(s + 1, std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_release);
            realBytes_.store(realBytes_.load(std::memory_order_relaxed) + done, std::memory_order_relaxed);
            silenceRun_.store(run, std::memory_order_relaxed);
            heldBack_.store(uint64_t(delayFrames) * format_.nBlockAlign, std::memory_order_relaxed);
            stampNs_.store(nowNs(), std::memory_order_relaxed);
            seq_.store(s + 2, std::memory_order_release);
            rendered_.store(true, std::memory_order_release);
        }
        if (dst && done < bytes) std::memset(dst + done, silence_, size_t(bytes - done));
        inRender_.store(false);
    }

private:
    static constexpr uint32_t kSlots = 1024;
    struct Slot {
        WAVEHDR* hdr = nullptr;
        const uint8_t* data = nullptr;
        uint32_t bytes = 0;
        uint64_t endByte = 0;  // bytes of the queue up to the end of this buffer
    };
    struct Counters {
        uint64_t real, silenceRun, heldBack;
        int64_t stamp;
    };

    MMRESULT StartStream() {
        rendered_.store(false);
        stampNs_.store(nowNs());
        const MMRESULT r = stream_->Start();
        running_ = r == MMSYSERR_NOERROR;
        return r;
    }

    Counters Snapshot() const {
        Counters c{};
        for (;;) {
            const uint32_t s1 = seq_.load(std::memory_order_acquire);
            if (s1 & 1) {
                std::this_thread::yield();
                continue;
            }
            c.real = realBytes_.load(std::memory_order_relaxed);
            c.silenceRun = silenceRun_.load(std::memory_order_relaxed);
            c.heldBack = heldBack_.load(std::memory_order_relaxed);
            c.stamp = stampNs_.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (seq_.load(std::memory_order_relaxed) == s1) return c;
        }
    }

    // The real bytes heard: of the bytes still held back at the last render, the newest were
    // silence (the run since the last real byte); the rest drains at the byte rate since then.
    uint64_t HeardBytesLocked() {
        const Counters c = Snapshot();
        int64_t pending = int64_t(c.heldBack) - int64_t(c.silenceRun);
        if (pending > 0) {
            const int64_t elapsed = std::max<int64_t>(0, nowNs() - c.stamp);
            pending -= int64_t(double(elapsed) * format_.nAvgBytesPerSec / 1e9);
        }
        pending = std::clamp<int64_t>(pending, 0, int64_t(c.real));
        uint64_t heard = c.real - uint64_t(pending);
        heard -= heard % format_.nBlockAlign;
        lastHeard_ = std::max(lastHeard_, heard);
        return lastHeard_;
    }

    void ReturnAllLocked() {
        const uint64_t w = writeIndex_.load(std::memory_order_relaxed);
        while (reapIndex_ < w) ReturnOneLocked();
    }

    void ReturnOneLocked() {
        WAVEHDR* hdr = slots_[reapIndex_ % kSlots].hdr;
        ++reapIndex_;
        setFlags(hdr, WHDR_DONE, WHDR_INQUEUE);
        Report(MM_WOM_DONE, hdr);
    }

    // The device is gone: the render is kept from touching the queue from now on, and every
    // buffer comes back.
    void MarkLostLocked() {
        lost_.store(true);
        while (inRender_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ReturnAllLocked();
    }

    void ReporterLoop() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!quit_) {
            const uint64_t w = writeIndex_.load(std::memory_order_relaxed);
            if (reapIndex_ == w || !running_) {
                cv_.wait(lock);
                continue;
            }
            if (!lost_) {
                const int64_t limit = rendered_.load(std::memory_order_acquire)
                                          ? stream_->StallLimitMs()
                                          : std::max<int64_t>(stream_->StallLimitMs(), kFirstRenderLimitMs);
                const int64_t silentMs = (nowNs() - stampNs_.load(std::memory_order_relaxed)) / 1000000;
                if (silentMs > limit) MarkLostLocked();
            }
            if (!lost_) {
                const uint64_t heard = HeardBytesLocked();
                while (reapIndex_ < w && slots_[reapIndex_ % kSlots].endByte <= heard) ReturnOneLocked();
            }
            cv_.wait_for(lock, kReportInterval);
        }
    }

    void StopReporter() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        cv_.notify_all();
        if (reporter_.joinable()) reporter_.join();
    }

    const HWAVEOUT handle_;
    const WAVEFORMATEX format_;
    const uintptr_t callback_;
    const uintptr_t instance_;
    const uint32_t callbackType_;
    const uint8_t silence_;
    std::unique_ptr<OutputStream> stream_;

    Slot slots_[kSlots];
    std::atomic<uint64_t> writeIndex_{0};  // published by Write
    // The render's own position in the queue.
    uint64_t readIndex_ = 0;
    uint32_t offset_ = 0;
    // Published by the render (seqlock: seq_ is odd while they change).
    std::atomic<uint32_t> seq_{0};
    std::atomic<uint64_t> realBytes_{0};   // queue bytes handed to the stream
    std::atomic<uint64_t> silenceRun_{0};  // silence bytes handed over since the last real byte
    std::atomic<uint64_t> heldBack_{0};    // bytes handed over but not yet heard
    std::atomic<int64_t> stampNs_{0};      // when the render ran last
    std::atomic<bool> rendered_{false};    // a render ran since the stream started
    std::atomic<bool> paused_{false};
    std::atomic<bool> lost_{false};
    std::atomic<bool> inRender_{false};

    std::mutex mutex_;  // everything below, and the calls of the handle's user against the reporter
    std::condition_variable cv_;
    uint64_t reapIndex_ = 0;    // buffers handed back
    uint64_t queuedBytes_ = 0;  // bytes written since the open or the last reset
    uint64_t lastHeard_ = 0;
    bool running_ = false;
    bool quit_ = false;
    std::thread reporter_;
};

// Open devices by handle number. Numbers are never reused.
std::mutex gDevicesMutex;
std::map<uintptr_t, std::shared_ptr<Device>> gDevices;
uintptr_t gNextHandle = 0x5100;

std::shared_ptr<Device> find(HWAVEOUT hwo) {
    std::lock_guard<std::mutex> lock(gDevicesMutex);
    const auto it = gDevices.find(reinterpret_cast<uintptr_t>(hwo));
    return it == gDevices.end() ? nullptr : it->second;
}

const char* errorText(MMRESULT e) {
    switch (e) {
    case MMSYSERR_NOERROR: return "The specified command was carried out.";
    case MMSYSERR_ERROR: return "Undefined external error.";
    case MMSYSERR_BADDEVICEID: return "A device ID has been used that is out of range for your system.";
    case MMSYSERR_ALLOCATED: return "The specified device is already in use.";
    case MMSYSERR_INVALHANDLE: return "The specified device handle is invalid.";
    case MMSYSERR_NODRIVER: return "The sound device is not available.";
    case MMSYSERR_NOMEM: return "There is not enough memory available for this task.";
    case MMSYSERR_NOTSUPPORTED: return "This function is not supported.";
    case MMSYSERR_INVALPARAM: return "An invalid parameter was passed to a system function.";
    case WAVERR_BADFORMAT: return "The device cannot play this wave format.";
    case WAVERR_STILLPLAYING: return "Buffers are still queued on the device.";
    case WAVERR_UNPREPARED: return "The wave header was not prepared.";
    default: return nullptr;
    }
}

int32_t deviceIndex(int32_t id) { return id == WAVE_MAPPER ? 0 : id; }

}  // namespace

TWaveOutDeviceProbe::TWaveOutDeviceProbe() {
    if (chosenBackend() == Backend::PortAudio) PreparePortAudio();
    thread_ = std::thread([] { backend(); });
}

TWaveOutDeviceProbe::~TWaveOutDeviceProbe() { thread_.join(); }

uint32_t waveOutGetNumDevs() {
    OutputDevice* out = backend();
    return out ? uint32_t(std::max(0, out->Count())) : 0;
}

MMRESULT waveOutGetDevCaps(int32_t id, WAVEOUTCAPS* caps, uint32_t size) {
    if (!caps || size < sizeof(WAVEOUTCAPS)) return MMSYSERR_INVALPARAM;
    OutputDevice* out = backend();
    const int32_t index = deviceIndex(id);
    if (!out || index < 0 || index >= out->Count()) return MMSYSERR_BADDEVICEID;
    std::memset(caps, 0, sizeof(WAVEOUTCAPS));
    const std::string name = out->Name(index);
    std::strncpy(caps->szPname, name.c_str(), MAXPNAMELEN - 1);
    caps->vDriverVersion = out->DriverVersion(index);
    caps->wChannels = 2;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutOpen(HWAVEOUT* hwo, int32_t id, const WAVEFORMATEX* format, uintptr_t callback,
                     uintptr_t instance, uint32_t flags) {
    OutputDevice* out = backend();
    const int32_t index = deviceIndex(id);
    if (!out || index < 0 || index >= out->Count()) return MMSYSERR_BADDEVICEID;
    if (!format) return MMSYSERR_INVALPARAM;
    if (!playableFormat(format) || !out->Supports(index, *format)) return WAVERR_BADFORMAT;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    if (!hwo) return MMSYSERR_INVALPARAM;

    HWAVEOUT handle;
    {
        std::lock_guard<std::mutex> lock(gDevicesMutex);
        handle = reinterpret_cast<HWAVEOUT>(gNextHandle++);
    }
    auto device = std::make_shared<Device>(handle, *format, callback, instance, flags);
    if (const MMRESULT r = device->Open(out, index)) return r;
    {
        std::lock_guard<std::mutex> lock(gDevicesMutex);
        gDevices[reinterpret_cast<uintptr_t>(handle)] = device;
    }
    *hwo = handle;
    device->Report(MM_WOM_OPEN, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
    std::shared_ptr<Device> device = find(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (device->Queued()) return WAVERR_STILLPLAYING;
    device->Shutdown();
    {
        std::lock_guard<std::mutex> lock(gDevicesMutex);
        gDevices.erase(reinterpret_cast<uintptr_t>(hwo));
    }
    device->Report(MM_WOM_CLOSE, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* hdr, uint32_t size) {
    if (!find(hwo)) return MMSYSERR_INVALHANDLE;
    if (!hdr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    setFlags(hdr, WHDR_PREPARED, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* hdr, uint32_t size) {
    if (!find(hwo)) return MMSYSERR_INVALHANDLE;
    if (!hdr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (std::atomic_ref<uint32_t>(flagsOf(hdr)).load() & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    setFlags(hdr, 0, WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* hdr, uint32_t size) {
    std::shared_ptr<Device> device = find(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (!hdr || size < sizeof(WAVEHDR) || !hdr->lpData) return MMSYSERR_INVALPARAM;
    return device->Write(hdr);
}

MMRESULT waveOutPause(HWAVEOUT hwo) {
    std::shared_ptr<Device> device = find(hwo);
    return device ? device->Pause(true) : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutRestart(HWAVEOUT hwo) {
    std::shared_ptr<Device> device = find(hwo);
    return device ? device->Pause(false) : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
    std::shared_ptr<Device> device = find(hwo);
    return device ? device->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* time, uint32_t size) {
    std::shared_ptr<Device> device = find(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (!time || size < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
    device->Position(time);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetErrorText(MMRESULT error, char* text, uint32_t size) {
    if (!text || size == 0) return MMSYSERR_INVALPARAM;
    const char* t = errorText(error);
    text[0] = '\0';
    if (!t) return MMSYSERR_BADERRNUM;
    std::strncpy(text, t, size - 1);
    text[size - 1] = '\0';
    return MMSYSERR_NOERROR;
}
