// The conversion layer against sox: every compressed or wide format sox writes becomes 16-bit
// PCM within one step of sox's own decode; suggestions; channel downmix; stream chunking.
#include "platform/ACM.h"

#include "ImportTestUtil.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testutil;
using importtest::WavData;

namespace {

// The fmt chunk as a format record with its extra bytes behind it.
std::vector<uint8_t> formatOf(const WavData& w) {
    std::vector<uint8_t> f(std::max<size_t>(w.fmt.size(), sizeof(WAVEFORMATEX)) + 32, 0);
    std::memcpy(f.data(), w.fmt.data(), w.fmt.size());
    return f;
}
const WAVEFORMATEX* fmt(const std::vector<uint8_t>& f) { return reinterpret_cast<const WAVEFORMATEX*>(f.data()); }

// Converts all of data in pieces of piece bytes, as a converter feeding a stream does:
// leftovers go in front of the next piece, the last call flushes.
std::string convertAll(AcmStream& s, const std::string& data, uint32_t piece) {
    std::string out, pending;
    size_t pos = 0;
    for (;;) {
        const size_t take = std::min<size_t>(piece, data.size() - pos);
        pending += data.substr(pos, take);
        pos += take;
        const bool end = pos == data.size();
        std::string dst(s.DestinationSize(uint32_t(pending.size())) + 8, '\0');
        uint32_t used = 0, made = 0;
        EXPECT_EQ(s.Convert(reinterpret_cast<const uint8_t*>(pending.data()), uint32_t(pending.size()),
                            reinterpret_cast<uint8_t*>(dst.data()), uint32_t(dst.size()), used, made, end),
                  MMSYSERR_NOERROR);
        out.append(dst.data(), made);
        pending.erase(0, used);
        if (end) break;
    }
    return out;
}

struct Decoded {
    WAVEFORMATEX format{};
    std::string ours, sox;
};

// Encodes a tone with the sox options given, then decodes it with sox and with a stream to
// the suggested PCM.
Decoded decodeBoth(const TempDir& dir, const std::string& name, const std::string& synth,
                   const std::string& encodeOptions, uint32_t piece = 4096) {
    Decoded d;
    const std::string enc = dir.file(name + ".wav"), ref = dir.file(name + ".ref.wav");
    EXPECT_EQ(run("sox -n " + encodeOptions + " " + shellQuote(enc) + " synth " + synth + " 2>/dev/null"), 0);
    EXPECT_EQ(run("sox " + shellQuote(enc) + " -e signed-integer -b 16 -D " + shellQuote(ref) + " 2>/dev/null"), 0);
    const WavData src = importtest::readWav(enc), soxPcm = importtest::readWav(ref);
    EXPECT_TRUE(src.ok && soxPcm.ok);
    const auto f = formatOf(src);
    EXPECT_EQ(acmFormatSuggest(fmt(f), &d.format, 0), MMSYSERR_NOERROR);
    std::unique_ptr<AcmStream> s;
    EXPECT_EQ(AcmStream::Open(&s, fmt(f), &d.format), MMSYSERR_NOERROR);
    if (!s) return d;
    d.ours = convertAll(*s, src.data, piece);
    d.sox = soxPcm.data;
    return d;
}

// Same sound within one step; the decoded lengths may differ by the padding of the last block.
void expectWithinOneStep(const Decoded& d, size_t slackBytes) {
    ASSERT_FALSE(d.ours.empty());
    const size_t n = std::min(d.ours.size(), d.sox.size());
    EXPECT_LE(std::max(d.ours.size(), d.sox.size()) - n, slackBytes);
    EXPECT_GT(n, d.sox.size() * 9 / 10);
    EXPECT_LE(importtest::maxDiff16(d.ours.substr(0, n), d.sox.substr(0, n)), 1);
}

}  // namespace

