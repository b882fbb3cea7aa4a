#include "platform/ACM.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

constexpr int16_t kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int8_t kImaIndex[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

}  // namespace

int16_t ImaAdpcmStep(int32_t& predictor, int32_t& index, int code) {
    const int32_t step = kImaSteps[index];
    int32_t diff = step >> 3;
    if (code & 1) diff += step >> 2;
    if (code & 2) diff += step >> 1;
    if (code & 4) diff += step;
    predictor = std::clamp((code & 8) ? predictor - diff : predictor + diff, -32768, 32767);
    index = std::clamp(index + kImaIndex[code & 7], 0, 88);
    return int16_t(predictor);
}

namespace {

constexpr uint16_t kFormatPcm = WAVE_FORMAT_PCM;

int32_t Clamp16(int64_t v) { return int32_t(std::clamp<int64_t>(v, -32768, 32767)); }

// The tag, channel mask and container width a format really has, looking through
// WAVE_FORMAT_EXTENSIBLE (whose sub-format GUID starts with the plain tag).
struct FormatView {
    uint16_t tag = 0;
    uint32_t channelMask = 0;
};

FormatView View(const WAVEFORMATEX* f) {
    FormatView v;
    v.tag = f->wFormatTag;
    if (f->wFormatTag == WAVE_FORMAT_EXTENSIBLE && f->cbSize >= 22) {
        const auto* extra = reinterpret_cast<const uint8_t*>(f) + sizeof(WAVEFORMATEX);
        std::memcpy(&v.channelMask, extra + 2, 4);
        v.tag = uint16_t(extra[6] | extra[7] << 8);
    }
    return v;
}

}  // namespace

// Turns whole source blocks into interleaved frames of 16-bit values held in int32.
class AcmDecoder {
public:
    virtual ~AcmDecoder() = default;
    // Decodes blocks whole blocks; returns the frames written.
    virtual uint32_t Decode(const uint8_t* src, uint32_t blocks, int32_t* out) = 0;
    // Decodes the leading part of a block at the end of the data; 0 frames when it cannot.
    virtual uint32_t DecodePartial(const uint8_t*, uint32_t, int32_t*) { return 0; }
    virtual void Reset() {}

    uint32_t blockBytes = 1;
    uint32_t framesPerBlock = 1;
    uint16_t channels = 1;
};

