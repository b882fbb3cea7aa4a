// The system's sound outputs through PortAudio. Device 0 is PortAudio's default output (the
// desktop's sound server when one runs); the other outputs follow in PortAudio's order.
//
// PortAudio lists the devices once, when it is initialised: a sound server started later is
// not seen. Its callback runs in real time and only hands the buffer to the render target.
#include "platform/OutputDevice.h"

#include <portaudio.h>

#include <dlfcn.h>

#include <cstdlib>
#include <initializer_list>
#include <vector>

namespace {

// The host layers print their failed probes (no JACK server, no sound card) on the standard
// error while PortAudio looks for devices; none of it concerns the user. Their own hooks take
// the messages (the standard error itself stays, since the probe may run beside the start-up of
// the window, whose messages must be seen). The libraries are PortAudio's, already loaded.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void QuietJack(const char*) {}
using AlsaErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
using SetAlsaErrorHandler = int (*)(AlsaErrorHandler);

void SetAlsaMessages(AlsaErrorHandler handler) {
    if (auto set = reinterpret_cast<SetAlsaErrorHandler>(dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler")))
        set(handler);  // null: the library's own printing
}

void SilenceJack() {
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"})
        if (auto set = reinterpret_cast<void (*)(void (*)(const char*))>(dlsym(RTLD_DEFAULT, name))) set(QuietJack);
}

// Asked-for output latency: the default low latency underflows under load.
constexpr double kSuggestedLatency = 0.1;
// A delay the stream reports beyond this is not believed.
constexpr double kMaxBelievedDelay = 2.0;

MMRESULT resultOf(PaError e) {
    switch (e) {
    case paNoError: return MMSYSERR_NOERROR;
    case paInsufficientMemory: return MMSYSERR_NOMEM;
    case paInvalidDevice:
    case paDeviceUnavailable: return MMSYSERR_ALLOCATED;
    case paSampleFormatNotSupported:
    case paInvalidSampleRate:
    case paInvalidChannelCount: return WAVERR_BADFORMAT;
    default: return MMSYSERR_NODRIVER;
    }
}

PaStreamParameters parameters(PaDeviceIndex device, const WAVEFORMATEX& format) {
    PaStreamParameters p{};
    p.device = device;
    p.channelCount = format.nChannels;
    p.sampleFormat = format.wBitsPerSample == 8 ? paUInt8 : paInt16;
    p.suggestedLatency = kSuggestedLatency;
    return p;
}

class PortAudioStream final : public OutputStream {
public:
    PortAudioStream(const WAVEFORMATEX& format, RenderTarget* target) : rate_(format.nSamplesPerSec), target_(target) {}
    ~PortAudioStream() override {
        if (stream_) {
            Stop();
            Pa_CloseStream(stream_);
        }
    }

    MMRESULT Open(PaDeviceIndex device, const WAVEFORMATEX& format) {
        const PaStreamParameters p = parameters(device, format);
        const PaError e = Pa_OpenStream(&stream_, nullptr, &p, rate_, paFramesPerBufferUnspecified,
                                        paClipOff | paDitherOff, &PortAudioStream::Callback, this);
        if (e != paNoError) {
            stream_ = nullptr;
            return resultOf(e);
        }
        if (const PaStreamInfo* info = Pa_GetStreamInfo(stream_))
            latencyFrames_ = uint32_t(info->outputLatency * rate_ + 0.5);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Start() override {
        if (Pa_IsStreamActive(stream_) == 1) return MMSYSERR_NOERROR;
        if (Pa_IsStreamStopped(stream_) == 0) Pa_AbortStream(stream_);
        return resultOf(Pa_StartStream(stream_));
    }
    void Stop() override {
        if (Pa_IsStreamStopped(stream_) == 0) Pa_AbortStream(stream_);
    }
    uint32_t LatencyFrames() const override { return latencyFrames_; }
    int32_t StallLimitMs() const override { return 500; }

private:
    static int Callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                        PaStreamCallbackFlags, void* user) {
        auto* self = static_cast<PortAudioStream*>(user);
        // Everything of this buffer, and what the stream still holds before it, is yet to be
        // heard. The stream's clock is the wall clock, so only the difference is used.
        double delay = time ? time->outputBufferDacTime - time->currentTime : 0.0;
        uint32_t held = self->latencyFrames_;
        if (delay > 0.0 && delay < kMaxBelievedDelay) held = uint32_t(delay * self->rate_ + 0.5);
        self->target_->Render(output, uint32_t(frames), held + uint32_t(frames));
        return paContinue;
    }

    const double rate_;
    RenderTarget* const target_;
    PaStream* stream_ = nullptr;
    uint32_t latencyFrames_ = 0;
};

class PortAudioDevice final : public OutputDevice {
public:
    PortAudioDevice() {
        PreparePortAudio();
        SetAlsaMessages(QuietAlsa);
        SilenceJack();
        initialised_ = Pa_Initialize() == paNoError;
        SetAlsaMessages(nullptr);
        if (!initialised_) return;
        const PaDeviceIndex def = Pa_GetDefaultOutputDevice();
        if (def >= 0) devices_.push_back(def);
        for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
            if (i != def && info && info->maxOutputChannels > 0) devices_.push_back(i);
        }
    }
    ~PortAudioDevice() override {
        if (initialised_) Pa_Terminate();
    }

    int32_t Count() override { return int32_t(devices_.size()); }
    std::string Name(int32_t id) override {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(devices_[size_t(id)]);
        return info && info->name ? info->name : "";
    }
    uint32_t DriverVersion(int32_t) override { return uint32_t(Pa_GetVersion()); }
    bool Supports(int32_t id, const WAVEFORMATEX& format) override {
        const PaStreamParameters p = parameters(devices_[size_t(id)], format);
        return Pa_IsFormatSupported(nullptr, &p, format.nSamplesPerSec) == paFormatIsSupported;
    }
    std::unique_ptr<OutputStream> Open(int32_t id, const WAVEFORMATEX& format, RenderTarget* target,
                                       MMRESULT* error) override {
        auto stream = std::make_unique<PortAudioStream>(format, target);
        const MMRESULT r = stream->Open(devices_[size_t(id)], format);
        if (r != MMSYSERR_NOERROR) {
            if (error) *error = r;
            return nullptr;
        }
        return stream;
    }

private:
    bool initialised_ = false;
    std::vector<PaDeviceIndex> devices_;
};

}  // namespace

void PreparePortAudio() { setenv("JACK_NO_START_SERVER", "1", 0); }

std::unique_ptr<OutputDevice> MakePortAudioDevice() { return std::make_unique<PortAudioDevice>(); }
