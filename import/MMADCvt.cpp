#include "import/MMADCvt.h"

#include "audio/MMUtils.h"
#include "platform/ACM.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t kMsAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                       768, 614, 512, 409, 307, 230, 230, 230};
constexpr int16_t kMsCoef[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};


int16_t Clamp16(int32_t v) { return int16_t(std::clamp(v, -32768, 32767)); }
int16_t Le16(const uint8_t* p) { return int16_t(uint16_t(p[0] | p[1] << 8)); }

struct MsAdpcmLayout {
    uint16_t channels = 0;
    uint32_t blockAlign = 0;
    uint32_t samplesPerBlock = 0;
    std::vector<std::pair<int32_t, int32_t>> coefs;
};

// The block layout of a Microsoft ADPCM format; false when the format cannot be decoded.
bool MsLayout(const WAVEFORMATEX* f, MsAdpcmLayout& l) {
    if (!f || f->wFormatTag != WAVE_FORMAT_ADPCM || f->nChannels < 1 || f->nChannels > 2 || f->nSamplesPerSec == 0)
        return false;
    l.channels = f->nChannels;
    l.blockAlign = f->nBlockAlign;
    if (l.blockAlign < 7u * l.channels) return false;
    l.samplesPerBlock = (l.blockAlign - 7u * l.channels) * 2u / l.channels + 2;
    const auto* extra = reinterpret_cast<const uint8_t*>(f) + sizeof(WAVEFORMATEX);
    if (f->cbSize >= 4) {
        const uint16_t spb = uint16_t(extra[0] | extra[1] << 8);
        const uint16_t count = uint16_t(extra[2] | extra[3] << 8);
        if (spb >= 2 && spb <= l.samplesPerBlock) l.samplesPerBlock = spb;
        if (count >= 1 && f->cbSize >= 4 + 4 * count)
            for (uint16_t i = 0; i < count; ++i)
                l.coefs.emplace_back(Le16(extra + 4 + 4 * i), Le16(extra + 6 + 4 * i));
    }
    if (l.coefs.empty())
        for (const auto& c : kMsCoef) l.coefs.emplace_back(c[0], c[1]);
    return true;
}

bool IsFourBitVariant(const WAVEFORMATEX* f) {
    return f && (f->wFormatTag == WAVE_FORMAT_ADPCM4_51 || f->wFormatTag == WAVE_FORMAT_ADPCM4_518) &&
           (f->nChannels == 1 || f->nChannels == 2) && f->nSamplesPerSec > 0;
}

}  // namespace

// Decodes source bytes to interleaved 16-bit samples.
class TMMADPCMConverter::Decoder {
public:
    virtual ~Decoder() = default;
    // Decodes from src; returns the bytes used and appends the samples. With end, a
    // trailing partial block is decoded as far as it goes.
    virtual uint32_t Decode(const uint8_t* src, uint32_t n, bool end, std::vector<int16_t>& out) = 0;
    virtual void Reset() {}
    // Source bytes per pull: 4096, as whole blocks.
    virtual uint32_t Chunk() const { return 4096; }
};

namespace {

class MsAdpcmDecoder : public TMMADPCMConverter::Decoder {
public:
    explicit MsAdpcmDecoder(MsAdpcmLayout l) : l_(std::move(l)) {}
    uint32_t Chunk() const override { return std::max(4096 - 4096 % l_.blockAlign, l_.blockAlign); }
    uint32_t Decode(const uint8_t* src, uint32_t n, bool end, std::vector<int16_t>& out) override {
        uint32_t used = 0;
        while (n - used >= l_.blockAlign) {
            Block(src + used, l_.blockAlign, out);
            used += l_.blockAlign;
        }
        if (end && used < n) {
            Block(src + used, n - used, out);
            used = n;
        }
        return used;
    }

private:
    // One block (or the leading bytes of the last one): a header per channel of predictor
    // index, delta and the two newest samples, then nibbles high first, channels alternating.
    void Block(const uint8_t* p, uint32_t bytes, std::vector<int16_t>& out) const {
        const uint16_t ch = l_.channels;
        if (bytes < 7u * ch) return;
        int32_t c1[2], c2[2], delta[2], s1[2], s2[2];
        for (uint16_t c = 0; c < ch; ++c) {
            const size_t index = std::min<size_t>(p[c], l_.coefs.size() - 1);
            c1[c] = l_.coefs[index].first;
            c2[c] = l_.coefs[index].second;
            delta[c] = Le16(p + ch + 2 * c);
            s1[c] = Le16(p + 3 * ch + 2 * c);
            s2[c] = Le16(p + 5 * ch + 2 * c);
        }
        for (uint16_t c = 0; c < ch; ++c) out.push_back(int16_t(s2[c]));
        for (uint16_t c = 0; c < ch; ++c) out.push_back(int16_t(s1[c]));
        const uint32_t nibbles =
            std::min((bytes - 7u * ch) * 2u, (l_.samplesPerBlock - 2) * ch) / ch * ch;  // whole frames
        const uint8_t* d = p + 7 * ch;
        for (uint32_t i = 0; i < nibbles; ++i) {
            const uint16_t c = uint16_t(i % ch);
            const int32_t code = (i & 1) ? d[i / 2] & 0x0F : d[i / 2] >> 4;
            const int32_t signedCode = code >= 8 ? code - 16 : code;
            const int32_t predictor = (s1[c] * c1[c] + s2[c] * c2[c]) >> 8;
            const int16_t sample = Clamp16(predictor + signedCode * delta[c]);
            s2[c] = s1[c];
            s1[c] = sample;
            // Damaged data can grow the step without end; no real stream comes near the cap.
            delta[c] = int32_t(std::clamp<int64_t>((int64_t(kMsAdaptation[code]) * delta[c]) >> 8, 16, 1 << 24));
            out.push_back(sample);
        }
    }
    MsAdpcmLayout l_;
};

// Tags 51 and 518: a headerless stream of 4-bit codes, two per byte, high nibble first (in
// stereo the high nibble is the left channel). Each channel keeps its predicted sample and
// step index from buffer to buffer and follows the IMA rule.
class FourBitDecoder : public TMMADPCMConverter::Decoder {
public:
    explicit FourBitDecoder(uint16_t channels) : channels_(channels) { Reset(); }
    void Reset() override {
        for (auto& s : state_) s = State{};
    }
    uint32_t Decode(const uint8_t* src, uint32_t n, bool, std::vector<int16_t>& out) override {
        for (uint32_t i = 0; i < n; ++i) {
            out.push_back(Step(state_[0], src[i] >> 4));
            out.push_back(Step(state_[channels_ == 2 ? 1 : 0], src[i] & 0x0F));
        }
        return n;
    }

private:
    struct State {
        int32_t predictor = 0;
        int32_t index = 0;
    };
    static int16_t Step(State& s, int code) { return ImaAdpcmStep(s.predictor, s.index, code); }
    uint16_t channels_;
    State state_[2];
};

}  // namespace