namespace {

class PcmDecoder : public AcmDecoder {
public:
    PcmDecoder(uint16_t bytesPerSample, bool isFloat) : width_(bytesPerSample), float_(isFloat) {}
    uint32_t Decode(const uint8_t* src, uint32_t blocks, int32_t* out) override {
        const uint32_t n = blocks * channels;
        const uint32_t stride = blockBytes / channels;
        for (uint32_t i = 0; i < n; ++i, src += stride) out[i] = Sample(src);
        return blocks;
    }

private:
    int32_t Sample(const uint8_t* p) const {
        if (float_) {
            double x;
            if (width_ == 4) {
                float f;
                std::memcpy(&f, p, 4);
                x = f;
            } else {
                std::memcpy(&x, p, 8);
            }
            if (std::isnan(x)) return 0;
            return Clamp16(int64_t(std::floor(std::clamp(x, -2.0, 2.0) * 32768.0 + 0.5)));
        }
        switch (width_) {
        case 1: return (int32_t(p[0]) - 128) * 256;
        case 2: return int16_t(uint16_t(p[0] | p[1] << 8));
        case 3: {
            const int32_t v = int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
            return Clamp16((int64_t(v) + 0x80) >> 8);
        }
        default: {
            int32_t v;
            std::memcpy(&v, p, 4);
            return Clamp16((int64_t(v) + 0x8000) >> 16);
        }
        }
    }
    uint16_t width_;
    bool float_;
};

// G.711: 8-bit logarithmic samples expanded by the standard rules.
class G711Decoder : public AcmDecoder {
public:
    explicit G711Decoder(bool alaw) {
        for (int i = 0; i < 256; ++i) table_[size_t(i)] = alaw ? ALaw(uint8_t(i)) : MuLaw(uint8_t(i));
    }
    uint32_t Decode(const uint8_t* src, uint32_t blocks, int32_t* out) override {
        const uint32_t n = blocks * channels;
        for (uint32_t i = 0; i < n; ++i) out[i] = table_[src[i]];
        return blocks;
    }

private:
    static int32_t ALaw(uint8_t a) {
        a ^= 0x55;
        int32_t t = (a & 0x0F) << 4;
        const int seg = (a & 0x70) >> 4;
        if (seg == 0) t += 8;
        else if (seg == 1) t += 0x108;
        else t = (t + 0x108) << (seg - 1);
        return (a & 0x80) ? t : -t;
    }
    static int32_t MuLaw(uint8_t u) {
        u = uint8_t(~u);
        int32_t t = ((u & 0x0F) << 3) + 0x84;
        t <<= (u & 0x70) >> 4;
        return (u & 0x80) ? (0x84 - t) : (t - 0x84);
    }
    std::array<int32_t, 256> table_{};
};


// IMA ADPCM in wave files: per channel a 4-byte header (first sample, step index), then
// groups of 4 bytes per channel holding 8 samples each, low nibble first.
class ImaDecoder : public AcmDecoder {
public:
    uint32_t Decode(const uint8_t* src, uint32_t blocks, int32_t* out) override {
        for (uint32_t b = 0; b < blocks; ++b)
            DecodeBlock(src + size_t(b) * blockBytes, blockBytes, out + size_t(b) * framesPerBlock * channels);
        return blocks * framesPerBlock;
    }
    uint32_t DecodePartial(const uint8_t* src, uint32_t bytes, int32_t* out) override {
        return DecodeBlock(src, bytes, out);
    }

private:
    uint32_t DecodeBlock(const uint8_t* src, uint32_t bytes, int32_t* out) const {
        const uint32_t header = 4u * channels;
        if (bytes < header) return 0;
        const uint32_t groups = std::min((bytes - header) / header, (framesPerBlock - 1) / 8);
        const uint32_t frames = 1 + groups * 8;
        for (uint16_t c = 0; c < channels; ++c) {
            const uint8_t* h = src + 4 * c;
            int32_t pred = int16_t(uint16_t(h[0] | h[1] << 8));
            int32_t index = std::min<int32_t>(h[2], 88);
            out[c] = pred;
            for (uint32_t g = 0; g < groups; ++g) {
                const uint8_t* d = src + header + size_t(g) * header + 4 * c;
                for (int k = 0; k < 8; ++k) {
                    const int nibble = (k & 1) ? d[k / 2] >> 4 : d[k / 2] & 0x0F;
                    ImaAdpcmStep(pred, index, nibble);
                    out[size_t(1 + g * 8 + uint32_t(k)) * channels + c] = pred;
                }
            }
        }
        return frames;
    }
};

// ---------------------------------------------------------------------------------------
// GSM 06.10 full-rate speech, as packed in wave files: 65-byte blocks holding two 260-bit
// frames of 160 samples, bits taken least significant first. The arithmetic is the fixed
// point of the standard, so the output is bit-exact.

using word = int16_t;
using longword = int32_t;
constexpr word MIN_WORD = -32768;
constexpr word MAX_WORD = 32767;

inline word Sasr(longword x, int by) { return word(x >> by); }
inline word MultR(word a, word b) {
    if (a == MIN_WORD && b == MIN_WORD) return MAX_WORD;
    return word((longword(a) * longword(b) + 16384) >> 15);
}
inline word Add(word a, word b) { return word(std::clamp<longword>(longword(a) + b, MIN_WORD, MAX_WORD)); }
inline word Sub(word a, word b) { return word(std::clamp<longword>(longword(a) - b, MIN_WORD, MAX_WORD)); }
inline word Asr(word a, int n) {
    if (n >= 16) return word(-(a < 0));
    if (n <= -16) return 0;
    if (n < 0) return word(a << -n);
    return word(a >> n);
}
inline word Asl(word a, int n) {
    if (n >= 16) return 0;
    if (n <= -16) return word(-(a < 0));
    if (n < 0) return Asr(a, -n);
    return word(a << n);
}

constexpr word kFac[8] = {18431, 20479, 22527, 24575, 26623, 28671, 30719, 32767};
constexpr word kQlb[4] = {3277, 11469, 21299, 32767};

struct GsmFrame {
    word LARc[8];
    word Nc[4], bc[4], Mc[4], xmaxc[4];
    word xMc[52];
};

class GsmDecoder : public AcmDecoder {
public:
    GsmDecoder() { Reset(); }
    void Reset() override {
        std::memset(dp0_, 0, sizeof dp0_);
        std::memset(LARpp_, 0, sizeof LARpp_);
        std::memset(v_, 0, sizeof v_);
        j_ = 0;
        nrp_ = 40;
        msr_ = 0;
    }
    uint32_t Decode(const uint8_t* src, uint32_t blocks, int32_t* out) override {
        for (uint32_t b = 0; b < blocks; ++b, src += 65) {
            for (int half = 0; half < 2; ++half) {
                GsmFrame f;
                Unpack(src, uint32_t(half) * 260, f);
                word s[160];
                DecodeFrame(f, s);
                for (int k = 0; k < 160; ++k) *out++ = s[k];
            }
        }
        return blocks * 320;
    }

private:
    static void Unpack(const uint8_t* block, uint32_t bit, GsmFrame& f) {
        auto take = [&](int n) {
            word v = 0;
            for (int i = 0; i < n; ++i, ++bit) v = word(v | (((block[bit >> 3] >> (bit & 7)) & 1) << i));
            return v;
        };
        static constexpr int larBits[8] = {6, 6, 5, 5, 4, 4, 3, 3};
        for (int i = 0; i < 8; ++i) f.LARc[i] = take(larBits[i]);
        for (int j = 0; j < 4; ++j) {
            f.Nc[j] = take(7);
            f.bc[j] = take(2);
            f.Mc[j] = take(2);
            f.xmaxc[j] = take(6);
            for (int i = 0; i < 13; ++i) f.xMc[j * 13 + i] = take(3);
        }
    }

