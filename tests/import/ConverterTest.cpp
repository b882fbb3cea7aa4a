// The converter components in the reader's order (source -> ADPCM decoder -> PCM converter):
// every wave sox writes comes out as 8/16-bit PCM of at most two channels, within one step of
// sox's decode; PCM passes untouched; float is never taken for ADPCM; stalls and formats that
// cannot become PCM fail with the converters' messages.
#include "import/MMACMCvt.h"
#include "import/MMADCvt.h"

#include "ImportTestUtil.h"
#include "audio/MMUtils.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

using namespace testutil;
using importtest::WavData;
using importtest::rd16;

namespace {

// A source handing out bytes in pieces of at most piece bytes per load.
class ByteSource : public TMMDSPComponent {
public:
    bool HasOutputProperty() const override { return true; }
    void BufferLoad(PMMWaveHdr h, bool& more) override {
        const size_t n = std::min<size_t>({h->wh.dwBufferLength, piece, data.size() - pos});
        std::memcpy(h->wh.lpData, data.data() + pos, n);
        pos += n;
        h->wh.dwBytesRecorded = uint32_t(n);
        more = endless || pos < data.size();
        ++loads;
    }
    std::string data;
    size_t pos = 0;
    size_t piece = SIZE_MAX;
    bool endless = false;
    int loads = 0;
};

struct Chain {
    ByteSource src;
    TMMADPCMConverter adpcm;
    TMMPCMConverter pcm;
    std::vector<uint8_t> format;

    explicit Chain(const WavData& w) {
        format.assign(std::max<size_t>(w.fmt.size(), 18) + 2, 0);
        std::memcpy(format.data(), w.fmt.data(), w.fmt.size());
        src.data = w.data;
        adpcm.SetInput(&src);
        pcm.SetInput(&adpcm);
        src.SetPWaveFormat(reinterpret_cast<const WAVEFORMATEX*>(format.data()));
    }
    void open() {
        for (TMMDSPComponent* c : {static_cast<TMMDSPComponent*>(&src), static_cast<TMMDSPComponent*>(&adpcm),
                                   static_cast<TMMDSPComponent*>(&pcm)}) {
            c->SetBufferSize(32768);
            c->Opened();
            c->Started();
        }
    }
    // Pulls from the PCM converter until it says no more.
    std::string pull(uint32_t size = 32768) {
        auto hdr = NewWaveHdr(size);
        std::string out;
        for (int i = 0; i < 100000; ++i) {
            hdr->wh.dwBufferLength = size;
            hdr->wh.dwBytesRecorded = 0;
            bool more = false;
            pcm.BufferLoad(hdr.get(), more);
            out.append(hdr->wh.lpData, hdr->wh.dwBytesRecorded);
            if (!more || hdr->wh.dwBytesRecorded == 0) break;
        }
        return out;
    }
};

WavData soxWav(const TempDir& dir, const std::string& name, const std::string& options,
               const std::string& synth = "1.7 sine 220 sine 331 tremolo 3 60 gain -3") {
    const std::string path = dir.file(name + ".wav");
    EXPECT_EQ(run("sox -D -n " + options + " " + shellQuote(path) + " synth " + synth + " 2>/dev/null"), 0);
    return importtest::readWav(path);
}

WavData soxDecode(const TempDir& dir, const std::string& name) {
    const std::string out = dir.file(name + ".ref.wav");
    EXPECT_EQ(run("sox " + shellQuote(dir.file(name + ".wav")) + " -e signed-integer -b 16 -D " + shellQuote(out) +
                  " 2>/dev/null"),
              0);
    return importtest::readWav(out);
}

}  // namespace

