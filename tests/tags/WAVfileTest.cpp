#include "tags/WAVfile.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

// "RIFF" size "WAVE", then a fmt chunk of fmtSize bytes (the 16 common ones, then cbSize and
// zeros when longer).
std::string riffHead(uint32_t riffSize, uint16_t formatTag, uint16_t channels, uint32_t rate, uint16_t bits,
                     uint32_t fmtSize = 16) {
    const uint16_t align = uint16_t(channels * bits / 8);
    std::string s = "RIFF" + le32(riffSize) + "WAVE" + "fmt " + le32(fmtSize) + le16(formatTag) + le16(channels) +
                    le32(rate) + le32(rate * align) + le16(align) + le16(bits);
    s.resize(20 + fmtSize, '\0');
    return s;
}

std::string chunk(const std::string& id, const std::string& data) { return id + le32(uint32_t(data.size())) + data; }

struct Read {
    bool ok = false;
    TWAVfile wav;
};

std::unique_ptr<Read> readBytes(const TempDir& dir, const std::string& bytes) {
    const std::string path = dir.file("a.wav");
    writeFile(path, bytes);
    auto r = std::make_unique<Read>();
    r->ok = r->wav.ReadFromFile(path);
    return r;
}

}  // namespace

TEST(WAVfileTest, CanonicalPcmHeader) {
    TempDir dir;
    // 10 s of 16-bit stereo at 44100 Hz: 1,764,000 data bytes behind a 44-byte header.
    const std::string data(1764000, '\x01');
    const auto r = readBytes(dir, riffHead(1764036, 1, 2, 44100, 16) + chunk("data", data));
    ASSERT_TRUE(r->ok);
    const TWAVfile& w = r->wav;
    EXPECT_TRUE(w.Valid());
    EXPECT_EQ(w.FormatTag(), 1);
    EXPECT_EQ(w.ChannelCount(), 2);
    EXPECT_EQ(w.ChannelMode(), "Stereo");
    EXPECT_EQ(w.SampleRate(), 44100u);
    EXPECT_EQ(w.BytesPerSecond(), 176400u);
    EXPECT_EQ(w.BlockAlign(), 4);
    EXPECT_EQ(w.BitsPerSample(), 16);
    EXPECT_EQ(w.SampleCount(), 0u);
    EXPECT_EQ(w.HeaderSize(), 44);
    EXPECT_EQ(w.FileSize(), 1764044u);
    EXPECT_DOUBLE_EQ(w.Duration(), 10.0);
}

TEST(WAVfileTest, ChunkAfterFmtDecidesHeaderSizeAndSampleCount) {
    TempDir dir;
    // 18-byte fmt chunk (cbSize 0) followed by data: the sample bytes are not a sample count.
    {
        const std::string data(8000, '\x7F');
        const auto r = readBytes(dir, riffHead(4 + 26 + 8 + 8000, 1, 1, 8000, 8, 18) + chunk("data", data));
        ASSERT_TRUE(r->ok);
        EXPECT_TRUE(r->wav.Valid());
        EXPECT_EQ(r->wav.ChannelMode(), "Mono");
        EXPECT_EQ(r->wav.BitsPerSample(), 8);
        EXPECT_EQ(r->wav.SampleCount(), 0u);
        EXPECT_EQ(r->wav.HeaderSize(), 46);
        EXPECT_DOUBLE_EQ(r->wav.Duration(), 1.0);
    }
    // 16-byte fmt chunk followed by a fact chunk: its sample count gives the duration.
    {
        const std::string data(4000, '\x11');  // 4-bit ADPCM: 8000 frames
        const auto r = readBytes(dir, riffHead(4 + 24 + 12 + 8 + 4000, 0x11, 1, 8000, 4) + chunk("fact", le32(8000)) +
                                          chunk("data", data));
        ASSERT_TRUE(r->ok);
        EXPECT_TRUE(r->wav.Valid());
        EXPECT_EQ(r->wav.FormatTag(), 0x11);
        EXPECT_EQ(r->wav.SampleCount(), 8000u);
        EXPECT_EQ(r->wav.HeaderSize(), 56);
        EXPECT_DOUBLE_EQ(r->wav.Duration(), 1.0);
    }
    // A 20-byte fmt chunk and fact: the fact chunk is found after the longer fmt chunk.
    {
        const auto r = readBytes(dir, riffHead(4 + 28 + 12 + 8 + 100, 0x11, 2, 22050, 4, 20) +
                                          chunk("fact", le32(44100)) + chunk("data", std::string(100, '\0')));
        ASSERT_TRUE(r->ok);
        EXPECT_EQ(r->wav.SampleCount(), 44100u);
        EXPECT_EQ(r->wav.HeaderSize(), 60);
        EXPECT_DOUBLE_EQ(r->wav.Duration(), 2.0);
    }
}

