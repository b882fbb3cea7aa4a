#include "app/WaveViewData.h"

#include "audio/MMWave.h"
#include "audio/MMWaveIO.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <vector>

using namespace testutil;

namespace {

// A canonical PCM wave file holding the given data bytes.
std::string WaveBytes(int channels, int bits, const std::string& data, int rate = 44100) {
    const int align = channels * bits / 8;
    return "RIFF" + le32(uint32_t(36 + data.size())) + "WAVE" + "fmt " + le32(16) + le16(1) +
           le16(uint16_t(channels)) + le32(uint32_t(rate)) + le32(uint32_t(rate * align)) +
           le16(uint16_t(align)) + le16(uint16_t(bits)) + "data" + le32(uint32_t(data.size())) + data;
}

// 16-bit stereo frames whose left sample is the frame number and right its negation.
std::string CountingStereo16(int frames) {
    std::string d;
    for (int i = 0; i < frames; ++i) d += le16(uint16_t(i)) + le16(uint16_t(-i));
    return d;
}

struct OpenWave {
    TempDir dir;
    TMMWave wave;
    explicit OpenWave(const std::string& bytes) {
        writeFile(dir.file("t.wav"), bytes);
        wave.SetFileName(dir.file("t.wav"));
        wave.OpenFile();
    }
};

int16_t Left16(const std::vector<uint8_t>& b, int frame) {
    return int16_t(b[size_t(4 * frame)] | (b[size_t(4 * frame + 1)] << 8));
}

}  // namespace

TEST(WaveViewDataTest, ZoomAndScrollScalesOfRealFileLengths) {
    EXPECT_EQ(ScrollDivisorFor(10'000'000), 306);
    EXPECT_EQ(ScrollDivisorFor(26'460'000), 808);
    EXPECT_EQ(26'460'000 / ScrollDivisorFor(26'460'000), 32747);
    EXPECT_EQ(ScrollDivisorFor(32767), 1);
    EXPECT_EQ(ScrollDivisorFor(32768), 2);
    EXPECT_EQ(ScrollDivisorFor(0), 1);
    EXPECT_EQ(FitZoom(26'460'000, 537), 49274);
    EXPECT_EQ(FitZoom(537 * 8, 537), 8);   // exactly even: n
    EXPECT_EQ(FitZoom(537 * 7, 537), 8);   // exactly odd: n + 1
    EXPECT_EQ(FitZoom(100, 537), 1);
    EXPECT_EQ(FitZoom(100, 0), 1);
}