    static void RpeDecoding(word xmaxc, word Mc, const word* xMc, word* erp) {
        word exp = 0, mant;
        if (xmaxc > 15) exp = word(Sasr(xmaxc, 3) - 1);
        mant = word(xmaxc - (exp << 3));
        if (mant == 0) {
            exp = -4;
            mant = 7;
        } else {
            while (mant <= 7) {
                mant = word(mant << 1 | 1);
                exp--;
            }
            mant -= 8;
        }
        word xMp[13];
        const word temp1 = kFac[mant];
        const word temp2 = Sub(6, exp);
        const word temp3 = Asl(1, Sub(temp2, 1));
        for (int i = 0; i < 13; ++i) {
            word temp = word((xMc[i] << 1) - 7);
            temp = word(temp << 12);
            temp = MultR(temp1, temp);
            temp = Add(temp, temp3);
            xMp[i] = Asr(temp, temp2);
        }
        for (int k = 0; k < 40; ++k) erp[k] = 0;
        for (int i = 0; i < 13; ++i) erp[Mc + 3 * i] = xMp[i];
    }

    void LongTermSynthesis(word Ncr, word bcr, const word* erp, word* drp) {
        const word Nr = (Ncr < 40 || Ncr > 120) ? nrp_ : Ncr;
        nrp_ = Nr;
        const word brp = kQlb[bcr];
        for (int k = 0; k < 40; ++k) {
            const word drpp = MultR(brp, drp[k - Nr]);
            drp[k] = Add(erp[k], drpp);
        }
        for (int k = 0; k < 120; ++k) drp[-120 + k] = drp[-80 + k];
    }