TEST(WAVfileTest, NotValidButReadForOtherFilesAndChannelCounts) {
    TempDir dir;
    const auto six = readBytes(dir, riffHead(36 + 1200, 1, 6, 48000, 16) + chunk("data", std::string(1200, '\0')));
    EXPECT_TRUE(six->ok);
    EXPECT_FALSE(six->wav.Valid());
    EXPECT_EQ(six->wav.ChannelCount(), 0);
    EXPECT_EQ(six->wav.ChannelMode(), "Unknown");
    EXPECT_EQ(six->wav.Duration(), 0.0);
    // 257 channels: the low byte would say mono.
    const auto many = readBytes(dir, riffHead(36 + 100, 1, 257, 48000, 16) + chunk("data", std::string(100, '\0')));
    EXPECT_TRUE(many->ok);
    EXPECT_FALSE(many->wav.Valid());
    // An MP3 (any other bytes): read, not valid.
    const auto mp3 = readBytes(dir, std::string("\xFF\xFB\x90\x64", 4) + std::string(600, '\x55'));
    EXPECT_TRUE(mp3->ok);
    EXPECT_FALSE(mp3->wav.Valid());
    // "RIFF" with another form type.
    std::string avi = riffHead(36, 1, 2, 44100, 16) + chunk("data", "");
    avi.replace(8, 4, "AVI ");
    EXPECT_FALSE(readBytes(dir, avi)->wav.Valid());
}

TEST(WAVfileTest, ShortAndLyingFilesFailOrAreCut) {
    TempDir dir;
    TWAVfile w;
    EXPECT_FALSE(w.ReadFromFile(dir.file("missing.wav")));
    // 30 bytes: the header block cannot be read.
    const auto thirty = readBytes(dir, riffHead(36, 1, 2, 44100, 16).substr(0, 30));
    EXPECT_FALSE(thirty->ok);
    EXPECT_FALSE(thirty->wav.Valid());
    // A fmt chunk that claims 4 GB: the chunk after it cannot be read.
    const auto huge = readBytes(dir, riffHead(36, 1, 2, 44100, 16, 16).replace(16, 4, le32(0xFFFFFFF0u)) + "data");
    EXPECT_FALSE(huge->ok);
    EXPECT_FALSE(huge->wav.Valid());
    // A fact chunk cut before its count.
    const auto cutFact = readBytes(dir, riffHead(100, 0x11, 1, 8000, 4) + "fact" + le32(4) + "\x01");
    EXPECT_FALSE(cutFact->ok);
    // A RIFF size beyond the file (a cut copy): the size and duration count what is there.
    const auto cut = readBytes(dir, riffHead(1764036, 1, 2, 44100, 16) + chunk("data", std::string(176400, '\0')));
    ASSERT_TRUE(cut->ok);
    EXPECT_EQ(cut->wav.FileSize(), 44u + 176400u);
    EXPECT_DOUBLE_EQ(cut->wav.Duration(), 1.0);
    // RIFF size 0 (a recording never finished): the header shrinks to the claimed size, no duration.
    const auto zero = readBytes(dir, riffHead(0, 1, 2, 44100, 16) + chunk("data", std::string(4000, '\0')));
    ASSERT_TRUE(zero->ok);
    EXPECT_EQ(zero->wav.FileSize(), 8u);
    EXPECT_EQ(zero->wav.HeaderSize(), 8);
    EXPECT_EQ(zero->wav.Duration(), 0.0);
    // A reused object starts from nothing.
    ASSERT_TRUE(w.ReadFromFile(dir.file("a.wav")));
    EXPECT_TRUE(w.Valid());
    EXPECT_FALSE(w.ReadFromFile(dir.file("missing.wav")));
    EXPECT_FALSE(w.Valid());
    EXPECT_EQ(w.FileSize(), 0u);
}

TEST(WAVfileTest, SoxFilesAgreeWithSoxi) {
    if (!haveTool("sox") || !haveTool("soxi")) GTEST_SKIP() << "sox missing";
    TempDir dir;
    const std::string pcm = dir.file("pcm.wav");
    ASSERT_TRUE(makeToneWav(pcm, 2.5, 22050, 1, 16));
    const std::string adpcm = dir.file("adpcm.wav");
    ASSERT_EQ(run("sox " + shellQuote(pcm) + " -e ima-adpcm " + shellQuote(adpcm)), 0);
    for (const std::string& path : {pcm, adpcm}) {
        SCOPED_TRACE(path);
        std::string seconds, rate;
        ASSERT_EQ(run("soxi -D " + shellQuote(path), &seconds), 0);
        ASSERT_EQ(run("soxi -r " + shellQuote(path), &rate), 0);
        TWAVfile w;
        ASSERT_TRUE(w.ReadFromFile(path));
        ASSERT_TRUE(w.Valid());
        EXPECT_EQ(w.SampleRate(), uint32_t(std::stoul(rate)));
        EXPECT_EQ(w.ChannelMode(), "Mono");
        // ADPCM blocks round the count up to a whole block of frames.
        EXPECT_NEAR(w.Duration(), std::stod(seconds), 0.05);
    }
}
