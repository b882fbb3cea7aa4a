// The platform's multimedia records as the audio library uses them: the wave format, the
// device buffer header and the result type of the output-device calls. Field names and
// widths follow the platform's own definitions so that layouts written to disk stay exact.
#pragma once

#include <cstdint>

using MMRESULT = uint32_t;
using FOURCC = uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_ADPCM = 2;
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr uint16_t WAVE_FORMAT_ALAW = 6;
constexpr uint16_t WAVE_FORMAT_MULAW = 7;
constexpr uint16_t WAVE_FORMAT_DVI_ADPCM = 0x11;  // IMA ADPCM
constexpr uint16_t WAVE_FORMAT_GSM610 = 0x31;
constexpr uint16_t WAVE_FORMAT_MPEG = 0x50;
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x55;
constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

#pragma pack(push, 1)
// 18 bytes; cbSize extra bytes follow it in memory when a format has them.
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
using PWAVEFORMATEX = WAVEFORMATEX*;

// Device buffer header. The data pointer is a native pointer; the other fields keep
// their 32-bit widths.
struct WAVEHDR {
    char* lpData;
    uint32_t dwBufferLength;
    uint32_t dwBytesRecorded;
    uintptr_t dwUser;
    uint32_t dwFlags;
    uint32_t dwLoops;
    WAVEHDR* lpNext;
    uintptr_t reserved;
};
using PWAVEHDR = WAVEHDR*;

constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_BEGINLOOP = 0x04;
constexpr uint32_t WHDR_ENDLOOP = 0x08;
constexpr uint32_t WHDR_INQUEUE = 0x10;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
    return FOURCC(uint8_t(a)) | (FOURCC(uint8_t(b)) << 8) | (FOURCC(uint8_t(c)) << 16) |
           (FOURCC(uint8_t(d)) << 24);
}
