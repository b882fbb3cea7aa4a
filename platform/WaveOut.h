// The platform's wave output operations over our output devices. A device plays the PCM
// buffers written to it strictly in order and hands each one back (MM_WOM_DONE) once it has
// been heard; MM_WOM_OPEN and MM_WOM_CLOSE bracket the life of a handle.
//
// Which devices exist is chosen by the environment variable TESSIVO_AUDIO_DEVICE:
//   unset (or any other value)  the system's sound outputs through PortAudio; device 0 is the
//                               default output. Without a sound server or card there are none.
//   "virtual"                   one device driven by a clock: it consumes what is queued in
//                               real time, or TESSIVO_AUDIO_SPEED times faster. For tests:
//                               TESSIVO_AUDIO_COUNTER_BITS=n makes its sample counter wrap at
//                               2^n, TESSIVO_AUDIO_STALL_MS=t makes it stop consuming once
//                               it has consumed t ms of audio, as a lost sound server does.
//   "none"                      no device at all.
//
// Reports go either to a MessageWindow (CALLBACK_WINDOW: msg, wParam the handle, lParam the
// header) or to a function (CALLBACK_FUNCTION), always from a thread of this layer, never from
// the sound system's real-time context, and in the order the buffers were written. A handle is
// used by one thread at a time (the thread that opened it); a function callback must not call
// these operations.
//
// When the sound server or card disappears while a handle is open, every queued buffer comes
// back done at once (within half a second), and from then on waveOutWrite, waveOutPause and
// waveOutRestart fail with MMSYSERR_NODRIVER; position, reset and close still work.
#pragma once

#include "platform/MMSystem.h"

#include <cstddef>
#include <cstdint>
#include <thread>

struct HWAVEOUT__;
// An open device. Handles are numbers that are never reused within a process, so a report
// that arrives after its handle was closed never matches a later one.
using HWAVEOUT = HWAVEOUT__*;

constexpr uint32_t MM_WOM_OPEN = 0x3BB;
constexpr uint32_t MM_WOM_CLOSE = 0x3BC;
constexpr uint32_t MM_WOM_DONE = 0x3BD;

constexpr int32_t WAVE_MAPPER = -1;

// waveOutOpen flags
constexpr uint32_t WAVE_FORMAT_QUERY = 0x0001;
constexpr uint32_t WAVE_MAPPED = 0x0004;
constexpr uint32_t CALLBACK_NULL = 0x00000000;
constexpr uint32_t CALLBACK_WINDOW = 0x00010000;
constexpr uint32_t CALLBACK_FUNCTION = 0x00030000;
constexpr uint32_t CALLBACK_TYPEMASK = 0x00070000;

// MMTIME types
constexpr uint32_t TIME_MS = 0x0001;
constexpr uint32_t TIME_SAMPLES = 0x0002;
constexpr uint32_t TIME_BYTES = 0x0004;

constexpr size_t MAXPNAMELEN = 32;
constexpr size_t MAXERRORLENGTH = 256;

struct WAVEOUTCAPS {
    uint16_t wMid;
    uint16_t wPid;
    uint32_t vDriverVersion;
    char szPname[MAXPNAMELEN];
    uint32_t dwFormats;
    uint16_t wChannels;
    uint32_t dwSupport;
};

struct MMTIME {
    uint32_t wType;
    union {
        uint32_t ms;
        uint32_t sample;
        uint32_t cb;
    } u;
};

// Function reports: (handle, message, instance data given at open, header or 0, 0).
using WAVEOUTPROC = void (*)(HWAVEOUT hwo, uint32_t msg, uintptr_t instance, uintptr_t param1,
                             uintptr_t param2);

// Number of output devices.
uint32_t waveOutGetNumDevs();

// Lists the output devices on a thread of its own from construction, so that a program does not
// wait for the sound system's probe (a tenth of a second and more) before its window: the
// operations above, called meanwhile, wait for the list. The destructor waits for the thread.
class TWaveOutDeviceProbe {
public:
    TWaveOutDeviceProbe();
    ~TWaveOutDeviceProbe();
    TWaveOutDeviceProbe(const TWaveOutDeviceProbe&) = delete;
    TWaveOutDeviceProbe& operator=(const TWaveOutDeviceProbe&) = delete;

private:
    std::thread thread_;
};
// Name (at most 31 characters) and driver version of device id (WAVE_MAPPER: device 0).
// MMSYSERR_BADDEVICEID for an id out of range.
MMRESULT waveOutGetDevCaps(int32_t id, WAVEOUTCAPS* caps, uint32_t size);
// Opens device id for format. With WAVE_FORMAT_QUERY only tells whether the device could
// (WAVERR_BADFORMAT if not) and opens nothing. Otherwise stores the new handle in *hwo and
// reports MM_WOM_OPEN to callback (a MessageWindow* with CALLBACK_WINDOW, a WAVEOUTPROC with
// CALLBACK_FUNCTION). The device starts playing as soon as a buffer is written. Pair with
// waveOutClose.
MMRESULT waveOutOpen(HWAVEOUT* hwo, int32_t id, const WAVEFORMATEX* format, uintptr_t callback,
                     uintptr_t instance, uint32_t flags);
// Closes the handle and reports MM_WOM_CLOSE. WAVERR_STILLPLAYING while buffers are queued.
MMRESULT waveOutClose(HWAVEOUT hwo);
// Marks a header prepared (WHDR_PREPARED); required before waveOutWrite.
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* hdr, uint32_t size);
// WAVERR_STILLPLAYING while the header is queued.
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* hdr, uint32_t size);
// Queues dwBufferLength bytes of hdr; the header must stay untouched until it comes back with
// WHDR_DONE. WAVERR_UNPREPARED for a header that was not prepared.
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* hdr, uint32_t size);
// Holds playback (the queue stays) until waveOutRestart.
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
// Drops what is still queued: every queued header comes back done, in order, and the position
// starts again at 0. The device is not paused afterwards.
MMRESULT waveOutReset(HWAVEOUT hwo);
// The position heard since the open or the last reset: the frames handed to the sound system
// minus what its output latency still holds back. Answers in samples (a 32-bit counter that
// wraps) when asked for samples, otherwise in bytes.
MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* time, uint32_t size);
// The text of a result code; MMSYSERR_BADERRNUM (and an empty text) for a code without one.
MMRESULT waveOutGetErrorText(MMRESULT error, char* text, uint32_t size);

constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
