// The decoder library and TMMMpeg: sample-exact decoding against the reference player, channel
// modes, positioning, damaged files, the MPEG file check and the library loader's messages.
#include "import/MMMPEG.h"

#include "ImportTestUtil.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include "platform/DynamicLibrary.h"

#include <cstring>
#include <filesystem>
#include <set>
#include <random>

using namespace testutil;
using importtest::WavData;

namespace {

std::string decodeAll(TMMMpeg& mpeg, int32_t chunk = 32768) {
    std::string out, buf(size_t(chunk), '\0');
    mpeg.Open();
    for (int guard = 0; guard < 1000000; ++guard) {
        const int32_t n = mpeg.Read(buf.data(), chunk);
        if (n <= 0) break;
        out.append(buf.data(), size_t(n));
    }
    return out;
}

// One channel, or the truncated mean of both, out of interleaved 16-bit stereo.
std::string pickChannel(const std::string& stereo, TChannelMode mode) {
    const auto s = importtest::samples16(stereo);
    std::string out;
    for (size_t i = 0; i + 1 < s.size(); i += 2) {
        const int32_t l = s[i], r = s[i + 1];
        const int16_t v = int16_t(mode == cmLeft ? l : mode == cmRight ? r : (l + r) >> 1);
        out.append(reinterpret_cast<const char*>(&v), 2);
    }
    return out;
}

// Bytes of MPEG audio wrapped in a RIFF wave with the given format tag.
std::string riffAround(const std::string& mpeg, uint16_t tag) {
    const std::string fmt = le16(tag) + le16(2) + le32(44100) + le32(16000) + le16(1) + le16(0) + le16(0);
    const std::string body = "WAVE" + std::string("fmt ") + le32(uint32_t(fmt.size())) + fmt + "data" +
                             le32(uint32_t(mpeg.size())) + mpeg + (mpeg.size() % 2 ? std::string(1, '\0') : "");
    return "RIFF" + le32(uint32_t(body.size())) + body;
}

class MpegTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(binDir() / MPEG_DECODER_LIBRARY_NAME));
        ASSERT_TRUE(haveTool("lame") && haveTool("mpg123"));
        ASSERT_NE(MpegLibrary(), nullptr);
    }
    TempDir dir;
};

}  // namespace

