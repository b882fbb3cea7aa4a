// A private PulseAudio server with one null sink ("ci", 16-bit stereo at 44100 Hz), for the
// tests that play through a real PortAudio device. It lives in a temporary folder; this
// process is pointed at it (PULSE_SERVER, XDG_RUNTIME_DIR, no autospawn) for the object's
// lifetime. Start it before the first PortAudio use of the process: PortAudio lists its
// devices once.
#pragma once

#include "support/TestUtil.h"

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace testutil {

class PulseServer {
public:
    PulseServer();
    // Stops the recorder and the server.
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // True when pulseaudio, pactl and parec are installed.
    static bool Available();
    // Starts the server and waits until it answers; false when it does not within 10 s.
    bool Start();
    // Kills the server at once (SIGKILL), as a crash would.
    void Kill();
    bool Running() const;

    // Records the sink's monitor (raw s16le stereo) until StopRecording, which returns the bytes.
    bool StartRecording();
    // Bytes recorded so far.
    uint64_t RecordedBytes() const;
    std::string StopRecording();

private:
    TempDir dir_;
    std::unique_ptr<ScopedEnv> env_;
    pid_t recorder_ = -1;
};

// Where frames (whole 4-byte frames) first appear in recording, or -1. The recording holds
// the sink's output: silence, then what was played.
long FindFrames(const std::string& recording, const std::string& frames);

}  // namespace testutil
