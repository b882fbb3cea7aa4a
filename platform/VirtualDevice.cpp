// The virtual output: one device whose clock consumes what is queued in real time (or
// TESSIVO_AUDIO_SPEED times faster), with nothing to hear. It lets the window and the tests
// play on machines without sound.
#include "platform/OutputDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

namespace {

double envNumber(const char* name, double fallback) {
    const char* v = std::getenv(name);
    if (!v || !*v) return fallback;
    char* end = nullptr;
    const double d = std::strtod(v, &end);
    return end && *end == '\0' ? d : fallback;
}

class VirtualStream final : public OutputStream {
public:
    VirtualStream(const WAVEFORMATEX& format, RenderTarget* target)
        : rate_(format.nSamplesPerSec), target_(target),
          speed_(std::max(0.001, envNumber("TESSIVO_AUDIO_SPEED", 1.0))),
          counterBits_(int(std::clamp(envNumber("TESSIVO_AUDIO_COUNTER_BITS", 32), 8.0, 32.0))),
          stallMs_(int64_t(envNumber("TESSIVO_AUDIO_STALL_MS", -1))) {}
    ~VirtualStream() override { Stop(); }

    MMRESULT Start() override {
        Stop();
        quit_ = false;
        clock_ = std::thread([this] { Run(); });
        return MMSYSERR_NOERROR;
    }
    void Stop() override {
        quit_ = true;
        if (clock_.joinable()) clock_.join();
    }
    uint32_t LatencyFrames() const override { return 0; }
    // The thread sanitizer slows the feeding side several times over; the clock runs on.
#if defined(__SANITIZE_THREAD__)
    int32_t StallLimitMs() const override { return 2000; }
#else
    int32_t StallLimitMs() const override { return 400; }
#endif
    int CounterBits() const override { return counterBits_; }

private:
    void Run() {
        using clock = std::chrono::steady_clock;
        const auto start = clock::now();
        // A stall comes after so much audio, not so much time: it never precedes the first
        // render, however late the clock gets to run.
        const uint64_t stallAt = stallMs_ >= 0 ? uint64_t(double(stallMs_) * rate_ / 1000) : UINT64_MAX;
        uint64_t consumed = 0;
        while (!quit_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const double seconds = std::chrono::duration<double>(clock::now() - start).count();
            const uint64_t due = std::min(uint64_t(seconds * rate_ * speed_), stallAt);
            if (due > consumed) {
                target_->Render(nullptr, uint32_t(std::min<uint64_t>(due - consumed, 1u << 24)), 0);
                consumed = due;
            }
        }
    }

    const double rate_;
    RenderTarget* const target_;
    const double speed_;
    const int counterBits_;
    const int64_t stallMs_;
    std::atomic<bool> quit_{false};
    std::thread clock_;
};

class VirtualDevice final : public OutputDevice {
public:
    int32_t Count() override { return 1; }
    std::string Name(int32_t) override { return "Tessivo virtual output"; }
    uint32_t DriverVersion(int32_t) override { return 0x0100; }
    bool Supports(int32_t, const WAVEFORMATEX&) override { return true; }
    std::unique_ptr<OutputStream> Open(int32_t, const WAVEFORMATEX& format, RenderTarget* target,
                                       MMRESULT*) override {
        return std::make_unique<VirtualStream>(format, target);
    }
};

}  // namespace

std::unique_ptr<OutputDevice> MakeVirtualDevice() { return std::make_unique<VirtualDevice>(); }