TEST_F(MpegTest, DecodesLameFilesSampleForSampleAsTheReferencePlayer) {
    struct Case {
        const char* name;
        std::string lame;
        int rate, channels;
        TMpegVersion version;
    };
    const Case cases[] = {
        {"stereo", "-b 128", 44100, 2, v1},
        {"mono", "-b 64 -m m", 44100, 1, v1},
        {"mpeg2", "-b 48", 22050, 2, v2LSF},
        {"mpeg25", "-b 16 -m m", 8000, 1, v2LSF},
        {"vbr", "-V 2", 44100, 2, v1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string mp3 = dir.file(std::string(c.name) + ".mp3");
        ASSERT_TRUE(makeMp3(mp3, 4.3, c.lame, c.rate, c.channels));
        const WavData ref = importtest::mpg123Decode(mp3, dir.file(std::string(c.name) + ".wav"));
        ASSERT_TRUE(ref.ok);

        TMMMpeg mpeg;
        mpeg.SetFileName(mp3);
        ASSERT_NE(mpeg.Format(), nullptr);
        EXPECT_EQ(mpeg.Format()->wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(mpeg.Format()->wBitsPerSample, 16);
        EXPECT_EQ(mpeg.Format()->nChannels, ref.channels);
        EXPECT_EQ(mpeg.Format()->nChannels, c.channels);
        EXPECT_EQ(int(mpeg.Format()->nSamplesPerSec), c.rate);
        EXPECT_EQ(mpeg.PlayBackRate(), c.rate);
        EXPECT_EQ(mpeg.Version(), c.version);
        EXPECT_EQ(mpeg.Layer(), 3);
        EXPECT_EQ(mpeg.Mode() == smSingleChannel, c.channels == 1);
        const int64_t frames = int64_t(ref.data.size()) / (2 * c.channels);
        EXPECT_EQ(mpeg.Time(), int32_t((frames * 1000 + c.rate / 2) / c.rate));
        EXPECT_EQ(mpeg.FileName(), mp3);

        const std::string pcm = decodeAll(mpeg, 32768);
        EXPECT_EQ(pcm.size(), ref.data.size());
        EXPECT_TRUE(pcm == ref.data) << "first difference at byte "
                                     << std::mismatch(pcm.begin(), pcm.end(), ref.data.begin(), ref.data.end()).first -
                                            pcm.begin();
        EXPECT_TRUE(mpeg.IsDone());
    }
}

TEST_F(MpegTest, ReadSizesThatSplitFramesGiveTheSameStream) {
    const std::string mp3 = dir.file("s.mp3");
    ASSERT_TRUE(makeMp3(mp3, 2.0, "-b 128"));
    const WavData ref = importtest::mpg123Decode(mp3, dir.file("s.wav"));
    TMMMpeg mpeg;
    mpeg.SetFileName(mp3);
    // 1002 is not a whole number of stereo frames: reads deliver whole frames only.
    const std::string pcm = decodeAll(mpeg, 1002);
    EXPECT_TRUE(pcm == ref.data);
}

TEST_F(MpegTest, ChannelModesPickOrMixTheChannelsOfAStereoFile) {
    const std::string mp3 = dir.file("st.mp3");
    ASSERT_TRUE(makeMp3(mp3, 2.0, "-b 128 -m s"));
    const WavData ref = importtest::mpg123Decode(mp3, dir.file("st.wav"));
    ASSERT_TRUE(ref.ok);
    for (TChannelMode mode : {cmLeft, cmRight, cmDownMix}) {
        SCOPED_TRACE(int(mode));
        TMMMpeg mpeg;
        mpeg.SetFileName(mp3);
        mpeg.SetChannelMode(mode);
        EXPECT_EQ(mpeg.ChannelMode(), mode);
        ASSERT_NE(mpeg.Format(), nullptr);
        EXPECT_EQ(mpeg.Format()->nChannels, 1);
        EXPECT_EQ(mpeg.Format()->nBlockAlign, 2);
        EXPECT_EQ(mpeg.BytesPerFrame(), 2304);
        EXPECT_TRUE(decodeAll(mpeg) == pickChannel(ref.data, mode));
    }
    TMMMpeg both;
    both.SetFileName(mp3);
    EXPECT_EQ(both.ChannelMode(), cmBoth);
    EXPECT_EQ(both.Format()->nChannels, 2);
    EXPECT_EQ(both.BytesPerFrame(), 4608);  // 1152 samples of 4 bytes
}

TEST_F(MpegTest, ChangingTheChannelModeWhileOpenIsRefused) {
    const std::string mp3 = dir.file("m.mp3");
    ASSERT_TRUE(makeMp3(mp3, 1.0));
    TMMMpeg mpeg;
    mpeg.SetFileName(mp3);
    mpeg.Open();
    try {
        mpeg.SetChannelMode(cmLeft);
        FAIL() << "no exception";
    } catch (const EMMMpegError& e) {
        EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
    EXPECT_EQ(mpeg.ChannelMode(), cmBoth);
    mpeg.Close();
    mpeg.SetChannelMode(cmLeft);
    EXPECT_EQ(mpeg.Format()->nChannels, 1);
}

TEST_F(MpegTest, EmptyDecoderAnswersZerosAndNoFormat) {
    TMMMpeg mpeg;
    int changes = 0;
    mpeg.OnInfoChanged = [&](TMMMpeg*) { ++changes; };
    EXPECT_TRUE(mpeg.IsEmpty());
    EXPECT_EQ(mpeg.Version(), v1);
    EXPECT_EQ(mpeg.Layer(), 0);
    EXPECT_EQ(mpeg.SampleRate(), 0);
    EXPECT_EQ(mpeg.Frames(), 0);
    EXPECT_EQ(mpeg.Time(), 0);
    EXPECT_EQ(mpeg.Format(), nullptr);
    EXPECT_EQ(mpeg.BytesPerFrame(), 0);
    char buf[16];
    EXPECT_EQ(mpeg.Read(buf, 16), 0);  // not open

    const std::string mp3 = dir.file("c.mp3");
    ASSERT_TRUE(makeMp3(mp3, 1.0));
    mpeg.SetFileName(mp3);
    EXPECT_EQ(changes, 1);
    EXPECT_GT(mpeg.Frames(), 30);
    mpeg.Clear();
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(mpeg.IsEmpty());
    EXPECT_EQ(mpeg.Format(), nullptr);
    EXPECT_EQ(mpeg.Frames(), 0);
}

TEST_F(MpegTest, PositioningPrimesTheDecoderAtTheRequestedFrame) {
    const std::string mp3 = dir.file("p.mp3");
    ASSERT_TRUE(makeMp3(mp3, 3.0, "-b 128"));
    const WavData ref = importtest::mpg123Decode(mp3, dir.file("p.wav"));
    TMMMpeg mpeg;
    mpeg.SetFileName(mp3);
    mpeg.Open();
    mpeg.SetFramePosition(0);
    EXPECT_EQ(mpeg.FramePosition(), 0);
    EXPECT_TRUE(decodeAll(mpeg) == ref.data);  // nothing was decoded ahead of frame 0

    mpeg.SetFramePosition(40);
    EXPECT_EQ(mpeg.FramePosition(), 40);
    std::string chunk(4608, '\0');
    ASSERT_EQ(mpeg.Read(chunk.data(), 4608), 4608);
    // Frame 40 starts 40 frames into the stream, less the samples the encoder put ahead.
    const size_t at = ref.data.find(chunk);
    ASSERT_NE(at, std::string::npos);
    EXPECT_NEAR(double(at) / 4608.0, 40.0, 1.0);

    // While closed, the position is taken as is.
    mpeg.Close();
    mpeg.SetFramePosition(12);
    EXPECT_EQ(mpeg.FramePosition(), 12);
    try {
        mpeg.SetFramePosition(1000000);
        FAIL() << "no exception";
    } catch (const EMMMpegError& e) {
        EXPECT_STREQ(e.what(), "Unable to seek to the frame: 1000000");
    }
}

TEST_F(MpegTest, DamagedFilesDecodeWhatCanBeDecoded) {
    const std::string mp3 = dir.file("good.mp3");
    ASSERT_TRUE(makeMp3(mp3, 6.0, "-b 128"));
    const WavData ref = importtest::mpg123Decode(mp3, dir.file("good.wav"));
    const std::string bytes = readFile(mp3);

    // Truncated inside a frame: everything before the cut, as the reference player gives it.
    const std::string cut = dir.file("cut.mp3");
    writeFile(cut, bytes.substr(0, bytes.size() * 2 / 3 + 77));
    const WavData refCut = importtest::mpg123Decode(cut, dir.file("cut.wav"));
    {
        TMMMpeg mpeg;
        mpeg.SetFileName(cut);
        const std::string pcm = decodeAll(mpeg);
        EXPECT_TRUE(pcm == refCut.data);
        EXPECT_GT(pcm.size(), ref.data.size() / 2);
        EXPECT_TRUE(mpeg.IsDone());
    }

    // 20000 bytes of garbage in the middle: the decoder finds the stream again after it.
    std::mt19937 rng(5);
    std::string garbage(20000, '\0');
    for (char& c : garbage) c = char(rng());
    const std::string mid = dir.file("mid.mp3");
    writeFile(mid, bytes.substr(0, bytes.size() / 2) + garbage + bytes.substr(bytes.size() / 2));
    {
        TMMMpeg mpeg;
        mpeg.SetFileName(mid);
        const std::string pcm = decodeAll(mpeg);
        EXPECT_GT(pcm.size(), ref.data.size() * 9 / 10);
        EXPECT_LT(pcm.size(), ref.data.size() * 12 / 10);
        // The first half is intact.
        EXPECT_EQ(pcm.substr(0, ref.data.size() / 3), ref.data.substr(0, ref.data.size() / 3));
    }
}

// Long junk after the last frame or between two streams adds no sound and loses no frame: the
// decoder gives what the reference player gives when it searches every junk byte (or, after
// the last frame, exactly the song), and an ID3v2 tag between the streams is skipped whole.
TEST_F(MpegTest, LongJunkAddsNoSoundAndLosesNoFrame) {
    const std::string mp3 = dir.file("five.mp3");
    ASSERT_TRUE(makeMp3(mp3, 5.0));
    const std::string song = readFile(mp3);
    const WavData ref = importtest::mpg123Decode(mp3, dir.file("five.wav"));
    std::mt19937 rng(9);
    std::string noise(256 * 1024, '\0');
    for (char& c : noise) c = char(rng());
    const std::string paddedTag = std::string("ID3\x03\x00\x00", 6) + syncsafe(1 << 20) + std::string(1 << 20, '\0');
    const struct {
        const char* name;
        std::string bytes;
        bool searchAll;  // compare with the reference player searching all junk, else with the song
    } cases[] = {
        {"zeros after", song + std::string(4 << 20, '\0'), false},
        {"noise after", song + noise, false},
        {"zeros between", song + std::string(20000, '\0') + song, true},
        {"tag between", song + paddedTag + song, true},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file("junk.mp3"), wav = dir.file("junk.wav");
        writeFile(path, c.bytes);
        std::string want = ref.data;
        if (c.searchAll) {
            ASSERT_EQ(run("mpg123 -q --resync-limit -1 -w " + shellQuote(wav) + " " + shellQuote(path) + " 2>/dev/null"), 0);
            want = importtest::readWav(wav).data;
            EXPECT_GT(want.size(), ref.data.size() * 19 / 10) << c.name;
        }
        TMMMpeg mpeg;
        mpeg.SetFileName(path);
        EXPECT_TRUE(decodeAll(mpeg) == want) << c.name;
        EXPECT_EQ(mpeg.Time(), int32_t((want.size() / 4 * 1000 + 22050) / 44100)) << c.name;
    }
}

// MPEG audio in a RIFF wave ends with the RIFF chunk: frames appended after it are no sound of it.
TEST_F(MpegTest, MpegInARiffWaveEndsWithTheRiffChunk) {
    const std::string mp3 = dir.file("one.mp3");
    ASSERT_TRUE(makeMp3(mp3, 1.0));
    const std::string riff = riffAround(readFile(mp3), 0x55);
    writeFile(dir.file("riff.wav"), riff);
    writeFile(dir.file("appended.wav"), riff + readFile(mp3));
    TMMMpeg alone, appended;
    alone.SetFileName(dir.file("riff.wav"));
    appended.SetFileName(dir.file("appended.wav"));
    const std::string pcm = decodeAll(alone);
    EXPECT_GT(pcm.size(), 44100u * 4 * 9 / 10);
    EXPECT_TRUE(decodeAll(appended) == pcm);
}

TEST_F(MpegTest, BytesFlippedAllOverNeitherCrashNorHang) {
    const std::string mp3 = dir.file("flip.mp3");
    ASSERT_TRUE(makeMp3(mp3, 4.0, "-V 4"));
    const WavData ref = importtest::mpg123Decode(mp3, dir.file("flip.wav"));
    std::string bytes = readFile(mp3);
    std::mt19937 rng(7);
    for (size_t i = 2000; i < bytes.size(); i += 50 + rng() % 150) bytes[i] = char(rng());
    writeFile(mp3, bytes);
    TMMMpeg mpeg;
    mpeg.SetFileName(mp3);
    const std::string pcm = decodeAll(mpeg, 10000);
    EXPECT_GT(pcm.size(), ref.data.size() / 2);
    EXPECT_LT(pcm.size(), ref.data.size() * 3 / 2);
    EXPECT_TRUE(mpeg.IsDone());

    // Noise alone is not MPEG audio.
    std::string noise(100000, '\0');
    for (char& c : noise) c = char(rng() & 0x7F);
    writeFile(dir.file("noise.mp3"), noise);
    EXPECT_FALSE(IsMpegFile(dir.file("noise.mp3")));
}

TEST_F(MpegTest, MpegFileCheck) {
    const std::string mp3 = dir.file("a.mp3");
    ASSERT_TRUE(makeMp3(mp3, 1.0));
    EXPECT_TRUE(IsMpegFile(mp3));
    EXPECT_FALSE(IsMpegFile(""));
    EXPECT_FALSE(IsMpegFile(dir.file("missing.mp3")));

    const std::string text = dir.file("text.mp3");
    writeFile(text, "This is a plain text file and no audio at all.\n");
    EXPECT_FALSE(IsMpegFile(text));

    const std::string pcm = dir.file("pcm.wav");
    ASSERT_TRUE(makeToneWav(pcm, 1.0));
    EXPECT_FALSE(IsMpegFile(pcm));

    // MPEG audio inside a RIFF wave (tags 0x55 and 0x50) goes through the decoder.
    const std::string wrapped = dir.file("wrapped.wav");
    writeFile(wrapped, riffAround(readFile(mp3), WAVE_FORMAT_MPEGLAYER3));
    EXPECT_TRUE(IsMpegFile(wrapped));
    writeFile(dir.file("mpeg50.wav"), riffAround(readFile(mp3), WAVE_FORMAT_MPEG));
    EXPECT_TRUE(IsMpegFile(dir.file("mpeg50.wav")));
    // A RIFF wave of another tag is not, whatever its data holds.
    writeFile(dir.file("tag2.wav"), riffAround(readFile(mp3), WAVE_FORMAT_ADPCM));
    EXPECT_FALSE(IsMpegFile(dir.file("tag2.wav")));

    TMMMpeg a, b;
    a.SetFileName(mp3);
    b.SetFileName(wrapped);
    EXPECT_TRUE(decodeAll(a) == decodeAll(b));
}

TEST_F(MpegTest, LibraryErrorsBecomeExceptionsWithTheLibraryText) {
    const std::string text = dir.file("text.mp3");
    writeFile(text, std::string(5000, 'x'));
    TMMMpeg mpeg;
    try {
        mpeg.SetFileName(text);
        FAIL() << "no exception";
    } catch (const EMMMpegError& e) {
        EXPECT_STREQ(e.what(), "The file holds no MPEG audio");
    }
    EXPECT_TRUE(mpeg.IsEmpty());
    try {
        mpeg.SetFileName(dir.file("missing.mp3"));
        FAIL() << "no exception";
    } catch (const EMMMpegError& e) {
        EXPECT_STREQ(e.what(), "Unable to open the file");
    }
}

TEST(MpegLibraryTest, LoaderRefusesMissingAndOldLibraries) {
    TempDir empty;
    std::string message = "unchanged";
    EXPECT_EQ(LoadMpegDecoderLibrary(empty.path().string(), message), nullptr);
    EXPECT_EQ(message, "Unable to load MMMPEG32.DLL");

    EXPECT_EQ(LoadMpegDecoderLibrary((binDir() / "oldmpeg").string(), message), nullptr);
    EXPECT_EQ(message, "Invalid Mpeg Decoder DLL version");

    EXPECT_NE(LoadMpegDecoderLibrary(binDir().string(), message), nullptr);
    EXPECT_EQ(message, "");
}

TEST(MpegLibraryTest, ProcessLoaderReportsOnceAndCountsTheLibraryAsAbsent) {
    TempDir dir;
    const std::string mp3 = dir.file("a.mp3");
    ASSERT_TRUE(makeMp3(mp3, 1.0));
    const auto probe = binDir() / "mpeg_probe";
    ASSERT_TRUE(std::filesystem::exists(probe));
    struct Case {
        std::filesystem::path folder;
        std::string out, err;
    };
    std::filesystem::create_directory(dir.path() / "none");
    std::filesystem::copy_file(probe, dir.path() / "none" / "mpeg_probe");
    std::filesystem::copy_file(probe, binDir() / "oldmpeg" / "mpeg_probe",
                               std::filesystem::copy_options::overwrite_existing);
    const Case cases[] = {
        {dir.path() / "none", "first=0 second=0 mpeg=0\n", "Unable to load MMMPEG32.DLL\n"},
        {binDir() / "oldmpeg", "first=0 second=0 mpeg=0\n", "Invalid Mpeg Decoder DLL version\n"},
        {binDir(), "first=1 second=1 mpeg=1\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder.string());
        const std::string errFile = dir.file("err.txt");
        std::string out;
        EXPECT_EQ(run(shellQuote((c.folder / "mpeg_probe").string()) + " " + shellQuote(mp3) + " 2>" +
                          shellQuote(errFile),
                      &out),
                  0);
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(readFile(errFile), c.err);
    }
}

TEST(MpegLibraryTest, EveryResultCodeHasItsOwnText) {
    auto lib = DynamicLibrary::Open((binDir() / MPEG_DECODER_LIBRARY_NAME).string());
    ASSERT_NE(lib, nullptr);
    auto errorText = lib->Function<mpeg_GetErrorText_t>("mpeg_GetErrorText");
    auto done = lib->Function<mpeg_Done_t>("mpeg_Done");
    ASSERT_TRUE(errorText && done);
    std::set<std::string> texts;
    for (int32_t code = 0; code <= MPEG_ERR_LAST; ++code) {
        char buf[256] = {};
        EXPECT_EQ(errorText(code, buf, sizeof buf), 0) << code;
        EXPECT_GT(std::strlen(buf), 5u) << code;
        texts.insert(buf);
    }
    EXPECT_EQ(texts.size(), size_t(MPEG_ERR_LAST + 1));
    char buf[256];
    EXPECT_NE(errorText(MPEG_ERR_LAST + 1, buf, sizeof buf), 0);
    char tiny[4];
    ASSERT_EQ(errorText(MPEG_ERR_HANDLE, tiny, sizeof tiny), 0);
    EXPECT_STREQ(tiny, "Inv");  // cut to the buffer, always terminated
    int32_t stale = 4711;
    EXPECT_EQ(done(&stale), MPEG_ERR_HANDLE);
}
