#include "audio/MMUtils.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <pthread.h>
#include <sched.h>

#include <array>
#include <cstring>
#include <limits>
#include <set>
#include <thread>

namespace {

WAVEFORMATEX pcm(int bits, int channels, int rate) {
    WAVEFORMATEX f{};
    SetPCMFormat(&f, bits, channels, rate);
    return f;
}

bool isPcm(int bits, int channels, int rate) {
    const WAVEFORMATEX f = pcm(bits, channels, rate);
    return IsPCMFormat(&f);
}

}  // namespace

TEST(MMUtilsTest, MulDivRoundRoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDivRound(1, 1000, 44100), 0);
    EXPECT_EQ(MulDivRound(22050, 1000, 44100), 500);
    EXPECT_EQ(MulDivRound(441, 1000, 44100), 10);
    EXPECT_EQ(MulDivRound(3, 1, 2), 2);
    EXPECT_EQ(MulDivRound(-3, 1, 2), -2);
    EXPECT_EQ(MulDivRound(-5, 1, 2), -3);
    EXPECT_EQ(MulDivRound(3, -1, 2), -2);
    EXPECT_EQ(MulDivRound(5, 1, -2), -3);
    EXPECT_EQ(MulDivRound(-1, 1, 3), 0);   // -0.33
    EXPECT_EQ(MulDivRound(-2, 1, 3), -1);  // -0.67
    // The product needs 64 bits.
    EXPECT_EQ(MulDivRound(100000, 100000, 1000), 10000000);
    EXPECT_EQ(MulDivRound(-100000, 100000, 1000), -10000000);
}