TEST(ConverterTest, EveryCompressedWaveBecomesSixteenBitPcmLikeSox) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string options;
        uint16_t channels;
        bool viaAdpcm;
    } cases[] = {
        {"msadpcm", "-r 22050 -c 2 -e ms-adpcm", 2, true},
        {"msadpcm-mono", "-r 8000 -c 1 -e ms-adpcm", 1, true},
        {"ima", "-r 22050 -c 2 -e ima-adpcm", 2, false},
        {"alaw", "-r 8000 -c 1 -e a-law", 1, false},
        {"ulaw", "-r 8000 -c 2 -e u-law", 2, false},
        {"gsm", "-r 8000 -c 1 -e gsm-full-rate", 1, false},
        {"float", "-r 44100 -c 2 -e floating-point -b 32", 2, false},
        {"pcm24", "-r 48000 -c 2 -b 24", 2, false},
        {"pcm32", "-r 44100 -c 1 -b 32", 1, false},
        {"six", "-r 44100 -c 6 -b 16", 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WavData w = soxWav(dir, c.name, c.options);
        ASSERT_TRUE(w.ok);
        Chain chain(w);
        EXPECT_EQ(chain.adpcm.Converting(), c.viaAdpcm);
        const WAVEFORMATEX* out = chain.pcm.PWaveFormat();
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(out->wBitsPerSample, 16);
        EXPECT_EQ(out->nChannels, c.channels);
        EXPECT_EQ(out->nSamplesPerSec, w.rate);
        chain.open();
        const std::string pcm = chain.pull(30000);  // not a multiple of any block
        if (std::string(c.name) == "six") {
            EXPECT_EQ(pcm.size(), w.data.size() / 3);
            continue;
        }
        const WavData ref = soxDecode(dir, c.name);
        ASSERT_TRUE(ref.ok);
        const size_t n = std::min(pcm.size(), ref.data.size());
        // Lengths agree up to the padding of the last block (sox trims by the fact chunk).
        EXPECT_LE(std::max(pcm.size(), ref.data.size()) - n, size_t(4096));
        EXPECT_GT(n, ref.data.size() * 9 / 10);
        EXPECT_LE(importtest::maxDiff16(pcm.substr(0, n), ref.data.substr(0, n)), 1);
    }
}

TEST(ConverterTest, PcmPassesThroughUntouched) {
    TempDir dir;
    for (const char* opts : {"-r 44100 -c 2 -b 16", "-r 11025 -c 1 -b 8"}) {
        SCOPED_TRACE(opts);
        const WavData w = soxWav(dir, "pcm", opts);
        Chain chain(w);
        EXPECT_FALSE(chain.adpcm.Converting());
        EXPECT_FALSE(chain.pcm.Converting());
        EXPECT_EQ(chain.pcm.PWaveFormat()->wBitsPerSample, w.bits);
        EXPECT_EQ(chain.pcm.PWaveFormat()->nChannels, w.channels);
        chain.open();
        EXPECT_TRUE(chain.pull(4096) == w.data);
    }
}

TEST(ConverterTest, FloatIsConvertedAsFloatNotDecodedAsAdpcm) {
    // Tag 3 holding a slow ramp: as float it is a quiet ramp, as 4-bit ADPCM it would be noise.
    std::string data;
    for (int i = 0; i < 4000; ++i) {
        const float v = float(i) / 8000.0f;
        data.append(reinterpret_cast<const char*>(&v), 4);
    }
    WavData w;
    w.fmt = le16(WAVE_FORMAT_IEEE_FLOAT) + le16(1) + le32(8000) + le32(32000) + le16(4) + le16(32) + le16(0);
    w.data = data;
    Chain chain(w);
    EXPECT_FALSE(TMMADPCMConverter::CanDecode(reinterpret_cast<const WAVEFORMATEX*>(chain.format.data())));
    EXPECT_FALSE(chain.adpcm.Converting());
    EXPECT_TRUE(chain.pcm.Converting());
    chain.open();
    const auto s = importtest::samples16(chain.pull());
    ASSERT_EQ(s.size(), 4000u);
    for (size_t i = 0; i < s.size(); i += 500) EXPECT_NEAR(s[i], double(i) * 4.096, 1.0) << i;
}