    static void DecodeLars(const word* LARc, word* LARpp) {
        static constexpr word B[8] = {0, 0, 2048, -2560, 94, -1792, -341, -1144};
        static constexpr word MIC[8] = {-32, -32, -16, -16, -8, -8, -4, -4};
        static constexpr word INVA[8] = {13107, 13107, 13107, 13107, 19223, 17476, 31454, 29708};
        for (int i = 0; i < 8; ++i) {
            word temp1 = word(Add(LARc[i], MIC[i]) << 10);
            temp1 = Sub(temp1, word(B[i] << 1));
            temp1 = MultR(INVA[i], temp1);
            LARpp[i] = Add(temp1, temp1);
        }
    }

    static void LarpToRp(word* LARp) {
        for (int i = 0; i < 8; ++i) {
            if (LARp[i] < 0) {
                const word temp = LARp[i] == MIN_WORD ? MAX_WORD : word(-LARp[i]);
                LARp[i] = word(-((temp < 11059) ? word(temp << 1)
                                                : ((temp < 20070) ? word(temp + 11059) : Add(word(temp >> 2), 26112))));
            } else {
                const word temp = LARp[i];
                LARp[i] = (temp < 11059) ? word(temp << 1)
                                         : ((temp < 20070) ? word(temp + 11059) : Add(word(temp >> 2), 26112));
            }
        }
    }

    void ShortTermFiltering(const word* rrp, int k, const word* wt, word* sr) {
        while (k--) {
            word sri = *wt++;
            for (int i = 8; i--;) {
                word tmp1 = rrp[i];
                word tmp2 = v_[i];
                tmp2 = (tmp1 == MIN_WORD && tmp2 == MIN_WORD)
                           ? MAX_WORD
                           : word(0x0FFFF & ((longword(tmp1) * longword(tmp2) + 16384) >> 15));
                sri = Sub(sri, tmp2);
                tmp1 = (tmp1 == MIN_WORD && sri == MIN_WORD)
                           ? MAX_WORD
                           : word(0x0FFFF & ((longword(tmp1) * longword(sri) + 16384) >> 15));
                v_[i + 1] = Add(v_[i], tmp1);
            }
            *sr++ = v_[0] = sri;
        }
    }

    void ShortTermSynthesis(const word* LARcr, const word* wt, word* s) {
        word* LARpp_j = LARpp_[j_];
        j_ ^= 1;
        word* LARpp_j_1 = LARpp_[j_];
        word LARp[8];
        DecodeLars(LARcr, LARpp_j);

        for (int i = 0; i < 8; ++i) {
            LARp[i] = Add(Sasr(LARpp_j_1[i], 2), Sasr(LARpp_j[i], 2));
            LARp[i] = Add(LARp[i], Sasr(LARpp_j_1[i], 1));
        }
        LarpToRp(LARp);
        ShortTermFiltering(LARp, 13, wt, s);

        for (int i = 0; i < 8; ++i) LARp[i] = Add(Sasr(LARpp_j_1[i], 1), Sasr(LARpp_j[i], 1));
        LarpToRp(LARp);
        ShortTermFiltering(LARp, 14, wt + 13, s + 13);

        for (int i = 0; i < 8; ++i) {
            LARp[i] = Add(Sasr(LARpp_j_1[i], 2), Sasr(LARpp_j[i], 2));
            LARp[i] = Add(LARp[i], Sasr(LARpp_j[i], 1));
        }
        LarpToRp(LARp);
        ShortTermFiltering(LARp, 13, wt + 27, s + 27);

        for (int i = 0; i < 8; ++i) LARp[i] = LARpp_j[i];
        LarpToRp(LARp);
        ShortTermFiltering(LARp, 120, wt + 40, s + 40);
    }

