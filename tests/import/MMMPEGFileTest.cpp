// The MPEG file source as a chain component: its format reaches the Output, buffers hold the
// reference player's samples, the end and looping flags, and the zero buffers while stopped.
#include "import/MMMPEG.h"

#include "ImportTestUtil.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testutil;

namespace {

// A plain downstream component that only keeps the format it is given.
class Sink : public TMMDSPComponent {
public:
    bool HasInputProperty() const override { return true; }
};

// Pulls buffers until the source says no more follow; returns the bytes and the load count.
std::string pullAll(TMMMPEGFile& src, uint32_t size, int* loads = nullptr) {
    auto hdr = NewWaveHdr(size);
    std::string out;
    for (int i = 0; i < 100000; ++i) {
        hdr->wh.dwBufferLength = size;
        hdr->wh.dwBytesRecorded = 0;
        bool more = false;
        src.BufferLoad(hdr.get(), more);
        out.append(hdr->wh.lpData, hdr->wh.dwBytesRecorded);
        if (loads) *loads = i + 1;
        if (hdr->wh.dwBytesRecorded == 0 || !more) break;
    }
    return out;
}

}  // namespace

TEST(MpegFileTest, FormatTravelsDownstreamAndFollowsTheChannelMode) {
    TempDir dir;
    const std::string mp3 = dir.file("a.mp3");
    ASSERT_TRUE(makeMp3(mp3, 1.0, "-b 128"));
    TMMMPEGFile src;
    Sink sink;
    src.SetOutput(&sink);
    ASSERT_EQ(src.Output(), &sink);
    int changes = 0;
    src.OnChange = [&](TMMComponent* sender) {
        EXPECT_EQ(sender, &src);
        ++changes;
    };
    EXPECT_EQ(sink.PWaveFormat(), nullptr);
    src.SetFileName(mp3);
    EXPECT_EQ(changes, 1);
    ASSERT_NE(sink.PWaveFormat(), nullptr);
    EXPECT_EQ(sink.PWaveFormat()->nChannels, 2);
    EXPECT_EQ(sink.PWaveFormat()->nSamplesPerSec, 44100u);
    EXPECT_EQ(src.FileName(), mp3);
    EXPECT_EQ(src.Layer(), 3);
    EXPECT_EQ(src.Version(), v1);

    src.SetChannelMode(cmDownMix);
    EXPECT_EQ(sink.PWaveFormat()->nChannels, 1);
    EXPECT_EQ(sink.PWaveFormat()->nBlockAlign, 2);

    src.SetFileName("");
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(sink.PWaveFormat(), nullptr);
    EXPECT_EQ(src.Time(), 0);
}

TEST(MpegFileTest, BuffersCarryTheReferenceSamplesAndTheLastOneEndsTheStream) {
    TempDir dir;
    const std::string mp3 = dir.file("b.mp3");
    ASSERT_TRUE(makeMp3(mp3, 2.0, "-b 160", 44100, 1));
    const auto ref = importtest::mpg123Decode(mp3, dir.file("b.wav"));
    ASSERT_TRUE(ref.ok);

    TMMMPEGFile src;
    auto hdr = NewWaveHdr(32768);
    bool more = false;
    src.BufferLoad(hdr.get(), more);  // empty: nothing
    EXPECT_EQ(hdr->wh.dwBytesRecorded, 0u);
    EXPECT_FALSE(more);

    src.SetFileName(mp3);
    src.SetBufferSize(32768);
    src.Opened();
    EXPECT_TRUE(src.FileOpen());
    EXPECT_EQ(src.StartFrame(), 0);
    // Opened but not started: a full buffer of silence, more to come.
    std::memset(hdr->wh.lpData, 0x55, 32768);
    more = false;
    src.BufferLoad(hdr.get(), more);
    EXPECT_EQ(hdr->wh.dwBytesRecorded, 32768u);
    EXPECT_TRUE(more);
    EXPECT_EQ(std::string(hdr->wh.lpData, 32768), std::string(32768, '\0'));

    src.Started();
    int loads = 0;
    const std::string pcm = pullAll(src, 32768, &loads);
    EXPECT_TRUE(pcm == ref.data);
    EXPECT_EQ(loads, int((ref.data.size() + 32767) / 32768));  // the last, partial buffer ends it

    // Disabled: silence again, the position unchanged.
    src.SetEnabled(false);
    more = false;
    src.BufferLoad(hdr.get(), more);
    EXPECT_TRUE(more);
    EXPECT_EQ(hdr->wh.dwBytesRecorded, 32768u);

    src.Closed();
    EXPECT_FALSE(src.FileOpen());
}

TEST(MpegFileTest, ChangingTheChannelModeWhileOpenRaisesItsMessage) {
    TempDir dir;
    const std::string mp3 = dir.file("c.mp3");
    ASSERT_TRUE(makeMp3(mp3, 0.5));
    TMMMPEGFile src;
    src.SetFileName(mp3);
    src.Opened();
    try {
        src.SetChannelMode(cmLeft);
        FAIL();
    } catch (const EMMMpegError& e) {
        EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
    src.Closed();
    src.SetChannelMode(cmLeft);
    EXPECT_EQ(src.PWaveFormat()->nChannels, 1);
}

TEST(MpegFileTest, ALoopingBufferRewindsAtTheEnd) {
    TempDir dir;
    const std::string mp3 = dir.file("d.mp3");
    ASSERT_TRUE(makeMp3(mp3, 0.6, "-b 128"));
    const auto ref = importtest::mpg123Decode(mp3, dir.file("d.wav"));
    TMMMPEGFile src;
    src.SetFileName(mp3);
    src.Opened();
    src.Started();
    const uint32_t size = uint32_t(ref.data.size() + 4000);
    auto hdr = NewWaveHdr(size);
    hdr->dwLooping = -1;
    bool more = false;
    src.BufferLoad(hdr.get(), more);
    ASSERT_EQ(hdr->wh.dwBytesRecorded, ref.data.size());
    EXPECT_TRUE(more);
    EXPECT_EQ(hdr->dwLooped, -1);
    more = false;
    src.BufferLoad(hdr.get(), more);
    EXPECT_TRUE(std::string(hdr->wh.lpData, hdr->wh.dwBytesRecorded) == ref.data);
}