TEST(MMUtilsTest, MulDivRoundHandlesLargeDivisorsAndOutOfRangeResults) {
    // 0.9999999995 rounds to 1; twice the remainder does not fit in 32 bits here.
    EXPECT_EQ(MulDivRound(1999999999, 1, 2000000000), 1);
    EXPECT_EQ(MulDivRound(-1999999999, 1, 2000000000), -1);
    EXPECT_EQ(MulDivRound(999999999, 1, 2000000000), 0);
    EXPECT_EQ(MulDivRound(std::numeric_limits<int32_t>::max(), 4, 2), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(MulDivRound(std::numeric_limits<int32_t>::min(), 4, 2), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(MulDivRound(5, 7, 0), 0);
}

TEST(MMUtilsTest, MulDiv64Truncates) {
    EXPECT_EQ(MulDiv64(7, 1, 2), 3);
    EXPECT_EQ(MulDiv64(-7, 1, 2), -3);
    EXPECT_EQ(MulDiv64(1000000000000LL, 176400, 44100), 4000000000000LL);
    EXPECT_EQ(MulDiv64(44099, 1000, 44100), 999);
    EXPECT_EQ(MulDiv64(1, 2, 0), 0);
}

TEST(MMUtilsTest, ConversionsFor16BitStereo) {
    const WAVEFORMATEX f = pcm(16, 2, 44100);
    EXPECT_EQ(f.nBlockAlign, 4);
    EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(MsToBytes(&f, 1), 176);
    EXPECT_EQ(BytesToSamples(&f, 6), 2);  // 1.5 rounds up
    EXPECT_EQ(BytesToSamples(&f, 5), 1);
    EXPECT_EQ(SampleSize(&f), 4);
    EXPECT_EQ(SamplesToBytes(&f, 1000), 4000);
    EXPECT_EQ(BytesToMs(&f, 176400), 1000);
    EXPECT_EQ(BytesToMs(&f, 88), 0);   // 0.4988 ms
    EXPECT_EQ(BytesToMs(&f, 89), 1);   // 0.5045 ms
    // Samples and milliseconds do not undo each other exactly.
    EXPECT_EQ(SamplesToMs(&f, 1), 0);
    EXPECT_EQ(SamplesToMs(&f, 22), 0);
    EXPECT_EQ(SamplesToMs(&f, 23), 1);
    EXPECT_EQ(MsToSamples(&f, 1), 44);
    EXPECT_EQ(MsToSamples(&f, 10), 441);
    EXPECT_EQ(SamplesToMs(&f, 44100 * 60), 60000);

    const WAVEFORMATEX mono8 = pcm(8, 1, 22050);
    EXPECT_EQ(SampleSize(&mono8), 1);
    EXPECT_EQ(SamplesToBytes(&mono8, 12345), 12345);
}

TEST(MMUtilsTest, ByteCountsAreAlwaysWholeBlocks) {
    const WAVEFORMATEX f = pcm(16, 2, 44100);
    for (int32_t s = 0; s < 2000; ++s)
        ASSERT_EQ(SamplesToBytes(&f, s) % 4, 0) << s;
    for (int32_t ms = 0; ms < 2000; ++ms)
        ASSERT_EQ(MsToBytes(&f, ms) % 4, 0) << ms;

    // A compressed format whose byte rate is no multiple of its block: every result is
    // rounded up to whole blocks, never down.
    WAVEFORMATEX adpcm{};
    adpcm.wFormatTag = WAVE_FORMAT_ADPCM;
    adpcm.nChannels = 2;
    adpcm.nSamplesPerSec = 44100;
    adpcm.nAvgBytesPerSec = 44359;
    adpcm.nBlockAlign = 2048;
    adpcm.wBitsPerSample = 4;
    for (int32_t s = 1; s < 5000; s += 7) {
        const int32_t b = SamplesToBytes(&adpcm, s);
        ASSERT_EQ(b % 2048, 0) << s;
        ASSERT_GE(int64_t(b) * 44100, int64_t(s) * 44359 - 22050) << s;
        const int64_t b64 = SamplesToBytes64(&adpcm, s);
        ASSERT_EQ(b64 % 2048, 0) << s;
    }
    EXPECT_EQ(SampleSize(&adpcm), 2048);
}

TEST(MMUtilsTest, SixtyFourBitConversionsTruncateAndPassTwoGigabytes) {
    const WAVEFORMATEX f = pcm(16, 2, 44100);
    const int64_t threeHours = 44100LL * 3600 * 3;
    EXPECT_EQ(SamplesToBytes64(&f, threeHours), threeHours * 4);
    EXPECT_EQ(SamplesToMs64(&f, threeHours), 3LL * 3600 * 1000);
    EXPECT_EQ(SamplesToMs64(&f, 44099), 999);  // truncated, where the 32-bit one rounds
    EXPECT_EQ(SamplesToMs(&f, 44099), 1000);
    EXPECT_EQ(BytesToSamples64(&f, threeHours * 4 + 3), threeHours);
    EXPECT_EQ(MsToBytes64(&f, 1), 176);
    EXPECT_EQ(MsToSamples64(&f, 3LL * 3600 * 1000), threeHours);
    EXPECT_EQ(BytesToMs64(&f, threeHours * 4), 3LL * 3600 * 1000);
}

TEST(MMUtilsTest, ConversionsOfAnUnusableFormatGiveZero) {
    WAVEFORMATEX f{};
    EXPECT_EQ(SamplesToBytes(&f, 100), 0);
    EXPECT_EQ(BytesToSamples(nullptr, 100), 0);
    EXPECT_EQ(SamplesToMs64(&f, 100), 0);
}

TEST(MMUtilsTest, FormatTimeForms) {
    EXPECT_EQ(FormatTimeMs(0), "0:00.000");
    EXPECT_EQ(FormatTimeMs(83456), "1:23.456");
    EXPECT_EQ(FormatTimeMs(3599999), "59:59.999");
    EXPECT_EQ(FormatTimeMs(3600000), "1:00:00.000");
    EXPECT_EQ(FormatTimeMs(3723004), "1:02:03.004");
    EXPECT_EQ(FormatTimeMs(86399999), "23:59:59.999");
    EXPECT_EQ(FormatTimeMs(86400000), "1:00:00:00.000");
    EXPECT_EQ(FormatTimeMs(90061001), "1:01:01:01.001");
    EXPECT_EQ(FormatTimeMs(100LL * 86400000 + 5), "100:00:00:00.005");

    EXPECT_EQ(FormatTime(83456, false), "1:23");
    EXPECT_EQ(FormatTime(59999, false), "0:59");  // truncated, not rounded
    EXPECT_EQ(FormatTime(3599999, false), "59:59");
    EXPECT_EQ(FormatTime(3600000, false), "1:00:00");
    EXPECT_EQ(FormatTime(86399999, false), "23:59:59");
    EXPECT_EQ(FormatTime(86400000, false), "1:00:00:00");
    // A 32-bit count widened with a zero upper half.
    EXPECT_EQ(FormatTimeMs(int64_t(uint32_t(0xFFFFFFFFu))), "49:17:02:47.295");
}

TEST(MMUtilsTest, ClampingAndRanges) {
    EXPECT_EQ(MinMax(5, 0, 10), 5);
    EXPECT_EQ(MinMax(-1, 0, 10), 0);
    EXPECT_EQ(MinMax(11, 0, 10), 10);
    // Reversed bounds are not reordered: the lower bound is tested first.
    EXPECT_EQ(MinMax(0, 0, -1), -1);
    EXPECT_EQ(MinMax(7, 0, -1), -1);
    EXPECT_EQ(MinMax(-1, 0, -1), 0);
    EXPECT_EQ(MinMax(-7, 0, -1), 0);

    EXPECT_EQ(MinMaxUnordered(5, 10, 0), 5);
    EXPECT_EQ(MinMaxUnordered(20, 10, 0), 10);
    EXPECT_EQ(MinMaxUnordered(-3, 10, 0), 0);
    EXPECT_TRUE(InRange(10, 0, 10));
    EXPECT_FALSE(InRange(5, 10, 0));
    EXPECT_TRUE(InRangeUnordered(5, 10, 0));
    EXPECT_FALSE(InRangeUnordered(11, 10, 0));
}

TEST(MMUtilsTest, MemoryFillsCopiesAndCompares) {
    std::array<uint8_t, 12> buf{};
    buf.fill(0xEE);
    FillBytes(nullptr, 4, 1);
    FillBytes(buf.data(), 0, 1);
    FillBytes(buf.data(), -3, 1);
    EXPECT_EQ(buf[0], 0xEE);
    FillBytes(buf.data() + 1, 3, 0x55);
    EXPECT_EQ(buf[0], 0xEE);
    EXPECT_EQ(buf[3], 0x55);
    EXPECT_EQ(buf[4], 0xEE);

    buf.fill(0xEE);
    FillLongs(buf.data() + 1, 7, 0x11223344u);  // unaligned: one word, three bytes
    uint32_t word;
    std::memcpy(&word, buf.data() + 1, 4);
    EXPECT_EQ(word, 0x11223344u);
    EXPECT_EQ(buf[5], 0x44);
    EXPECT_EQ(buf[7], 0x44);
    EXPECT_EQ(buf[8], 0xEE);
    EXPECT_EQ(buf[0], 0xEE);
    FillLongs(buf.data(), -1, 0);
    EXPECT_EQ(buf[0], 0xEE);

    std::array<uint8_t, 8> m{1, 2, 3, 4, 5, 6, 7, 8};
    MoveMem(m.data(), m.data() + 2, 5);  // destination after source: copied backwards
    EXPECT_EQ(m, (std::array<uint8_t, 8>{1, 2, 1, 2, 3, 4, 5, 8}));
    MoveMem(m.data() + 2, m.data(), 5);
    EXPECT_EQ(m, (std::array<uint8_t, 8>{1, 2, 3, 4, 5, 4, 5, 8}));
    MoveMem(nullptr, m.data(), 0);

    EXPECT_TRUE(CompareMem("abcd", "abce", 3));
    EXPECT_FALSE(CompareMem("abcd", "abce", 4));
    EXPECT_TRUE(CompareMem(nullptr, "x", 0));
}

TEST(MMUtilsTest, PcmFormatBuildingAndTesting) {
    const WAVEFORMATEX f = pcm(8, 2, 11025);
    EXPECT_EQ(f.wFormatTag, 1);
    EXPECT_EQ(f.nBlockAlign, 2);
    EXPECT_EQ(f.nAvgBytesPerSec, 22050u);
    EXPECT_EQ(f.cbSize, 0);
    EXPECT_TRUE(IsPCMFormat(&f));
    EXPECT_TRUE(isPcm(16, 1, 4000));
    EXPECT_TRUE(isPcm(16, 1, 100000));
    EXPECT_FALSE(isPcm(16, 1, 3999));
    EXPECT_FALSE(isPcm(16, 1, 100001));
    EXPECT_FALSE(isPcm(24, 2, 44100));
    EXPECT_FALSE(isPcm(16, 3, 44100));
    EXPECT_FALSE(IsPCMFormat(nullptr));
    WAVEFORMATEX other = f;
    other.wFormatTag = WAVE_FORMAT_ADPCM;
    EXPECT_FALSE(IsPCMFormat(&other));
}

TEST(MMUtilsTest, FormatSizeAndCopy) {
    EXPECT_EQ(FormatSize(nullptr), 0);
    EXPECT_EQ(CopyFormat(nullptr), nullptr);

    // PCM: 18 bytes, whatever the extra-byte count says; the copy's count is 0.
    WAVEFORMATEX p = pcm(16, 2, 44100);
    p.cbSize = 22;
    EXPECT_EQ(FormatSize(&p), 18);
    TMMWaveFormatPtr pc = CopyFormat(&p);
    ASSERT_NE(pc, nullptr);
    EXPECT_NE(pc.get(), &p);
    EXPECT_EQ(pc->nAvgBytesPerSec, 176400u);
    EXPECT_EQ(pc->cbSize, 0);

    // Other tags keep their extra bytes.
    struct {
        WAVEFORMATEX f;
        uint8_t extra[4];
    } adpcm{};
    adpcm.f.wFormatTag = WAVE_FORMAT_ADPCM;
    adpcm.f.cbSize = 4;
    std::memcpy(adpcm.extra, "\x01\x02\x03\x04", 4);
    EXPECT_EQ(FormatSize(&adpcm.f), 22);
    TMMWaveFormatPtr ac = CopyFormat(&adpcm.f);
    ASSERT_NE(ac, nullptr);
    EXPECT_EQ(ac->cbSize, 4);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const uint8_t*>(ac.get()) + 18, "\x01\x02\x03\x04", 4), 0);
}