    void DecodeFrame(const GsmFrame& f, word* s) {
        word erp[40], wt[160];
        word* drp = dp0_ + 120;
        for (int j = 0; j < 4; ++j) {
            RpeDecoding(f.xmaxc[j], f.Mc[j], f.xMc + j * 13, erp);
            LongTermSynthesis(f.Nc[j], f.bc[j], erp, drp);
            for (int k = 0; k < 40; ++k) wt[j * 40 + k] = drp[k];
        }
        ShortTermSynthesis(f.LARc, wt, s);
        // De-emphasis and upscaling.
        word msr = msr_;
        for (int k = 0; k < 160; ++k) {
            const word tmp = MultR(msr, 28180);
            msr = Add(s[k], tmp);
            s[k] = word(Add(msr, msr) & 0xFFF8);
        }
        msr_ = msr;
    }

    word dp0_[280];
    word LARpp_[2][8];
    word v_[9];
    int j_ = 0;
    word nrp_ = 40;
    word msr_ = 0;
};

std::unique_ptr<AcmDecoder> MakeDecoder(const WAVEFORMATEX* f) {
    if (!f || f->nChannels == 0 || f->nSamplesPerSec == 0 || f->nBlockAlign == 0) return nullptr;
    const FormatView v = View(f);
    std::unique_ptr<AcmDecoder> d;
    switch (v.tag) {
    case WAVE_FORMAT_PCM:
    case WAVE_FORMAT_IEEE_FLOAT: {
        const bool isFloat = v.tag == WAVE_FORMAT_IEEE_FLOAT;
        const uint16_t width = uint16_t(f->nBlockAlign / f->nChannels);
        if (f->nBlockAlign % f->nChannels) return nullptr;
        if (isFloat ? (width != 4 && width != 8) : (width < 1 || width > 4)) return nullptr;
        d = std::make_unique<PcmDecoder>(width, isFloat);
        d->blockBytes = f->nBlockAlign;
        break;
    }
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
        if (f->wBitsPerSample != 8 || f->nBlockAlign != f->nChannels) return nullptr;
        d = std::make_unique<G711Decoder>(v.tag == WAVE_FORMAT_ALAW);
        d->blockBytes = f->nBlockAlign;
        break;
    case WAVE_FORMAT_DVI_ADPCM: {
        if (f->wBitsPerSample != 4 || f->nBlockAlign <= 4u * f->nChannels || f->nBlockAlign % (4u * f->nChannels))
            return nullptr;
        d = std::make_unique<ImaDecoder>();
        d->blockBytes = f->nBlockAlign;
        d->framesPerBlock = (f->nBlockAlign - 4u * f->nChannels) * 2u / f->nChannels + 1;
        break;
    }
    case WAVE_FORMAT_GSM610:
        if (f->nChannels != 1 || f->nBlockAlign != 65) return nullptr;
        d = std::make_unique<GsmDecoder>();
        d->blockBytes = 65;
        d->framesPerBlock = 320;
        break;
    default:
        return nullptr;
    }
    d->channels = f->nChannels;
    return d;
}

bool IsPcmDestination(const WAVEFORMATEX* f) {
    return f && f->wFormatTag == kFormatPcm && (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) &&
           (f->nChannels == 1 || f->nChannels == 2) && f->nSamplesPerSec > 0;
}

// Speakers of the default layouts for a channel count, in the wave file order.
uint32_t DefaultMask(uint16_t channels) {
    switch (channels) {
    case 3: return 0x7;    // FL FR FC
    case 4: return 0x33;   // FL FR BL BR
    case 5: return 0x37;   // FL FR FC BL BR
    case 6: return 0x3F;   // FL FR FC LFE BL BR
    case 7: return 0x13F;  // + BC
    case 8: return 0x63F;  // FL FR FC LFE BL BR SL SR
    default: return 0;
    }
}

}  // namespace