TMMADPCMConverter::TMMADPCMConverter(TMMComponent* owner) : TMMDSPComponent(owner) {}

TMMADPCMConverter::~TMMADPCMConverter() = default;

bool TMMADPCMConverter::CanDecode(const WAVEFORMATEX* format) {
    MsAdpcmLayout l;
    return MsLayout(format, l) || IsFourBitVariant(format);
}

bool TMMADPCMConverter::Converting() const { return enabled_ && CanDecode(InputFormat()); }

void TMMADPCMConverter::SetBitLength(TMMBits value) {
    if (value == bitLength_) return;
    bitLength_ = value;
    UpdateFormat();
}

void TMMADPCMConverter::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    UpdateFormat();
}

void TMMADPCMConverter::UpdateFormat() {
    const WAVEFORMATEX* in = InputFormat();
    if (!Converting()) {
        SetPWaveFormat(in);
        return;
    }
    WAVEFORMATEX pcm{};
    SetPCMFormat(&pcm, bitLength_ == b8Bit ? 8 : 16, in->nChannels, int32_t(in->nSamplesPerSec));
    SetPWaveFormat(&pcm);
}

void TMMADPCMConverter::InputFormatChanged(const WAVEFORMATEX* format) {
    input_ = FormatBytes(format);
    UpdateFormat();
}

void TMMADPCMConverter::Opened() {
    TMMDSPComponent::Opened();
    decoder_.reset();
    if (!Converting()) return;
    MsAdpcmLayout l;
    if (MsLayout(InputFormat(), l)) decoder_ = std::make_unique<MsAdpcmDecoder>(l);
    else decoder_ = std::make_unique<FourBitDecoder>(InputFormat()->nChannels);
    pump_.Setup(
        decoder_->Chunk(),
        [this](const uint8_t* s, uint32_t n, bool end, std::vector<uint8_t>& out) { return Convert(s, n, end, out); },
        [] { throw EMMADPCMError(LibraryMessage(lmUnableToConvert)); });
}

void TMMADPCMConverter::Closed() {
    decoder_.reset();
    pump_.Reset();
    TMMDSPComponent::Closed();
}

void TMMADPCMConverter::StreamReset() {
    if (decoder_) decoder_->Reset();
    pump_.Reset();
    TMMDSPComponent::StreamReset();
}

uint32_t TMMADPCMConverter::Convert(const uint8_t* src, uint32_t n, bool end, std::vector<uint8_t>& out) {
    samples_.clear();
    const uint32_t used = decoder_->Decode(src, n, end, samples_);
    const size_t at = out.size();
    if (bitLength_ == b8Bit) {
        out.resize(at + samples_.size());
        Convert8And16(8, out.data() + at, 16, int32_t(samples_.size() * 2), samples_.data());
    } else {
        out.resize(at + samples_.size() * 2);
        std::memcpy(out.data() + at, samples_.data(), samples_.size() * 2);
    }
    return used;
}

void TMMADPCMConverter::BufferLoad(PMMWaveHdr header, bool& more) {
    if (!header) return;
    if (!decoder_) {
        TMMDSPComponent::BufferLoad(header, more);
        return;
    }
    pump_.Load(this, header, more);
}
