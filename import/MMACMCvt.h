// Format converters of the import chain: TMMACMConverter turns the stream into another format
// through the conversion layer (platform/ACM), TMMPCMConverter chooses PCM as that format.
// Both pass PCM they need not change through untouched. TMMConvertPump is the pulling and
// buffering both this module's and the ADPCM converter's loads share.
#pragma once

#include "audio/MMDSPObj.h"
#include "common/MMTypes.h"
#include "platform/MMSystem.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class AcmStream;

class EMMConverterError : public EMMError {
public:
    using EMMError::EMMError;
};

enum TMMConvertQuality : int32_t { cqHigh, cqLow };

// A format with its extra bytes, owned.
using TMMFormatBytes = std::vector<uint8_t>;
TMMFormatBytes FormatBytes(const WAVEFORMATEX* format);
inline const WAVEFORMATEX* AsFormat(const TMMFormatBytes& f) {
    return f.empty() ? nullptr : reinterpret_cast<const WAVEFORMATEX*>(f.data());
}
// Tag, bits, channels or rate differ; a missing format differs from nothing.
bool FormatsDiffer(const WAVEFORMATEX* a, const WAVEFORMATEX* b);

// Pulls source bytes from a component's Input in chunks, converts them and hands the result
// out in buffers of whatever size the puller asks for.
class TMMConvertPump {
public:
    // Converts n bytes at src (the last of the input when end is set), appending the result to
    // out; returns the source bytes used (the rest is offered again with the next chunk).
    using TConvert = std::function<uint32_t(const uint8_t* src, uint32_t n, bool end, std::vector<uint8_t>& out)>;

    // chunk: source bytes asked of the Input per load. onStall runs (and may throw) when five
    // conversions in a row yielded nothing while the input went on.
    void Setup(uint32_t chunk, TConvert convert, std::function<void()> onStall);
    // Drops everything buffered and starts again from an unfinished input.
    void Reset();
    // Fills header for self: the converted bytes left over, then new chunks pulled from self's
    // Input through the chain base. more stays set while the input goes on or converted bytes
    // remain.
    void Load(TMMDSPComponent* self, PMMWaveHdr header, bool& more);

private:
    uint32_t chunk_ = 4096;
    TConvert convert_;
    std::function<void()> onStall_;
    TMMWaveHdrPtr source_;
    std::vector<uint8_t> pending_;  // source bytes not yet used
    std::vector<uint8_t> output_;
    size_t outPos_ = 0;
    bool inputEnded_ = false;
    bool flushed_ = false;
    int32_t stalls_ = 0;
};

class TMMACMConverter : public TMMDSPComponent {
public:
    explicit TMMACMConverter(TMMComponent* owner = nullptr);
    ~TMMACMConverter() override;

    bool HasInputProperty() const override { return true; }
    bool HasOutputProperty() const override { return true; }

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    TMMConvertQuality Quality() const { return quality_; }
    void SetQuality(TMMConvertQuality value) { quality_ = value; }

    // The format arriving from the Input, or null.
    const WAVEFORMATEX* InputFormat() const { return AsFormat(input_); }
    // True while the format leaving differs from the one arriving.
    bool Converting() const;
    // Whether a conversion from src to dst can be opened (directly or through PCM between).
    bool CanConvert(const WAVEFORMATEX* src, const WAVEFORMATEX* dst) const;

    void InputFormatChanged(const WAVEFORMATEX* format) override;
    // Opens the conversion; "Unable to convert to destination format" when it cannot be.
    void Opened() override;
    void Closed() override;
    void StreamReset() override;
    void BufferLoad(PMMWaveHdr header, bool& more) override;
    void BufferReady(PMMWaveHdr header) override;

protected:
    // The format wanted for the given input; false for none (the input passes through).
    virtual bool WantedFormat(const WAVEFORMATEX* input, TMMFormatBytes& wanted) const;
    // Recomputes the output format after the wanted one changed.
    void UpdateFormat();

private:
    struct Stage;
    bool BuildPath(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, std::vector<TMMFormatBytes>& path,
                   int depth) const;
    bool Query(const WAVEFORMATEX* src, const WAVEFORMATEX* dst) const;
    uint32_t Convert(const uint8_t* src, uint32_t n, bool end, std::vector<uint8_t>& out);
    void CloseChain();

    bool enabled_ = true;
    TMMConvertQuality quality_ = cqLow;
    TMMFormatBytes input_;
    std::vector<std::unique_ptr<Stage>> stages_;
    uint32_t chunk_ = 0;
    TMMConvertPump pump_;
    std::vector<uint8_t> pushPending_, pushOut_;
    TMMWaveHdrPtr pushHdr_;
};

enum TMMPCMRequired : uint32_t { prBits = 1, prChannels = 2, prRate = 4 };

class TMMPCMConverter : public TMMACMConverter {
public:
    explicit TMMPCMConverter(TMMComponent* owner = nullptr);

    bool AutoConvert() const { return autoConvert_; }
    void SetAutoConvert(bool value);
    int32_t SampleRate() const { return sampleRate_; }
    // Clamped to 8000..88200.
    void SetSampleRate(int32_t value);
    TMMBits BitLength() const { return bitLength_; }
    void SetBitLength(TMMBits value);
    TMMMode Mode() const { return mode_; }
    // Only mMono and mStereo are taken.
    void SetMode(TMMMode value);
    // A set of TMMPCMRequired members: which of BitLength, Mode and SampleRate must hold
    // when AutoConvert is off.
    uint32_t Required() const { return required_; }
    void SetRequired(uint32_t value);

    // Only valid PCM (or none): else "Invalid WaveFormat".
    void SetPWaveFormat(const WAVEFORMATEX* format) override;

protected:
    bool WantedFormat(const WAVEFORMATEX* input, TMMFormatBytes& wanted) const override;

private:
    bool autoConvert_ = true;
    int32_t sampleRate_ = 11025;
    TMMBits bitLength_ = b8Bit;
    TMMMode mode_ = mMono;
    uint32_t required_ = prBits | prChannels | prRate;
};

// The PCM a source format is best turned into: 8/16-bit PCM of one or two channels is kept
// as it is; anything else gets the conversion layer's suggestion, provided a stream to it
// can be opened. False when there is none.
bool SuggestPCMFormat(const WAVEFORMATEX* src, WAVEFORMATEX& pcm);