bool AcmCanDecode(const WAVEFORMATEX* src) { return MakeDecoder(src) != nullptr; }

MMRESULT acmFormatSuggest(const WAVEFORMATEX* src, WAVEFORMATEX* dst, uint32_t flags) {
    if (!src || !dst) return MMSYSERR_INVALPARAM;
    if (!AcmCanDecode(src)) return ACMERR_NOTPOSSIBLE;
    const FormatView v = View(src);
    if ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) && dst->wFormatTag != kFormatPcm) return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_NCHANNELS) && dst->nChannels != 1 && dst->nChannels != 2)
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) && dst->nSamplesPerSec != src->nSamplesPerSec)
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && dst->wBitsPerSample != 8 && dst->wBitsPerSample != 16)
        return ACMERR_NOTPOSSIBLE;
    const uint16_t channels =
        (flags & ACM_FORMATSUGGESTF_NCHANNELS) ? dst->nChannels : uint16_t(std::min<uint16_t>(src->nChannels, 2));
    const uint16_t bits = (flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE)
                              ? dst->wBitsPerSample
                              : uint16_t((v.tag == kFormatPcm && src->nBlockAlign == src->nChannels) ? 8 : 16);
    dst->wFormatTag = kFormatPcm;
    dst->nChannels = channels;
    dst->nSamplesPerSec = src->nSamplesPerSec;
    dst->wBitsPerSample = bits;
    dst->nBlockAlign = uint16_t(channels * bits / 8);
    dst->nAvgBytesPerSec = dst->nBlockAlign * dst->nSamplesPerSec;
    dst->cbSize = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT AcmStream::Open(std::unique_ptr<AcmStream>* stream, const WAVEFORMATEX* src, const WAVEFORMATEX* dst,
                         bool query) {
    if (!src || !dst) return MMSYSERR_INVALPARAM;
    auto decoder = MakeDecoder(src);
    if (!decoder || !IsPcmDestination(dst) || dst->nSamplesPerSec != src->nSamplesPerSec) return ACMERR_NOTPOSSIBLE;
    if (query) return MMSYSERR_NOERROR;
    if (!stream) return MMSYSERR_INVALPARAM;
    std::unique_ptr<AcmStream> s(new AcmStream);
    s->decoder_ = std::move(decoder);
    s->dst_ = *dst;
    s->dst_.nBlockAlign = uint16_t(dst->nChannels * dst->wBitsPerSample / 8);
    s->dst_.cbSize = 0;
    s->srcChannels_ = src->nChannels;
    const uint32_t mask = View(src).channelMask;
    s->channelMask_ = mask ? mask : DefaultMask(src->nChannels);
    *stream = std::move(s);
    return MMSYSERR_NOERROR;
}

AcmStream::~AcmStream() = default;

uint32_t AcmStream::SourceBlockSize() const { return decoder_->blockBytes; }

uint32_t AcmStream::DestinationSize(uint32_t srcBytes) const {
    const uint64_t blocks = (uint64_t(srcBytes) + decoder_->blockBytes - 1) / decoder_->blockBytes;
    return uint32_t(std::min<uint64_t>(blocks * decoder_->framesPerBlock * dst_.nBlockAlign, UINT32_MAX));
}

void AcmStream::Reset() { decoder_->Reset(); }

