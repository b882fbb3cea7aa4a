// The small interface behind the wave output operations: a backend lists its devices and
// opens streams; a running stream asks its target for samples from the sound system's
// real-time context. Implemented with PortAudio (PortAudioDevice.cpp) and by a clock
// (VirtualDevice.cpp). Only WaveOut.cpp uses it.
#pragma once

#include "platform/MMSystem.h"

#include <cstdint>
#include <memory>
#include <string>

// What a stream feeds from. Render runs in real time: it never blocks, allocates or logs.
class RenderTarget {
public:
    virtual ~RenderTarget() = default;
    // Fills frames frames at out (null: consume without copying). delayFrames is how many
    // frames the sound system still holds before the first of them is heard.
    virtual void Render(void* out, uint32_t frames, uint32_t delayFrames) noexcept = 0;
};

class OutputStream {
public:
    // Stops first when running.
    virtual ~OutputStream() = default;
    // Starts calling the target. MMSYSERR_NOERROR, or the failure's code.
    virtual MMRESULT Start() = 0;
    // Stops calling the target: no Render runs any more once it returns.
    virtual void Stop() = 0;
    // The output latency the stream reported at open.
    virtual uint32_t LatencyFrames() const = 0;
    // Longest time in ms the stream may go without calling Render while running before the
    // device counts as lost.
    virtual int32_t StallLimitMs() const = 0;
    // Width of the device's sample counter (it wraps at 2^bits).
    virtual int CounterBits() const { return 32; }
};

class OutputDevice {
public:
    virtual ~OutputDevice() = default;
    virtual int32_t Count() = 0;
    // id in 0 .. Count() - 1.
    virtual std::string Name(int32_t id) = 0;
    virtual uint32_t DriverVersion(int32_t id) = 0;
    virtual bool Supports(int32_t id, const WAVEFORMATEX& format) = 0;
    // A stream that is not started yet, or null with *error set.
    virtual std::unique_ptr<OutputStream> Open(int32_t id, const WAVEFORMATEX& format,
                                               RenderTarget* target, MMRESULT* error) = 0;
};

std::unique_ptr<OutputDevice> MakePortAudioDevice();
// What the PortAudio device needs of the process before any thread lists devices (it sets the
// environment, which no other thread may read meanwhile).
void PreparePortAudio();
std::unique_ptr<OutputDevice> MakeVirtualDevice();
