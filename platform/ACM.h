// Format suggestion and conversion streams for the compressed and wide wave formats the
// import meets: PCM of 8, 16, 24 and 32 bits, IEEE float, A-law, mu-law, IMA ADPCM and GSM
// 6.10, also inside WAVE_FORMAT_EXTENSIBLE. Every stream produces PCM of 8 or 16 bits in one
// or two channels at the source's rate: wider samples and float are rounded to 16 bits, and
// more than two channels are mixed down to stereo (or mono).
#pragma once

#include "platform/MMSystem.h"

#include <cstdint>
#include <memory>
#include <vector>

constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;

// Which fields of the destination acmFormatSuggest must keep as the caller set them.
constexpr uint32_t ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
constexpr uint32_t ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
constexpr uint32_t ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
constexpr uint32_t ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;

// True when streams can decode the source format.
bool AcmCanDecode(const WAVEFORMATEX* src);

// One IMA ADPCM step: decodes the 4-bit code against the predictor and the step index (0..88),
// updates both and returns the new sample.
int16_t ImaAdpcmStep(int32_t& predictor, int32_t& index, int code);

// Fills dst with the PCM format a stream from src should produce. Fields named by flags are
// taken from dst as given (only PCM destinations exist, so a fixed tag must be 1); the others
// are chosen: the source's rate, its channels up to two, 8 bits for 8-bit PCM, else 16.
// Returns MMSYSERR_NOERROR, ACMERR_NOTPOSSIBLE for a source it cannot decode or a fixed
// field it cannot produce, MMSYSERR_INVALPARAM for null formats.
MMRESULT acmFormatSuggest(const WAVEFORMATEX* src, WAVEFORMATEX* dst, uint32_t flags);

class AcmDecoder;

// One conversion from a source format to a PCM destination of the same rate.
class AcmStream {
public:
    // Opens a stream from src to dst. With query only tests whether it could be opened and
    // leaves stream untouched. Returns MMSYSERR_NOERROR, or ACMERR_NOTPOSSIBLE when src cannot
    // be decoded, dst is not PCM of 8 or 16 bits in 1 or 2 channels, or the rates differ.
    static MMRESULT Open(std::unique_ptr<AcmStream>* stream, const WAVEFORMATEX* src, const WAVEFORMATEX* dst,
                         bool query = false);
    ~AcmStream();
    AcmStream(const AcmStream&) = delete;
    AcmStream& operator=(const AcmStream&) = delete;

    // Destination bytes that srcBytes of source can produce at most.
    uint32_t DestinationSize(uint32_t srcBytes) const;
    // Source bytes of one block: a stream consumes whole blocks only.
    uint32_t SourceBlockSize() const;

    // Converts whole source blocks from src while their output fits into dst. srcUsed and
    // dstUsed tell what was consumed and produced; the rest of src waits for the next call.
    // With end set, a final partial block is decoded as far as it goes (or dropped) and
    // counted as used. Returns MMSYSERR_NOERROR, or MMSYSERR_INVALPARAM for null buffers.
    MMRESULT Convert(const uint8_t* src, uint32_t srcLength, uint8_t* dst, uint32_t dstLength, uint32_t& srcUsed,
                     uint32_t& dstUsed, bool end = false);
    // Forgets every state carried between calls (the decoder history of GSM).
    void Reset();

private:
    AcmStream() = default;
    void Deliver(const int32_t* frames, uint32_t count, uint8_t* dst);

    std::unique_ptr<AcmDecoder> decoder_;
    WAVEFORMATEX dst_{};
    uint16_t srcChannels_ = 0;
    uint32_t channelMask_ = 0;
    std::vector<int32_t> work_;
};