TEST(MMUtilsTest, Convert8And16) {
    const int16_t in16[] = {0, 32767, -32768, -1, 256, -257, 255};
    uint8_t out8[7] = {};
    EXPECT_EQ(Convert8And16(8, out8, 16, sizeof in16, in16), 7);
    const uint8_t want8[] = {128, 255, 0, 128, 129, 127, 128};
    EXPECT_EQ(std::memcmp(out8, want8, 7), 0);

    const uint8_t in8[] = {0, 128, 255, 1};
    int16_t out16[4] = {};
    EXPECT_EQ(Convert8And16(16, out16, 8, 4, in8), 8);
    EXPECT_EQ(out16[0], -32768);
    EXPECT_EQ(out16[1], 0);
    EXPECT_EQ(out16[2], 32512);
    EXPECT_EQ(out16[3], -32512);

    uint8_t same[4] = {};
    EXPECT_EQ(Convert8And16(8, same, 8, 4, in8), 4);
    EXPECT_EQ(std::memcmp(same, in8, 4), 0);
}

TEST(MMUtilsTest, WaitWithMessagesRunsTheEventLoopOnlyWhenAsked) {
    bool ran = false;
    QTimer::singleShot(0, [&ran] { ran = true; });
    WaitWithMessages(0, true);  // returns at once
    EXPECT_FALSE(ran);
    WaitWithMessages(20, false);  // sleeps without dispatching
    EXPECT_FALSE(ran);
    WaitWithMessages(20, true);
    EXPECT_TRUE(ran);
}