TEST(ConverterTest, MsAdpcmToEightBitsAndTheFourBitVariants) {
    TempDir dir;
    const WavData w = soxWav(dir, "ms", "-r 11025 -c 1 -e ms-adpcm");
    Chain chain(w);
    chain.adpcm.SetBitLength(b8Bit);
    EXPECT_EQ(chain.pcm.PWaveFormat()->wBitsPerSample, 8);
    chain.open();
    const std::string eight = chain.pull();
    const WavData ref = soxDecode(dir, "ms");
    ASSERT_GE(eight.size(), ref.data.size() / 2);
    std::string expect(ref.data.size() / 2, '\0');
    Convert8And16(8, expect.data(), 16, int32_t(ref.data.size()), ref.data.data());
    EXPECT_EQ(eight.substr(0, expect.size()), expect);

    // Tag 51, mono: codes 7 then 0 from silence give 11 then 13 (step 7: 0+1+3+7; then step 16: +2).
    WavData v;
    v.fmt = le16(WAVE_FORMAT_ADPCM4_51) + le16(1) + le32(8000) + le32(4000) + le16(1) + le16(4) + le16(0);
    v.data = std::string("\x70", 1);
    Chain four(v);
    EXPECT_TRUE(four.adpcm.Converting());
    four.open();
    const auto s = importtest::samples16(four.pull());
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0], 11);
    EXPECT_EQ(s[1], 13);

    // The decoder state carries across loads: one byte per load gives what one load gives.
    std::string stream;
    for (int i = 0; i < 3000; ++i) stream += char((i * 37) ^ (i >> 3));
    v.fmt = le16(WAVE_FORMAT_ADPCM4_518) + le16(2) + le32(8000) + le32(8000) + le16(1) + le16(4) + le16(0);
    v.data = stream;
    Chain whole(v), bytewise(v);
    bytewise.src.piece = 1;
    whole.open();
    bytewise.open();
    const std::string a = whole.pull(), b = bytewise.pull(1000);
    EXPECT_EQ(a.size(), 3000u * 4);
    EXPECT_TRUE(a == b);
}