TEST(AcmTest, CompressedFormatsDecodeLikeSox) {
    TempDir dir;
    const std::string music = "2.3 sine 220 sine 331 tremolo 3 60 gain -3";
    struct Case {
        const char* name;
        std::string options;
        uint16_t channels;
        size_t slack;
    } cases[] = {
        {"alaw", "-r 8000 -c 2 -e a-law", 2, 0},
        {"ulaw", "-r 8000 -c 1 -e u-law", 1, 0},
        {"ima", "-r 22050 -c 2 -e ima-adpcm", 2, 2048},
        {"ima-mono", "-r 11025 -c 1 -e ima-adpcm", 1, 2048},
        {"gsm", "-r 8000 -c 1 -e gsm-full-rate", 1, 640},
        {"float", "-r 44100 -c 2 -e floating-point -b 32", 2, 0},
        {"double", "-r 44100 -c 1 -e floating-point -b 64", 1, 0},
        {"pcm24", "-r 48000 -c 2 -b 24", 2, 0},
        {"pcm32", "-r 44100 -c 2 -b 32", 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = decodeBoth(dir, c.name, music, c.options);
        EXPECT_EQ(d.format.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(d.format.wBitsPerSample, 16);
        EXPECT_EQ(d.format.nChannels, c.channels);
        expectWithinOneStep(d, c.slack);
    }
}

TEST(AcmTest, GsmIsBitExactAcrossOddChunks) {
    TempDir dir;
    // Pieces that cut blocks: the decoder state must carry over and leftovers wait.
    const Decoded d = decodeBoth(dir, "gsm", "3 sine 300-900 gain -2", "-r 8000 -c 1 -e gsm-full-rate", 1000);
    const size_t n = std::min(d.ours.size(), d.sox.size());
    ASSERT_GT(n, 40000u);
    EXPECT_EQ(d.ours.substr(0, n), d.sox.substr(0, n));
}

TEST(AcmTest, SixChannelsBecomeAStereoMixWithoutClipping) {
    TempDir dir;
    // A full-scale tone on the front left only, then on the centre only.
    const std::string src = dir.file("six.wav");
    ASSERT_EQ(run("sox -D -n -r 44100 -c 6 -b 16 " + shellQuote(src) +
                  " synth 0.5 sine 440 sine 440 sine 440 sine 440 sine 440 sine 440 remix 1 0 0 0 0 0 2>/dev/null"),
              0);
    WavData w = importtest::readWav(src);
    ASSERT_TRUE(w.ok);
    auto f = formatOf(w);
    WAVEFORMATEX out{};
    ASSERT_EQ(acmFormatSuggest(fmt(f), &out, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(out.nChannels, 2);
    EXPECT_EQ(out.wBitsPerSample, 16);
    std::unique_ptr<AcmStream> s;
    ASSERT_EQ(AcmStream::Open(&s, fmt(f), &out), MMSYSERR_NOERROR);
    const auto pcm = importtest::samples16(convertAll(*s, w.data, 6000));
    const auto in = importtest::samples16(w.data);
    ASSERT_EQ(pcm.size(), in.size() / 3);
    int peakL = 0, peakR = 0;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
        peakL = std::max(peakL, std::abs(int(pcm[i])));
        peakR = std::max(peakR, std::abs(int(pcm[i + 1])));
    }
    EXPECT_GT(peakL, 5000);
    EXPECT_EQ(peakR, 0);

    // Centre only (channel 3): equal in both sides.
    const std::string centre = dir.file("centre.wav");
    ASSERT_EQ(run("sox -D -n -r 44100 -c 6 -b 16 " + shellQuote(centre) +
                  " synth 0.5 sine 440 sine 440 sine 440 sine 440 sine 440 sine 440 remix 0 0 3 0 0 0 2>/dev/null"),
              0);
    w = importtest::readWav(centre);
    f = formatOf(w);
    ASSERT_EQ(AcmStream::Open(&s, fmt(f), &out), MMSYSERR_NOERROR);
    const auto mix = importtest::samples16(convertAll(*s, w.data, 6000));
    int peak = 0;
    for (size_t i = 0; i + 1 < mix.size(); i += 2) {
        EXPECT_EQ(mix[i], mix[i + 1]);
        peak = std::max(peak, std::abs(int(mix[i])));
    }
    EXPECT_GT(peak, 3000);
}

TEST(AcmTest, SuggestionsAndRefusals) {
    WAVEFORMATEX pcm8{1, 1, 11025, 11025, 1, 8, 0};
    WAVEFORMATEX out{};
    ASSERT_EQ(acmFormatSuggest(&pcm8, &out, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(out.wBitsPerSample, 8);
    EXPECT_EQ(out.nBlockAlign, 1);

    // Fixed fields are kept; a rate it cannot produce is refused.
    out = WAVEFORMATEX{};
    out.wFormatTag = 1;
    out.nChannels = 2;
    out.wBitsPerSample = 16;
    ASSERT_EQ(acmFormatSuggest(&pcm8, &out, ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                                                ACM_FORMATSUGGESTF_WBITSPERSAMPLE),
              MMSYSERR_NOERROR);
    EXPECT_EQ(out.nChannels, 2);
    EXPECT_EQ(out.nBlockAlign, 4);
    EXPECT_EQ(out.nAvgBytesPerSec, 44100u);
    out.nSamplesPerSec = 22050;
    EXPECT_EQ(acmFormatSuggest(&pcm8, &out, ACM_FORMATSUGGESTF_NSAMPLESPERSEC), ACMERR_NOTPOSSIBLE);

    // Formats it has no decoder for, and destinations that are not plain PCM.
    WAVEFORMATEX mp3{WAVE_FORMAT_MPEGLAYER3, 2, 44100, 16000, 1, 0, 0};
    EXPECT_EQ(acmFormatSuggest(&mp3, &out, 0), ACMERR_NOTPOSSIBLE);
    WAVEFORMATEX pcm16{1, 2, 44100, 176400, 4, 16, 0};
    WAVEFORMATEX pcm24{1, 2, 44100, 264600, 6, 24, 0};
    EXPECT_EQ(AcmStream::Open(nullptr, &pcm16, &pcm24, true), ACMERR_NOTPOSSIBLE);
    WAVEFORMATEX other = pcm16;
    other.nSamplesPerSec = 48000;
    EXPECT_EQ(AcmStream::Open(nullptr, &pcm16, &other, true), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(AcmStream::Open(nullptr, &pcm16, &pcm16, true), MMSYSERR_NOERROR);

    // 16-bit stereo to 8-bit mono: the mean of both sides, offset to unsigned.
    WAVEFORMATEX mono8{1, 1, 44100, 44100, 1, 8, 0};
    std::unique_ptr<AcmStream> s;
    ASSERT_EQ(AcmStream::Open(&s, &pcm16, &mono8), MMSYSERR_NOERROR);
    const int16_t in[6] = {256, 768, -32768, -32768, 32767, 32767};
    uint8_t outBytes[4] = {};
    uint32_t used = 0, made = 0;
    ASSERT_EQ(s->Convert(reinterpret_cast<const uint8_t*>(in), 12, outBytes, 3, used, made), MMSYSERR_NOERROR);
    EXPECT_EQ(used, 12u);
    EXPECT_EQ(made, 3u);
    EXPECT_EQ(outBytes[0], 130);
    EXPECT_EQ(outBytes[1], 0);
    EXPECT_EQ(outBytes[2], 255);

    // Room for one frame only: one frame is used, the rest waits.
    ASSERT_EQ(s->Convert(reinterpret_cast<const uint8_t*>(in), 12, outBytes, 1, used, made), MMSYSERR_NOERROR);
    EXPECT_EQ(used, 4u);
    EXPECT_EQ(made, 1u);
}

TEST(AcmTest, FloatIsScaledClippedAndRounded) {
    WAVEFORMATEX f32{WAVE_FORMAT_IEEE_FLOAT, 1, 8000, 32000, 4, 32, 0};
    WAVEFORMATEX out{};
    ASSERT_EQ(acmFormatSuggest(&f32, &out, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(out.wBitsPerSample, 16);
    std::unique_ptr<AcmStream> s;
    ASSERT_EQ(AcmStream::Open(&s, &f32, &out), MMSYSERR_NOERROR);
    const float in[6] = {0.0f, 0.5f, -1.0f, 1.0f, 3.0f, 1.0f / 65536.0f};
    int16_t pcm[6] = {};
    uint32_t used = 0, made = 0;
    ASSERT_EQ(s->Convert(reinterpret_cast<const uint8_t*>(in), 24, reinterpret_cast<uint8_t*>(pcm), 12, used, made),
              MMSYSERR_NOERROR);
    EXPECT_EQ(made, 12u);
    EXPECT_EQ(pcm[0], 0);
    EXPECT_EQ(pcm[1], 16384);
    EXPECT_EQ(pcm[2], -32768);
    EXPECT_EQ(pcm[3], 32767);
    EXPECT_EQ(pcm[4], 32767);
    EXPECT_EQ(pcm[5], 1);  // half a step rounds up
}