TEST(MMUtilsTest, DiskHasRoom) {
    testutil::TempDir dir;
    EXPECT_TRUE(DiskHasRoom(dir.file("new.wav"), 1));
    EXPECT_FALSE(DiskHasRoom(dir.file("new.wav"), std::numeric_limits<int64_t>::max()));
    EXPECT_FALSE(DiskHasRoom(dir.file("missing/folder/new.wav"), 1));
}

TEST(MMUtilsTest, BlocksAreZeroFilledAndFreedToNull) {
    void* p = AllocBlock(4096);
    ASSERT_NE(p, nullptr);
    const auto* bytes = static_cast<const uint8_t*>(p);
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(bytes[i], 0) << i;
    FreeBlock(p);
    EXPECT_EQ(p, nullptr);
    FreeBlock(p);  // nothing for null
}

TEST(MMUtilsTest, EveryLibraryMessageNumberHasItsOwnText) {
    std::set<std::string> texts;
    for (int32_t n = 1; n <= lmLast; ++n) {
        const std::string t = LibraryMessage(n);
        EXPECT_FALSE(t.empty()) << "message " << LIBRARY_MESSAGE_BASE + n;
        EXPECT_TRUE(texts.insert(t).second) << "duplicate text " << t;
    }
    EXPECT_EQ(LibraryMessage(0), "");
    EXPECT_EQ(LibraryMessage(lmLast + 1), "");
    EXPECT_EQ(LibraryMessage(lmErrorReadingWaveFile), "Error reading wave file");
    EXPECT_EQ(LibraryMessage(lmDeviceCantPlayFormat), "The actual device can''t play this format");
}

TEST(MMUtilsTest, PlatformIsLinux) {
    const TMMPlatformInfo& info = PlatformInfo();
    EXPECT_EQ(info.System, "Linux");
    EXPECT_FALSE(info.Is9xFamily);
    EXPECT_FALSE(info.IsNTFamily);
    EXPECT_FALSE(info.Release.empty());
    EXPECT_FALSE(info.Processor.empty());
    EXPECT_EQ(&info, &PlatformInfo());
}

TEST(MMUtilsTest, SetPriorityChangesTheThreadsPolicy) {
    EXPECT_EQ(ThreadPriorityValue(tpIdle), -15);
    EXPECT_EQ(ThreadPriorityValue(tpTimeCritical), 15);
    int policyAfterLower = -1, policyAfterNormal = -1;
    bool lowerOk = false;
    std::thread t([&] {
        lowerOk = SetPriority(pthread_self(), tpLower);
        sched_param p{};
        pthread_getschedparam(pthread_self(), &policyAfterLower, &p);
        SetPriority(pthread_self(), tpNormal);
        pthread_getschedparam(pthread_self(), &policyAfterNormal, &p);
    });
    t.join();
    EXPECT_TRUE(lowerOk);
    EXPECT_EQ(policyAfterLower, SCHED_BATCH);
    EXPECT_EQ(policyAfterNormal, SCHED_OTHER);
}