void AcmStream::Deliver(const int32_t* in, uint32_t count, uint8_t* dst) {
    const uint16_t sc = srcChannels_, dc = dst_.nChannels;
    const bool eight = dst_.wBitsPerSample == 8;
    auto put = [&](uint32_t index, int32_t v) {
        if (eight) dst[index] = uint8_t((v >> 8) + 128);
        else {
            const int16_t s = int16_t(v);
            std::memcpy(dst + size_t(index) * 2, &s, 2);
        }
    };
    if (sc <= 2) {
        for (uint32_t f = 0; f < count; ++f) {
            const int32_t l = in[f * sc], r = in[f * sc + sc - 1];
            if (dc == 2) {
                put(f * 2, l);
                put(f * 2 + 1, r);
            } else {
                put(f, sc == 2 ? (l + r) / 2 : l);
            }
        }
        return;
    }
    // More than two channels: each speaker goes to its side, centre speakers to both at -3 dB,
    // the low-frequency channel is left out; each side is divided by its total weight so that
    // the mix cannot clip.
    int32_t wl[32] = {}, wr[32] = {};
    int64_t sumL = 0, sumR = 0;
    uint32_t mask = channelMask_;
    for (uint16_t c = 0; c < sc && c < 32; ++c) {
        uint32_t speaker = 0;
        if (mask) {
            speaker = mask & (~mask + 1);
            mask &= mask - 1;
        }
        constexpr uint32_t left = 0x1 | 0x10 | 0x40 | 0x200 | 0x1000 | 0x8000;
        constexpr uint32_t right = 0x2 | 0x20 | 0x80 | 0x400 | 0x4000 | 0x20000;
        if (speaker & left) wl[c] = 16384;
        else if (speaker & right) wr[c] = 16384;
        else if (speaker != 0x8) wl[c] = wr[c] = 11585;
        sumL += wl[c];
        sumR += wr[c];
    }
    if (sumL == 0) sumL = 1;
    if (sumR == 0) sumR = 1;
    for (uint32_t f = 0; f < count; ++f) {
        int64_t l = 0, r = 0;
        for (uint16_t c = 0; c < sc && c < 32; ++c) {
            l += int64_t(in[f * sc + c]) * wl[c];
            r += int64_t(in[f * sc + c]) * wr[c];
        }
        const int32_t L = Clamp16(l / sumL), R = Clamp16(r / sumR);
        if (dc == 2) {
            put(f * 2, L);
            put(f * 2 + 1, R);
        } else {
            put(f, (L + R) / 2);
        }
    }
}

MMRESULT AcmStream::Convert(const uint8_t* src, uint32_t srcLength, uint8_t* dst, uint32_t dstLength,
                            uint32_t& srcUsed, uint32_t& dstUsed, bool end) {
    srcUsed = dstUsed = 0;
    if ((!src && srcLength) || (!dst && dstLength)) return MMSYSERR_INVALPARAM;
    const uint32_t bb = decoder_->blockBytes;
    const uint32_t outPerBlock = decoder_->framesPerBlock * dst_.nBlockAlign;
    constexpr uint32_t kMaxFrames = 8192;
    const uint32_t batchBlocks = std::max<uint32_t>(1, kMaxFrames / decoder_->framesPerBlock);
    for (;;) {
        const uint32_t blocks =
            std::min({(srcLength - srcUsed) / bb, (dstLength - dstUsed) / outPerBlock, batchBlocks});
        if (blocks == 0) break;
        work_.resize(size_t(blocks) * decoder_->framesPerBlock * srcChannels_);
        const uint32_t frames = decoder_->Decode(src + srcUsed, blocks, work_.data());
        Deliver(work_.data(), frames, dst + dstUsed);
        srcUsed += blocks * bb;
        dstUsed += frames * dst_.nBlockAlign;
    }
    const uint32_t rest = srcLength - srcUsed;
    if (end && rest > 0 && rest < bb && dstLength - dstUsed >= outPerBlock) {
        work_.resize(size_t(decoder_->framesPerBlock) * srcChannels_);
        const uint32_t frames = decoder_->DecodePartial(src + srcUsed, rest, work_.data());
        Deliver(work_.data(), frames, dst + dstUsed);
        dstUsed += frames * dst_.nBlockAlign;
        srcUsed = srcLength;
    }
    return MMSYSERR_NOERROR;
}
