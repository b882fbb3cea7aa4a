// The audio file reader inside the import chain (reader -> trigger -> wave file), checked
// against the outside tools: MP3s against mpg123 -w, PCM waves byte for byte, compressed and
// wide waves against sox; plus its errors, end tail, envelope, positions and damaged input.
#include "ImportChainUtil.h"
#include "ImportTestUtil.h"

#include "audio/MMUtils.h"
#include "import/MMACMCvt.h"
#include "import/MMADCvt.h"
#include "import/MMAudio.h"
#include "import/MMMPEG.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace testutil;
using importchain::importFile;
using importtest::readWav;
using importtest::WavData;

namespace {

// A RIFF WAVE of PCM written field by field.
std::string pcmWave(int bits, int channels, int rate, const std::string& data) {
    const int align = channels * bits / 8;
    return "RIFF" + le32(uint32_t(36 + data.size())) + "WAVE" + "fmt " + le32(16) + le16(1) + le16(uint16_t(channels)) +
           le32(uint32_t(rate)) + le32(uint32_t(rate * align)) + le16(uint16_t(align)) + le16(uint16_t(bits)) + "data" +
           le32(uint32_t(data.size())) + data;
}

std::string stereoFrames(size_t frames, int16_t left, int16_t right) {
    std::string s;
    for (size_t i = 0; i < frames; ++i) s += le16(uint16_t(left)) + le16(uint16_t(right));
    return s;
}

std::string sineFrames(size_t frames) {
    std::string s;
    for (size_t i = 0; i < frames; ++i)
        s += le16(uint16_t(int16_t(9000 * std::sin(i * 0.05)))) + le16(uint16_t(int16_t(7000 * std::sin(i * 0.031))));
    return s;
}

// The imported data equals the reference, or the reference followed by the four-byte tail.
::testing::AssertionResult equalApartFromTail(const std::string& got, const std::string& ref) {
    if (got == ref) return ::testing::AssertionSuccess();
    if (got.size() == ref.size() + 4 && got.compare(0, ref.size(), ref) == 0 && got.substr(ref.size()) == std::string(4, '\0'))
        return ::testing::AssertionSuccess();
    const size_t n = std::min(got.size(), ref.size());
    size_t i = 0;
    while (i < n && got[i] == ref[i]) ++i;
    return ::testing::AssertionFailure() << "sizes " << got.size() << " / " << ref.size() << ", first difference at byte " << i;
}

class AudioFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!MpegLibrary()) GTEST_SKIP() << "decoder library missing";
    }
    TempDir dir;
};

}  // namespace