TEST(ConverterTest, StalledConversionAndFormatsThatCannotBecomePcm) {
    // GSM blocks are 65 bytes; a source that never delivers a whole one stalls the converter.
    WavData g;
    g.fmt = le16(WAVE_FORMAT_GSM610) + le16(1) + le32(8000) + le32(1625) + le16(65) + le16(0) + le16(2) + le16(320);
    g.data = std::string(640, '\x11');
    Chain chain(g);
    chain.src.piece = 10;
    chain.src.endless = true;
    chain.open();
    try {
        chain.pull();
        FAIL() << "no exception";
    } catch (const EMMConverterError& e) {
        EXPECT_STREQ(e.what(), "Unable to convert to destination format");
    }

    // A format with no decoder cannot pass into the PCM converter.
    WavData wma;
    wma.fmt = le16(0x161) + le16(2) + le32(44100) + le32(16000) + le16(2230) + le16(16) + le16(0);
    ByteSource src;
    TMMPCMConverter pcm;
    pcm.SetInput(&src);
    try {
        src.SetPWaveFormat(reinterpret_cast<const WAVEFORMATEX*>(wma.fmt.data()));
        FAIL() << "no exception";
    } catch (const EMMConverterError& e) {
        EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
}

TEST(ConverterTest, PcmConverterProperties) {
    TMMPCMConverter pcm;
    EXPECT_TRUE(pcm.AutoConvert());
    EXPECT_EQ(pcm.SampleRate(), 11025);
    EXPECT_EQ(pcm.BitLength(), b8Bit);
    EXPECT_EQ(pcm.Mode(), mMono);
    EXPECT_EQ(pcm.Quality(), cqLow);
    pcm.SetSampleRate(100);
    EXPECT_EQ(pcm.SampleRate(), 8000);
    pcm.SetSampleRate(96000);
    EXPECT_EQ(pcm.SampleRate(), 88200);
    pcm.SetMode(mMultiChannel);
    EXPECT_EQ(pcm.Mode(), mMono);

    // Without AutoConvert the required members are imposed where the layer can do it: bits
    // and channels, at the input's rate (rate changes are not offered).
    WavData w;
    w.fmt = le16(1) + le16(2) + le32(22050) + le32(88200) + le16(4) + le16(16) + le16(0);
    std::string data;
    for (int i = 0; i < 100; ++i) data += le16(uint16_t(i * 256)) + le16(uint16_t(i * 256));
    w.data = data;
    Chain chain(w);
    chain.pcm.SetRequired(prBits | prChannels);
    chain.pcm.SetAutoConvert(false);
    ASSERT_EQ(chain.pcm.PWaveFormat()->wBitsPerSample, 8);
    EXPECT_EQ(chain.pcm.PWaveFormat()->nChannels, 1);
    EXPECT_EQ(chain.pcm.PWaveFormat()->nSamplesPerSec, 22050u);
    chain.open();
    const std::string out = chain.pull();
    ASSERT_EQ(out.size(), 100u);
    EXPECT_EQ(uint8_t(out[5]), 128 + 5);
    // With the rate required too, no conversion is possible: the input passes unchanged.
    chain.pcm.Closed();
    chain.pcm.SetRequired(prBits | prChannels | prRate);
    EXPECT_EQ(chain.pcm.PWaveFormat()->wBitsPerSample, 16);
    EXPECT_FALSE(chain.pcm.Converting());
}

TEST(ConverterTest, RandomBytesInEveryFormatDecodeWithinTheirBounds) {
    // Damaged data must give sound of the expected length, never a crash or an overrun.
    std::mt19937 rng(11);
    struct Case {
        std::string fmt;
        uint32_t block, framesPerBlock, channels;
    };
    const std::string msExtra = le16(32) + le16(500) + le16(7) + le16(256) + le16(0) + le16(512) + le16(uint16_t(-256)) +
                                le16(0) + le16(0) + le16(192) + le16(64) + le16(240) + le16(0) + le16(460) +
                                le16(uint16_t(-208)) + le16(392) + le16(uint16_t(-232));
    const Case cases[] = {
        {le16(WAVE_FORMAT_ADPCM) + le16(2) + le32(22050) + le32(22311) + le16(512) + le16(4) + msExtra, 512, 500, 2},
        {le16(WAVE_FORMAT_DVI_ADPCM) + le16(2) + le32(22050) + le32(22311) + le16(512) + le16(4) + le16(2) + le16(505),
         512, 505, 2},
        {le16(WAVE_FORMAT_GSM610) + le16(1) + le32(8000) + le32(1625) + le16(65) + le16(0) + le16(2) + le16(320), 65,
         320, 1},
        {le16(WAVE_FORMAT_ALAW) + le16(2) + le32(8000) + le32(16000) + le16(2) + le16(8) + le16(0), 2, 1, 2},
        {le16(WAVE_FORMAT_IEEE_FLOAT) + le16(1) + le32(8000) + le32(64000) + le16(8) + le16(64) + le16(0), 8, 1, 1},
    };
    for (const Case& c : cases) {
        for (int round = 0; round < 4; ++round) {
            WavData w;
            w.fmt = c.fmt;
            const size_t blocks = 3 + rng() % 20;
            w.data.resize(blocks * c.block + (round == 3 ? 0 : rng() % c.block));
            for (char& b : w.data) b = char(rng());
            Chain chain(w);
            chain.src.piece = c.block + rng() % 5000;  // smaller pieces would stall, by design
            chain.open();
            const std::string pcm = chain.pull(1 + rng() % 40000);
            SCOPED_TRACE(rd16(c.fmt, 0));
            EXPECT_GE(pcm.size(), blocks * c.framesPerBlock * 2 * std::min<uint32_t>(c.channels, 2));
            EXPECT_LE(pcm.size(), (blocks + 1) * c.framesPerBlock * 2 * std::min<uint32_t>(c.channels, 2));
        }
    }
}
