// The ADPCM decoder of the import chain: Microsoft ADPCM (format tag 2) by the published codec,
// and the 4-bit stream variants of tags 51 and 518 by an IMA-style rule, to PCM of BitLength
// bits with the input's channels and rate. Every other format passes through untouched
// (IEEE float, tag 3, among them: the PCM converter turns it into PCM).
#pragma once

#include "audio/MMDSPObj.h"
#include "common/MMTypes.h"
#include "import/MMACMCvt.h"

#include <cstdint>
#include <memory>

class EMMADPCMError : public EMMError {
public:
    using EMMError::EMMError;
};

constexpr uint16_t WAVE_FORMAT_ADPCM4_51 = 51;
constexpr uint16_t WAVE_FORMAT_ADPCM4_518 = 518;

class TMMADPCMConverter : public TMMDSPComponent {
public:
    explicit TMMADPCMConverter(TMMComponent* owner = nullptr);
    ~TMMADPCMConverter() override;

    bool HasInputProperty() const override { return true; }
    bool HasOutputProperty() const override { return true; }

    TMMBits BitLength() const { return bitLength_; }
    void SetBitLength(TMMBits value);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);

    // True for a format this component decodes: Microsoft ADPCM with a usable header, or a
    // 4-bit variant in one or two channels.
    static bool CanDecode(const WAVEFORMATEX* format);
    const WAVEFORMATEX* InputFormat() const { return AsFormat(input_); }
    // True while enabled for a format it decodes.
    bool Converting() const;

    void InputFormatChanged(const WAVEFORMATEX* format) override;
    void Opened() override;
    void Closed() override;
    void StreamReset() override;
    void BufferLoad(PMMWaveHdr header, bool& more) override;

    // The decoding rule of one format family (defined in the .cpp).
    class Decoder;

private:
    void UpdateFormat();
    uint32_t Convert(const uint8_t* src, uint32_t n, bool end, std::vector<uint8_t>& out);

    TMMBits bitLength_ = b16Bit;
    bool enabled_ = true;
    TMMFormatBytes input_;
    std::unique_ptr<Decoder> decoder_;
    TMMConvertPump pump_;
    std::vector<int16_t> samples_;
};