TEST_F(AudioFileTest, Mp3ImportEqualsTheReferencePlayerSampleForSample) {
    if (!haveTool("lame") || !haveTool("mpg123")) GTEST_SKIP() << "lame or mpg123 missing";
    struct Case {
        const char* name;
        std::string lame;
        int rate, channels;
    };
    const Case cases[] = {
        {"stereo", "-b 128", 44100, 2}, {"mono", "-b 64 -m m", 44100, 1}, {"mpeg2", "-b 48", 22050, 2},
        {"mpeg25", "-b 16 -m m", 8000, 1}, {"vbr", "-V 2", 44100, 2},
        // Decoded from the first frame without a rewind: a seek resets the decoder and its
        // first frames then differ from a plain decode by one step here and there.
        {"mpeg2mono", "-b 128 -m m", 22050, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string mp3 = dir.file(std::string(c.name) + ".mp3");
        ASSERT_TRUE(makeMp3(mp3, 6.1, c.lame, c.rate, c.channels));
        const WavData ref = importtest::mpg123Decode(mp3, dir.file(std::string(c.name) + ".ref.wav"));
        ASSERT_TRUE(ref.ok);

        {
            TMMAudioFile audio;
            audio.SetFileName(mp3);
            EXPECT_EQ(audio.FileType(), ftMpeg);
            ASSERT_NE(audio.PWaveFormat(), nullptr);
            EXPECT_EQ(audio.PWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
            EXPECT_EQ(audio.PWaveFormat()->wBitsPerSample, 16);
            EXPECT_EQ(audio.PWaveFormat()->nChannels, c.channels);
            EXPECT_EQ(int(audio.PWaveFormat()->nSamplesPerSec), c.rate);
            EXPECT_EQ(audio.Length(), audio.MpegFile()->Time());
            EXPECT_EQ(audio.BlockSize(), audio.MpegFile()->Mpeg()->BytesPerFrame());
        }

        const std::string out = dir.file(std::string(c.name) + ".out.wav");
        const auto run = importFile(mp3, out);
        EXPECT_TRUE(run.stopped);
        EXPECT_TRUE(run.stopInMainThread);
        EXPECT_FALSE(run.workerFailed) << run.workerError;
        const WavData got = readWav(out);
        ASSERT_TRUE(got.ok);
        EXPECT_EQ(got.tag, 1);
        EXPECT_EQ(got.bits, 16);
        EXPECT_EQ(got.channels, ref.channels);
        EXPECT_EQ(got.rate, ref.rate);
        EXPECT_TRUE(equalApartFromTail(got.data, ref.data));
        EXPECT_EQ(run.buffersReady, int((got.data.size() + 32767) / 32768));
    }
}

TEST_F(AudioFileTest, AnMp3EndingOnABufferBoundaryGetsTheFourByteTail) {
    if (!haveTool("lame") || !haveTool("mpg123")) GTEST_SKIP() << "lame or mpg123 missing";
    // Gapless decoding gives back exactly the frames encoded: 5 buffers of 32768 bytes.
    const std::string wav = dir.file("b.wav"), mp3 = dir.file("b.mp3");
    writeFile(wav, pcmWave(16, 2, 44100, sineFrames(5 * 8192)));
    ASSERT_EQ(run("lame --quiet -b 128 " + shellQuote(wav) + " " + shellQuote(mp3)), 0);
    const WavData ref = importtest::mpg123Decode(mp3, dir.file("b.ref.wav"));
    ASSERT_EQ(ref.data.size(), size_t(5 * 32768));

    const auto r = importFile(mp3, dir.file("b.out.wav"));
    const WavData got = readWav(dir.file("b.out.wav"));
    EXPECT_EQ(got.data, ref.data + std::string(4, '\0'));
    EXPECT_EQ(r.buffersReady, 6);  // the tail travels as a buffer of its own
}

TEST_F(AudioFileTest, PcmWavesPassThroughWithTheirFormatAndBytes) {
    struct Case { int bits, channels, rate; size_t bytes; };
    for (const Case& c : {Case{16, 2, 44100, 100000}, Case{8, 1, 11025, 40001}, Case{16, 2, 8000, 2 * 32768}}) {
        SCOPED_TRACE(c.bits * 1000 + c.channels);
        std::string data;
        for (size_t i = 0; i < c.bytes; ++i) data += char((i * 37 + i / 101) & 0xFF);
        const std::string in = dir.file("in.wav"), out = dir.file("out.wav");
        writeFile(in, pcmWave(c.bits, c.channels, c.rate, data));
        TMMAudioFile audio;
        audio.SetFileName(in);
        EXPECT_EQ(audio.FileType(), ftWave);
        const int64_t ms = (int64_t(c.bytes) * 1000 * 8 / (c.bits * c.channels) + c.rate / 2) / c.rate;
        EXPECT_EQ(audio.Length(), ms);

        const auto r = importFile(in, out);
        EXPECT_FALSE(r.workerFailed);
        const WavData got = readWav(out);
        EXPECT_EQ(got.tag, 1);
        EXPECT_EQ(got.bits, c.bits);
        EXPECT_EQ(got.channels, c.channels);
        EXPECT_EQ(int(got.rate), c.rate);
        // The wave source says "no more" with its last bytes, so no tail follows even on a
        // buffer boundary.
        EXPECT_TRUE(got.data == data) << got.data.size();
    }
}

TEST_F(AudioFileTest, CompressedFloatAndWideWavesBecomeSixteenBitPcmLikeSox) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox missing";
    const std::string src = dir.file("src.wav");
    ASSERT_TRUE(makeToneWav(src, 2.5, 22050, 2, 16));
    struct Case { const char* name; const char* options; };
    const Case cases[] = {
        {"msadpcm", "-e ms-adpcm"}, {"imaadpcm", "-e ima-adpcm"}, {"alaw", "-e a-law"}, {"ulaw", "-e u-law"},
        {"gsm", "-e gsm-full-rate -r 8000 -c 1"}, {"float", "-e floating-point -b 32"}, {"pcm24", "-b 24"},
        {"pcm32", "-b 32"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = dir.file(std::string(c.name) + ".wav");
        const std::string ref = dir.file(std::string(c.name) + ".ref.wav");
        const std::string out = dir.file(std::string(c.name) + ".out.wav");
        ASSERT_EQ(run("sox " + shellQuote(src) + " " + c.options + " " + shellQuote(in)), 0);
        ASSERT_EQ(run("sox -D " + shellQuote(in) + " -b 16 -e signed-integer " + shellQuote(ref)), 0);
        const auto r = importFile(in, out);
        EXPECT_FALSE(r.workerFailed) << r.workerError;
        const WavData got = readWav(out), want = readWav(ref);
        ASSERT_TRUE(got.ok);
        EXPECT_EQ(got.tag, 1);
        EXPECT_EQ(got.bits, 16);
        EXPECT_EQ(got.channels, want.channels);
        EXPECT_EQ(got.rate, want.rate);
        EXPECT_LE(importtest::maxDiff16(got.data, want.data), 1);
    }
    // More than two channels: a stereo mix the editor can show, every frame kept.
    const std::string six = dir.file("six.wav"), out = dir.file("six.out.wav");
    ASSERT_EQ(run("sox -n -r 44100 -c 6 -b 16 " + shellQuote(six) + " synth 1.5 sine 300 vol 0.3"), 0);
    importFile(six, out);
    const WavData got = readWav(out), in = readWav(six);
    EXPECT_EQ(got.tag, 1);
    EXPECT_EQ(got.bits, 16);
    EXPECT_EQ(got.channels, 2);
    EXPECT_EQ(got.data.size() / 4, in.data.size() / 12);
}

TEST_F(AudioFileTest, WhatIsNoAudioFileRaisesAndAMissingFileLeavesTheReaderEmpty) {
    for (const char* name : {"text.mp3", "text.wav"}) {
        const std::string path = dir.file(name);
        writeFile(path, "This is a plain text file, not sound at all.\n");
        TMMAudioFile audio;
        try {
            audio.SetFileName(path);
            FAIL() << name << " accepted";
        } catch (const EMMAudioFileError& e) {
            EXPECT_STREQ(e.what(), "This is not a valid Audiofile");
        }
        EXPECT_EQ(audio.FileName(), "");
        EXPECT_EQ(audio.PWaveFormat(), nullptr);
        EXPECT_EQ(audio.Length(), 0);
        EXPECT_TRUE(audio.IsEmpty());
    }
    TMMAudioFile audio;
    TMMTrigger trigger;
    audio.SetOutput(&trigger);
    audio.SetFileName(dir.file("missing.mp3"));  // no error
    EXPECT_TRUE(audio.IsEmpty());
    EXPECT_EQ(audio.PWaveFormat(), nullptr);
    try {
        trigger.Start();
        FAIL() << "started without input";
    } catch (const EMMTriggerError& e) {
        EXPECT_EQ(std::string(e.what()), TriggerOpenError());
    }
    EXPECT_EQ(DSPThreadCount(), 0u);
}

TEST_F(AudioFileTest, VolumeAndPanningScaleTheSamplesAndAreClamped) {
    const std::string in = dir.file("c.wav");
    writeFile(in, pcmWave(16, 2, 8000, stereoFrames(5000, 1000, -2000)));
    TMMAudioFile audio;
    audio.SetVolume(40000);
    EXPECT_EQ(audio.Volume(), 32768);
    audio.SetPanning(-40000);
    EXPECT_EQ(audio.Panning(), -32768);

    struct Case { int32_t volume, panning; int16_t left, right; };
    for (const Case& c : {Case{16384, 0, 1000, -2000}, Case{8192, 0, 500, -1000}, Case{32768, 16384, 1000, -4000},
                          Case{16384, -16384, 1000, -1000}, Case{0, 0, 0, 0}}) {
        SCOPED_TRACE(std::to_string(c.volume) + " " + std::to_string(c.panning));
        TMMAudioFile reader;
        TMMTrigger trigger;
        TMMWaveFile wave;
        reader.SetFileName(in);
        reader.SetVolume(c.volume);
        reader.SetPanning(c.panning);
        wave.Wave()->SetFileMustExist(false);
        wave.Wave()->SetFileName(dir.file("c.out.wav"));
        reader.SetOutput(&trigger);
        trigger.SetOutput(&wave);
        trigger.SetBufferSize(4096);
        bool stopped = false;
        trigger.OnStop = [&](TMMComponent*) { stopped = true; };
        trigger.Start();
        ASSERT_TRUE(importchain::waitUntil([&] { return stopped; }));
        trigger.Close();
        EXPECT_EQ(readWav(dir.file("c.out.wav")).data, stereoFrames(5000, c.left, c.right));
    }
}

TEST_F(AudioFileTest, PositionCountsTheDeliveredBytesUpToTheLength) {
    const std::string in = dir.file("p.wav");
    writeFile(in, pcmWave(16, 2, 44100, sineFrames(44100 * 3)));
    TMMAudioFile audio;
    TMMTrigger trigger;
    TMMWaveFile wave;
    audio.SetFileName(in);
    EXPECT_EQ(audio.Length(), 3000);
    EXPECT_EQ(audio.Position(), 0);
    wave.Wave()->SetFileMustExist(false);
    wave.Wave()->SetFileName(dir.file("p.out.wav"));
    audio.SetOutput(&trigger);
    trigger.SetOutput(&wave);
    trigger.SetBufferSize(32768);
    std::vector<int32_t> positions;
    trigger.OnBufferReady = [&](TMMComponent*, PMMWaveHdr) { positions.push_back(audio.Position()); };
    bool stopped = false;
    trigger.OnStop = [&](TMMComponent*) { stopped = true; };
    trigger.Start();
    ASSERT_TRUE(importchain::waitUntil([&] { return stopped; }));
    trigger.Close();
    ASSERT_EQ(positions.size(), size_t((44100 * 12 + 32767) / 32768));
    // A buffer is passed on before the next one is loaded.
    EXPECT_EQ(positions.front(), int32_t(std::lround(32768 * 1000.0 / 176400)));
    for (size_t i = 1; i < positions.size(); ++i) EXPECT_GE(positions[i], positions[i - 1]);
    EXPECT_EQ(positions.back(), 3000);
    EXPECT_TRUE(audio.EndReached());
}

TEST_F(AudioFileTest, TheChannelModeIsFixedWhileOpenAndItsFormatReachesTheTrigger) {
    if (!haveTool("lame")) GTEST_SKIP() << "lame missing";
    const std::string mp3 = dir.file("s.mp3");
    ASSERT_TRUE(makeMp3(mp3, 2.0, "-b 128"));
    TMMAudioFile audio;
    TMMTrigger trigger;
    TMMWaveFile wave;
    audio.SetFileName(mp3);
    wave.Wave()->SetFileMustExist(false);
    wave.Wave()->SetFileName(dir.file("s.out.wav"));
    audio.SetOutput(&trigger);
    trigger.SetOutput(&wave);
    trigger.Open();
    try {
        audio.MpegFile()->SetChannelMode(cmLeft);
        FAIL() << "changed while open";
    } catch (const EMMMpegError& e) {
        EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
    trigger.Close();
    audio.MpegFile()->SetChannelMode(cmDownMix);
    ASSERT_NE(trigger.PWaveFormat(), nullptr);
    EXPECT_EQ(audio.PWaveFormat()->nChannels, 1);
    EXPECT_EQ(trigger.PWaveFormat()->nChannels, 1);
}

TEST_F(AudioFileTest, ADamagedMp3ImportsWhatCanBeDecoded) {
    if (!haveTool("lame") || !haveTool("mpg123")) GTEST_SKIP() << "lame or mpg123 missing";
    const std::string mp3 = dir.file("d.mp3");
    ASSERT_TRUE(makeMp3(mp3, 10.0, "-b 128"));
    const WavData ref = importtest::mpg123Decode(mp3, dir.file("d.ref.wav"));
    std::string bytes = readFile(mp3);
    // Garbage over a stretch in the middle, and the end cut inside a frame.
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 5000; ++i) bytes[i] = char((i * 7919) & 0xFF);
    bytes.resize(bytes.size() - 777);
    const std::string bad = dir.file("bad.mp3");
    writeFile(bad, bytes);

    const auto r = importFile(bad, dir.file("bad.out.wav"));
    EXPECT_TRUE(r.stopped);
    const WavData got = readWav(dir.file("bad.out.wav"));
    ASSERT_TRUE(got.ok);
    EXPECT_GT(got.data.size(), ref.data.size() * 3 / 4);
    EXPECT_LE(got.data.size(), ref.data.size() + 4);
    // Up to the damage the sound is the undamaged file's.
    const size_t intact = ref.data.size() / 3;
    EXPECT_TRUE(got.data.compare(0, intact, ref.data, 0, intact) == 0);
}

TEST_F(AudioFileTest, MpegAudioInsideARiffWaveGoesThroughTheMpegSource) {
    if (!haveTool("lame") || !haveTool("mpg123") || !haveTool("ffmpeg")) GTEST_SKIP() << "lame, mpg123 or ffmpeg missing";
    const std::string mp3 = dir.file("s.mp3"), wav = dir.file("s.wav");
    ASSERT_TRUE(makeMp3(mp3, 3.0, "-b 128"));
    ASSERT_EQ(run("ffmpeg -v quiet -y -i " + shellQuote(mp3) + " -c:a copy -f wav " + shellQuote(wav)), 0);
    ASSERT_EQ(readWav(wav).tag, 0x55);
    TMMAudioFile audio;
    audio.SetFileName(wav);
    EXPECT_EQ(audio.FileType(), ftMpeg);
    ASSERT_NE(audio.PWaveFormat(), nullptr);
    EXPECT_EQ(audio.PWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);

    const WavData ref = importtest::mpg123Decode(wav, dir.file("s.ref.wav"));
    importFile(wav, dir.file("s.out.wav"));
    EXPECT_TRUE(equalApartFromTail(readWav(dir.file("s.out.wav")).data, ref.data));
}

TEST_F(AudioFileTest, AWaveNothingCanConvertIsRefusedAndLeavesTheReaderEmpty) {
    // Tag 0x161 with two bytes of extra format: no decoder or conversion for it.
    const std::string body(4000, '\x5a');
    const std::string fmt = le16(0x161) + le16(2) + le32(44100) + le32(16000) + le16(2230) + le16(16) + le16(0);
    writeFile(dir.file("x.wav"), "RIFF" + le32(uint32_t(4 + 8 + fmt.size() + 8 + body.size())) + "WAVE" + "fmt " +
                                     le32(uint32_t(fmt.size())) + fmt + "data" + le32(uint32_t(body.size())) + body);
    TMMAudioFile audio;
    TMMTrigger trigger;
    audio.SetOutput(&trigger);
    try {
        audio.SetFileName(dir.file("x.wav"));
        FAIL() << "accepted";
    } catch (const EMMConverterError& e) {
        EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
    EXPECT_TRUE(audio.IsEmpty());
    EXPECT_EQ(audio.FileName(), "");
    EXPECT_EQ(audio.PWaveFormat(), nullptr);
    EXPECT_EQ(trigger.PWaveFormat(), nullptr);
    EXPECT_EQ(audio.ADPCMConverter()->Input(), nullptr);
}

TEST_F(AudioFileTest, AnImportStartsWhereThePositionWasSet) {
    const std::string frames = sineFrames(44100 * 2);
    const std::string in = dir.file("pos.wav"), out = dir.file("pos.out.wav");
    writeFile(in, pcmWave(16, 2, 44100, frames));
    TMMAudioFile audio;
    TMMTrigger trigger;
    TMMWaveFile wave;
    audio.SetFileName(in);
    audio.SetPosition(5000);  // limited to the end of the range
    EXPECT_EQ(audio.Position(), 2000);
    audio.SetPosition(1500);
    EXPECT_EQ(audio.Position(), 1500);
    wave.Wave()->SetFileMustExist(false);
    wave.Wave()->SetFileName(out);
    audio.SetOutput(&trigger);
    trigger.SetOutput(&wave);
    bool stopped = false;
    trigger.OnStop = [&](TMMComponent*) { stopped = true; };
    trigger.Start();
    ASSERT_TRUE(importchain::waitUntil([&] { return stopped; }));
    EXPECT_EQ(audio.Position(), 2000);
    trigger.Close();
    EXPECT_EQ(readWav(out).data, frames.substr(size_t(44100 * 3 / 2) * 4));
}