TEST(WaveViewDataTest, FramesAndColumnsMapBothWaysWithClamps) {
    TDetailGeometry g{1'000'000, 0, 1, 537};
    EXPECT_EQ(g.SampleToPixel(100), 100);
    EXPECT_EQ(g.PixelToSample(537 + 50), 536);
    EXPECT_EQ(g.PixelToSample(-3), 0);
    g = {1'000'000, 500'000, 100, 537};
    EXPECT_EQ(g.SampleToPixel(999'999), 537 + 10);
    EXPECT_EQ(g.SampleToPixel(0), -10);
    EXPECT_EQ(g.SampleToPixel(500'099), 0);  // truncation
    EXPECT_EQ(g.SampleToPixel(499'901), 0);  // toward zero, not down
    g = {1000, 900, 10, 537};
    EXPECT_EQ(g.PixelToSample(536), 1000);   // clamped to the total
    EXPECT_EQ(g.SampleToPixel(2000), 10);    // s clamped to the total first
}

TEST(WaveViewDataTest, DenseAndSparseReadingSwitchAtSixtyFourKilobytes) {
    EXPECT_FALSE(DetailReadIsSparse(1, 4));
    EXPECT_FALSE(DetailReadIsSparse(15, 4));  // 61 440 bytes
    EXPECT_TRUE(DetailReadIsSparse(16, 4));   // 65 536 bytes
    EXPECT_TRUE(DetailReadIsSparse(65, 4));
    EXPECT_FALSE(DetailReadIsSparse(63, 1));
}

TEST(WaveViewDataTest, DetailBlockTakesEveryZthFrameThenSilence) {
    const int frames = 40'000;
    OpenWave w(WaveBytes(2, 16, CountingStereo16(frames)));
    for (int zoom : {1, 15, 16, 65}) {
        const int columns = 537;
        std::vector<uint8_t> buf(size_t(columns * 4), 0xAB);
        const int offset = 1234;
        int lastPercent = -1;
        const int got = ReadDetailBlock(w.wave, offset, zoom, 4, frames, false, buf.data(), int(buf.size()),
                                        [&](int p) { lastPercent = p; });
        const int inFile = std::min(columns, (frames - offset + zoom - 1) / zoom);
        EXPECT_EQ(got, inFile * 4) << zoom;
        for (int c = 0; c < inFile; ++c) ASSERT_EQ(Left16(buf, c), int16_t(offset + c * zoom)) << zoom << " " << c;
        for (int c = inFile; c < columns; ++c) ASSERT_EQ(Left16(buf, c), 0) << zoom << " " << c;
        if (DetailReadIsSparse(zoom, 4)) {
            EXPECT_EQ(lastPercent, 100 * got / int(buf.size()));
        }
    }
}

TEST(WaveViewDataTest, EightBitSilenceAndAViewPastTheEnd) {
    std::string data(100, char(200));
    OpenWave w(WaveBytes(1, 8, data, 8000));
    std::vector<uint8_t> buf(50, 0);
    EXPECT_EQ(ReadDetailBlock(w.wave, 80, 1, 1, 100, true, buf.data(), 50, {}), 20);
    EXPECT_EQ(buf[19], 200);
    EXPECT_EQ(buf[20], 128);
    EXPECT_EQ(buf[49], 128);
}

TEST(WaveViewDataTest, OverviewPeaksKeepTheLargerMagnitude) {
    // 8-bit mono, columns of 4 frames: (-100, +90) -> 28; (-90, +90) -> 218; (+5) -> 133.
    std::string data;
    for (int v : {28, 218, 128, 128, /**/ 38, 218, 128, 128, /**/ 133, 128, 128, 128, /**/ 128})
        data += char(v);
    OpenWave w(WaveBytes(1, 8, data, 8000));
    std::vector<uint8_t> buf(6, 0);
    const int written = BuildOverviewBlock(w.wave, 4, 1, false, true, buf.data(), 6, {});
    EXPECT_EQ(written, 3);
    EXPECT_EQ(buf[0], 28);
    EXPECT_EQ(buf[1], 218);
    EXPECT_EQ(buf[2], 133);
    EXPECT_EQ(buf[3], 128);  // silence after the last column
}

TEST(WaveViewDataTest, StereoOverviewAcrossManyReadsMatchesAPlainPeakScan) {
    // Long enough for several 65532-byte reads; columns cross read boundaries.
    const int frames = 100'000, step = 997;
    std::string data;
    std::vector<int16_t> left(frames), right(frames);
    for (int i = 0; i < frames; ++i) {
        left[size_t(i)] = int16_t((i * 7919) % 30001 - 15000);
        right[size_t(i)] = int16_t(-(i % 2000));
        data += le16(uint16_t(left[size_t(i)])) + le16(uint16_t(right[size_t(i)]));
    }
    OpenWave w(WaveBytes(2, 16, data));
    const int columns = 537;
    std::vector<uint8_t> buf(size_t(columns * 4), 0);
    const int written = BuildOverviewBlock(w.wave, step, 4, true, false, buf.data(), int(buf.size()), {});
    // The reference: the frames in reading order, less the one frame that ends exactly at the
    // end of each read (never used), cut into columns of step frames; an incomplete last
    // column is abandoned.
    const int framesPerRead = 65532 / 4;
    std::vector<int16_t> used;
    for (int first = 0; first < frames; first += framesPerRead) {
        const int last = std::min(first + framesPerRead, frames) - 1;
        for (int f = first; f < last; ++f) used.push_back(left[size_t(f)]);
    }
    const int columnsMade = std::min<int>(int(used.size()) / step, columns);
    ASSERT_EQ(written, columnsMade * 4);
    int checked = 0;
    for (int c = 0; c < columnsMade; ++c) {
        int lo = 0, hi = 0;
        for (int i = c * step; i < (c + 1) * step; ++i) {
            lo = std::min<int>(lo, used[size_t(i)]);
            hi = std::max<int>(hi, used[size_t(i)]);
        }
        ASSERT_EQ(Left16(buf, c), int16_t(-lo > hi ? lo : hi)) << c;
        ++checked;
    }
    EXPECT_EQ(Left16(buf, columnsMade), 0);  // silence after the last column
    EXPECT_GT(checked, 50);
}
