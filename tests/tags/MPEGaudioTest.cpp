#include "tags/ID3v1.h"
#include "tags/ID3v2.h"
#include "tags/MPEGaudio.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

using namespace testutil;

namespace {

// MPEG 1 Layer III, 128 kbit/s, 44100 Hz, joint stereo, original, no CRC, no padding: 417 bytes.
const std::string kHeader128 = "\xFF\xFB\x90\x64";
constexpr size_t kLength128 = 417;  // 144 * 128000 / 44100, truncated

// One frame: its header, zero side information and zero filler (0xFF never occurs in it).
std::string frame(const std::string& header, size_t length) {
    std::string f(length, '\0');
    f.replace(0, 4, header);
    return f;
}

// `total` bytes of back-to-back frames (the last one cut).
std::string frames(size_t total, const std::string& header = kHeader128, size_t length = kLength128) {
    std::string s;
    while (s.size() < total) s += frame(header, length);
    s.resize(total);
    return s;
}

// Junk that never holds a sync byte.
std::string junk(size_t n) { return std::string(n, 'J'); }

std::string id3v2Tag(size_t bodySize) {
    std::string body = std::string("TIT2") + be32(6) + std::string("\0\0\0", 3) + "Title";
    body.resize(bodySize, '\0');
    return std::string("ID3\x03\x00\x00", 6) + syncsafe(uint32_t(body.size())) + body;
}

std::string id3v1Tag() {
    std::string t = "TAG";
    t.resize(128, '\0');
    t[127] = char(17);
    return t;
}

// A first frame carrying a Xing header at the side-information distance.
std::string xingFrame(const std::string& header, size_t length, size_t distance, uint32_t frameTotal,
                      uint32_t byteTotal, const std::string& encoder = "LAME3.90") {
    std::string f = frame(header, length);
    std::string xing = "Xing" + be32(0x0F) + be32(frameTotal) + be32(byteTotal);
    xing.resize(119, '\0');
    xing += char(57) + encoder;
    f.replace(distance, xing.size(), xing);
    return f;
}

struct Analysis {
    bool read = false;
    std::unique_ptr<TMPEGaudio> mpeg = std::make_unique<TMPEGaudio>();
};

Analysis analyse(const TempDir& dir, const std::string& bytes) {
    const std::string path = dir.file("a.mp3");
    writeFile(path, bytes);
    Analysis a;
    a.read = a.mpeg->ReadFromFile(path);
    return a;
}

void expectReset(const TMPEGaudio& m) {
    EXPECT_FALSE(m.Frame().Found);
    EXPECT_EQ(m.FileLength(), 0);
    EXPECT_EQ(m.Version(), "MPEG ?");
    EXPECT_EQ(m.Layer(), "Layer ?");
    EXPECT_EQ(m.ChannelMode(), "Unknown");
    EXPECT_EQ(m.Emphasis(), "Unknown");
    EXPECT_EQ(m.BitRate(), 0);
    EXPECT_EQ(m.SampleRate(), 0);
    EXPECT_EQ(m.Duration(), 0.0);
    EXPECT_EQ(m.Encoder(), "Unknown");
    EXPECT_FALSE(m.Valid());
    EXPECT_FALSE(m.Id3v2Tag().TagFound());
    EXPECT_FALSE(m.Id3v1Tag().TagFound());
}

}  // namespace

TEST(MPEGaudioTest, ResetStateNamesTheUnknownEntries) {
    TMPEGaudio m;
    expectReset(m);
    TempDir dir;
    EXPECT_FALSE(m.ReadFromFile(dir.file("missing.mp3")));
    expectReset(m);
    // Shorter than an ID3v1 tag: the tag read fails.
    EXPECT_FALSE(analyse(dir, frames(100)).read);
}

TEST(MPEGaudioTest, CbrDurationCountsOnlyTheAudioBetweenTheTags) {
    TempDir dir;
    const auto a = analyse(dir, id3v2Tag(990) + frames(1000000) + id3v1Tag());
    ASSERT_TRUE(a.read);
    const TMPEGaudio& m = *a.mpeg;
    EXPECT_TRUE(m.Id3v2Tag().TagFound());
    EXPECT_EQ(m.Id3v2Tag().Title(), "Title");
    EXPECT_TRUE(m.Id3v1Tag().TagFound());
    EXPECT_EQ(m.FileLength(), 1000 + 1000000 + 128);
    EXPECT_EQ(m.Frame().Position, 0);
    EXPECT_EQ(m.Frame().Size, kLength128);
    EXPECT_TRUE(m.Frame().ZeroSideInfo);
    EXPECT_EQ(m.Version(), "MPEG 1");
    EXPECT_EQ(m.Layer(), "Layer III");
    EXPECT_EQ(m.ChannelMode(), "Joint Stereo");
    EXPECT_EQ(m.Emphasis(), "None");
    EXPECT_EQ(m.BitRate(), 128);
    EXPECT_EQ(m.SampleRate(), 44100);
    EXPECT_DOUBLE_EQ(m.Duration(), 62.5);
    EXPECT_EQ(m.FrameCount(), 1000000 / 417);
    EXPECT_FALSE(m.VBR().Present);
    EXPECT_TRUE(m.Valid());
}

TEST(MPEGaudioTest, HeaderFieldsAreDecodedBitByBit) {
    // MPEG 2 Layer II with CRC, 64 kbit/s (index 8), 24000 Hz (index 1), padding, private,
    // dual channel, mode extension 2, copyright, not original, emphasis 50/15 ms.
    const std::string header = "\xFF\xF4\x87\xA9";
    const size_t length = 144 * 64000 / 24000 + 1;
    TempDir dir;
    const auto a = analyse(dir, frames(20 * length, header, length));
    ASSERT_TRUE(a.read);
    const FrameHeaderInfo& f = a.mpeg->Frame();
    ASSERT_TRUE(f.Found);
    EXPECT_EQ(f.Size, length);
    EXPECT_EQ(f.VersionID, 2);
    EXPECT_EQ(f.LayerID, 2);
    EXPECT_TRUE(f.ProtectionBit);
    EXPECT_EQ(f.BitRateID, 8);
    EXPECT_EQ(f.SampleRateID, 1);
    EXPECT_TRUE(f.PaddingBit);
    EXPECT_TRUE(f.PrivateBit);
    EXPECT_EQ(f.ModeID, 2);
    EXPECT_EQ(f.ModeExtensionID, 2);
    EXPECT_TRUE(f.CopyBit);
    EXPECT_FALSE(f.OriginalBit);
    EXPECT_EQ(f.EmphasisID, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.HeaderBytes), 4), header);
    EXPECT_EQ(a.mpeg->Version(), "MPEG 2");
    EXPECT_EQ(a.mpeg->Layer(), "Layer II");
    EXPECT_EQ(a.mpeg->ChannelMode(), "Dual Channel");
    EXPECT_EQ(a.mpeg->Emphasis(), "50/15 ms");
    EXPECT_EQ(a.mpeg->BitRate(), 64);
    EXPECT_EQ(a.mpeg->SampleRate(), 24000);
    // Dual channel with CRC is Shine's mark, and it comes after Layer II's (QDesign).
    EXPECT_EQ(a.mpeg->Encoder(), "Shine");
}

TEST(MPEGaudioTest, FrameSearchBoundaries) {
    TempDir dir;
    // A sync word with no frame after it is passed over.
    {
        const auto a = analyse(dir, kHeader128 + junk(96) + frames(10 * kLength128));
        ASSERT_TRUE(a.read);
        EXPECT_EQ(a.mpeg->Frame().Position, 100);
    }
    // The last offset searched in the first block.
    {
        const auto a = analyse(dir, junk(1729) + frames(10 * kLength128));
        EXPECT_EQ(a.mpeg->Frame().Position, 1729);
    }
    // One byte further, and nothing but junk in the middle of the file: no frame, reset, read true.
    {
        const auto a = analyse(dir, junk(1730) + frames(3 * kLength128) + junk(10000));
        EXPECT_TRUE(a.read);
        expectReset(*a.mpeg);
    }
    // A long run of junk: the frame is found in the middle of the file.
    {
        const auto a = analyse(dir, junk(5000) + frames(40000 + 11));
        ASSERT_TRUE(a.read);
        ASSERT_TRUE(a.mpeg->Frame().Found);
        // The middle block starts at 45011 / 2, 17505 bytes into the frames.
        EXPECT_EQ(a.mpeg->Frame().Position, int32_t(kLength128 - 17505 % kLength128));
        EXPECT_TRUE(a.mpeg->Valid());
    }
    // A frame whose follower would start beyond the bytes read is rejected.
    {
        const auto a = analyse(dir, frame(kHeader128, kLength128) + kHeader128.substr(0, 3));
        EXPECT_TRUE(a.read);
        EXPECT_FALSE(a.mpeg->Frame().Found);
        const auto b = analyse(dir, frame(kHeader128, kLength128) + kHeader128);
        EXPECT_TRUE(b.mpeg->Frame().Found);
    }
    // Invalid headers: reserved version, layer, bit-rate index 15 and 0, sample-rate index 3,
    // emphasis 2. None of them is taken even with a copy of itself one "frame" later.
    const char* const bad[] = {"\xFF\xEB\x90\x64", "\xFF\xF9\x90\x64", "\xFF\xFB\xF0\x64",
                               "\xFF\xFB\x00\x64", "\xFF\xFB\x9C\x64", "\xFF\xFB\x90\x66"};
    for (size_t i = 0; i < std::size(bad); ++i) {
        const auto a = analyse(dir, frames(10 * kLength128, std::string(bad[i], 4)));
        EXPECT_FALSE(a.mpeg->Frame().Found) << "header " << i;
    }
}

TEST(MPEGaudioTest, TagDeclaringMoreThanTheFileSearchesFromTheStart) {
    TempDir dir;
    // The tag claims 1 MB; its size counts as 0, so the frames right after its 20 bytes are found.
    const std::string tag = std::string("ID3\x03\x00\x00", 6) + syncsafe(1 << 20) + std::string(10, '\0');
    const auto a = analyse(dir, tag + frames(20 * kLength128));
    ASSERT_TRUE(a.read);
    EXPECT_EQ(a.mpeg->Id3v2Tag().TagTotalSize(), 0);
    EXPECT_EQ(a.mpeg->Frame().Position, 20);
    EXPECT_TRUE(a.mpeg->Valid());
}

TEST(MPEGaudioTest, ShortFileKeepsItsAnalysisAndReadsTrue) {
    // 3000 bytes: shorter than the blocks read at the start and at the end.
    TempDir dir;
    std::string bytes = frames(3000);
    bytes.replace(3000 - 20, 8, "LAME3.98");
    const auto a = analyse(dir, bytes);
    EXPECT_TRUE(a.read);
    EXPECT_TRUE(a.mpeg->Frame().Found);
    EXPECT_EQ(a.mpeg->VendorText(), "LAME3.98");
    EXPECT_EQ(a.mpeg->Encoder(), "LAME 3.98");
    EXPECT_DOUBLE_EQ(a.mpeg->Duration(), 3000 * 8 / 128000.0);
    EXPECT_TRUE(a.mpeg->Valid());
}

TEST(MPEGaudioTest, XingHeaderGivesFramesAverageBitRateAndEncoder) {
    TempDir dir;
    // MPEG 1 Layer III 48000 Hz: 385.5 bytes per frame is 128.5 kbit/s, rounded half to even.
    const std::string header = "\xFF\xFB\x94\x64";  // 128 kbit/s, 48000 Hz, joint stereo
    const size_t length = 144 * 128000 / 48000;
    {
        const auto a = analyse(dir, xingFrame(header, length, 36, 2, 771) + frames(30 * length, header, length));
        ASSERT_TRUE(a.read);
        const TMPEGaudio& m = *a.mpeg;
        ASSERT_TRUE(m.VBR().Present);
        EXPECT_EQ(m.VBR().HeaderID, "Xing");
        EXPECT_EQ(m.VBR().FrameTotal, 2);
        EXPECT_EQ(m.VBR().ByteTotal, 771);
        EXPECT_EQ(m.VBR().Quality, 57);
        EXPECT_EQ(m.VBR().EncoderTag, "LAME3.90");
        EXPECT_EQ(m.BitRate(), 128);
        EXPECT_EQ(m.FrameCount(), 2);
        EXPECT_DOUBLE_EQ(m.Duration(), 2 * 1152 / 48000.0);
        EXPECT_EQ(m.Encoder(), "LAME 3.90");
        EXPECT_TRUE(m.VendorText().empty());  // not looked for with a VBR header
    }
    {
        // 1000 frames of 388.5 bytes: 129.5 kbit/s, to even is 130; a long stream, so valid.
        const auto a = analyse(dir, xingFrame(header, length, 36, 1000, 388500, "GOGO1.0") +
                                        frames(30 * length, header, length));
        EXPECT_EQ(a.mpeg->BitRate(), 130);
        EXPECT_DOUBLE_EQ(a.mpeg->Duration(), 1000 * 1152 / 48000.0);
        EXPECT_EQ(a.mpeg->Encoder(), "GoGo");
        EXPECT_TRUE(a.mpeg->Valid());
    }
    {
        // Another encoder's tag text: the Xing encoder. Its bytes are taken as Latin-1.
        const auto a = analyse(dir, xingFrame(header, length, 36, 1000, 388500, "Enc\xE9") +
                                        frames(30 * length, header, length));
        EXPECT_EQ(a.mpeg->VBR().EncoderTag, "Enc\xC3\xA9");
        EXPECT_EQ(a.mpeg->Encoder(), "Xing");
    }
    {
        // Side-information distances: MPEG 1 mono 21, MPEG 2 stereo 21, MPEG 2 mono 13.
        const std::string mono1 = "\xFF\xFB\x94\xC4";
        const std::string stereo2 = "\xFF\xF3\x84\x64";  // MPEG 2, 64 kbit/s, 24000 Hz
        const std::string mono2 = "\xFF\xF3\x84\xC4";
        const size_t length2 = 72 * 64000 / 24000;
        const auto m1 = analyse(dir, xingFrame(mono1, length, 21, 500, 500 * length) + frames(30 * length, mono1, length));
        EXPECT_TRUE(m1.mpeg->VBR().Present);
        EXPECT_EQ(m1.mpeg->BitRate(), 128);
        const auto s2 = analyse(dir, xingFrame(stereo2, length2, 21, 500, 500 * length2) +
                                         frames(30 * length2, stereo2, length2));
        EXPECT_TRUE(s2.mpeg->VBR().Present);
        EXPECT_EQ(s2.mpeg->BitRate(), 64);
        EXPECT_DOUBLE_EQ(s2.mpeg->Duration(), 500 * 576 / 24000.0);
        const auto m2 = analyse(dir, xingFrame(mono2, length2, 13, 500, 500 * length2) +
                                         frames(30 * length2, mono2, length2));
        EXPECT_TRUE(m2.mpeg->VBR().Present);
        // At the stereo distance in a mono MPEG 2 frame: not a Xing header.
        const auto off = analyse(dir, xingFrame(mono2, length2, 21, 500, 500 * length2) +
                                          frames(30 * length2, mono2, length2));
        EXPECT_FALSE(off.mpeg->VBR().Present);
    }
}

TEST(MPEGaudioTest, VbriHeaderSitsAfterThirtyTwoBytesInEveryMode) {
    TempDir dir;
    for (const std::string& header : {std::string("\xFF\xFB\x90\x64", 4), std::string("\xFF\xFB\x90\xC4", 4)}) {
        std::string first = frame(header, kLength128);
        const std::string vbri = std::string("VBRI") + be16(1) + be16(1234) + be16(80) + be32(2000 * 418) + be32(2000);
        first.replace(36, vbri.size(), vbri);
        const auto a = analyse(dir, first + frames(20 * kLength128, header));
        ASSERT_TRUE(a.mpeg->VBR().Present);
        EXPECT_EQ(a.mpeg->VBR().HeaderID, "VBRI");
        EXPECT_EQ(a.mpeg->VBR().Quality, 80);
        EXPECT_EQ(a.mpeg->VBR().ByteTotal, 2000 * 418);
        EXPECT_EQ(a.mpeg->VBR().FrameTotal, 2000);
        EXPECT_EQ(a.mpeg->BitRate(), 128);  // 418 bytes a frame at 44100 Hz
        EXPECT_EQ(a.mpeg->FrameCount(), 2000);
        EXPECT_EQ(a.mpeg->Encoder(), "FhG");
    }
}

TEST(MPEGaudioTest, EncoderGuessWithoutVbrHeader) {
    TempDir dir;
    // Side information that is not zero, so that only the header bits speak.
    const auto guess = [&](const std::string& header, size_t length, const std::string& tail = "") {
        std::string f = frame(header, length);
        f[6] = 1;
        std::string s;
        while (s.size() < 20 * length) s += f;
        s += tail;
        const auto a = analyse(dir, s);
        return a.mpeg->Encoder();
    };
    EXPECT_EQ(guess("\xFF\xFB\x90\x64", 417), "FhG");    // original, no CRC
    EXPECT_EQ(guess("\xFF\xFA\x90\x64", 417), "LAME");   // original, CRC
    EXPECT_EQ(guess("\xFF\xFA\x90\x24", 417), "Blade");  // stereo at 128 kbit/s
    EXPECT_EQ(guess("\xFF\xFB\xB0\x24", 626), "FhG");    // stereo at 192 kbit/s
    EXPECT_EQ(guess("\xFF\xFB\x90\x6C", 417), "Xing");   // copyright, original, no CRC
    EXPECT_EQ(guess("\xFF\xFD\x90\x64", 522), "QDesign");  // Layer II, 160 kbit/s
    EXPECT_EQ(guess("\xFF\xFB\x90\x64", 417, "GOGO" + std::string(100, '\0')), "GoGo");
    // The vendor text is looked for only within five frame lengths (and 8 bytes) of the end.
    EXPECT_EQ(guess("\xFF\xFB\x90\x64", 417, "LAME3.97" + std::string(5 * 417, '\0')), "LAME 3.97");
    EXPECT_EQ(guess("\xFF\xFB\x90\x64", 417, "LAME3.97" + std::string(5 * 417 + 1, '\0')), "FhG");
    // A version that is not digit, dot, digit, digit is left out.
    EXPECT_EQ(guess("\xFF\xFB\x90\x64", 417, "LAME3-97"), "LAME");
    // The ID3v1 tag is not part of the end block.
    EXPECT_EQ(guess("\xFF\xFB\x90\x64", 417, "LAME3.99" + id3v1Tag()), "LAME 3.99");
}

// ---- Files made by lame, checked against ffprobe and mutagen ----

namespace {

struct Probe {
    double duration = 0;      // ffprobe, seconds
    long formatBitRate = 0;   // ffprobe, bit/s
    long streamBitRate = 0;   // ffprobe, bit/s
    long sampleRate = 0;
    int channels = 0;
    std::string mutagenMode;  // "0".."3", as ModeID
    std::string mutagenVersion, mutagenLayer, mutagenProtected, mutagenEncoder;
};

std::map<std::string, std::string> keyValues(const std::string& text) {
    std::map<std::string, std::string> kv;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return kv;
}

bool probe(const std::string& path, Probe& p) {
    std::string out;
    if (run("ffprobe -v error -select_streams a:0 -show_entries format=duration,bit_rate:stream=sample_rate,"
            "channels,bit_rate -of default=noprint_wrappers=1 " + shellQuote(path), &out) != 0)
        return false;
    // Format and stream both name bit_rate: the stream's comes first.
    const auto first = out.find("bit_rate=");
    const auto second = out.find("bit_rate=", first + 1);
    if (first == std::string::npos || second == std::string::npos) return false;
    p.streamBitRate = std::atol(out.c_str() + first + 9);
    p.formatBitRate = std::atol(out.c_str() + second + 9);
    auto kv = keyValues(out);
    p.duration = std::atof(kv["duration"].c_str());
    p.sampleRate = std::atol(kv["sample_rate"].c_str());
    p.channels = std::atoi(kv["channels"].c_str());
    const std::string script =
        "import sys\nfrom mutagen.mp3 import MP3\ni = MP3(sys.argv[1]).info\n"
        "print('mode=%d' % i.mode)\nprint('version=%s' % i.version)\nprint('layer=%d' % i.layer)\n"
        "print('protected=%d' % i.protected)\nprint('encoder=%s' % i.encoder_info)\n";
    if (run("/usr/bin/python3 -c " + shellQuote(script) + " " + shellQuote(path), &out) != 0) return false;
    kv = keyValues(out);
    p.mutagenMode = kv["mode"];
    p.mutagenVersion = kv["version"];
    p.mutagenLayer = kv["layer"];
    p.mutagenProtected = kv["protected"];
    p.mutagenEncoder = kv["encoder"];
    return true;
}

}  // namespace

TEST(MPEGaudioTest, LameFilesAgreeWithFfprobeAndMutagen) {
    if (!haveTool("lame") || !haveTool("sox") || !haveTool("ffprobe")) GTEST_SKIP() << "lame, sox or ffprobe missing";
    struct Case {
        const char* name;
        const char* options;
        int rate, channels;
        size_t junkBytes;
        bool vbr;
        const char* version;
        const char* mode;
    };
    const Case cases[] = {
        {"cbr", "-b 128", 44100, 2, 0, false, "MPEG 1", "Joint Stereo"},
        {"vbr", "-V 2", 44100, 2, 0, true, "MPEG 1", "Joint Stereo"},
        {"mono", "-b 64", 44100, 1, 0, false, "MPEG 1", "Mono"},
        {"mpeg2", "-b 64", 22050, 2, 0, false, "MPEG 2", "Joint Stereo"},
        {"mpeg25", "-b 16", 8000, 2, 0, false, "MPEG 2.5", "Joint Stereo"},
        {"crc", "-p -b 128", 44100, 2, 0, false, "MPEG 1", "Joint Stereo"},
        {"crc-vbr", "-p -V 4", 44100, 2, 0, true, "MPEG 1", "Joint Stereo"},
        {"stereo", "-m s -b 160", 44100, 2, 0, false, "MPEG 1", "Stereo"},
        {"junk", "-b 128", 44100, 2, 1000, false, "MPEG 1", "Joint Stereo"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".mp3");
        ASSERT_TRUE(makeMp3(path, 6, c.options, c.rate, c.channels));
        if (c.junkBytes) writeFile(path, junk(c.junkBytes) + readFile(path));
        Probe p;
        ASSERT_TRUE(probe(path, p));
        TMPEGaudio m;
        ASSERT_TRUE(m.ReadFromFile(path));
        ASSERT_TRUE(m.Valid());
        EXPECT_EQ(m.Frame().Position, int32_t(c.junkBytes));
        EXPECT_EQ(m.Version(), c.version);
        EXPECT_EQ(m.Layer(), "Layer III");
        EXPECT_EQ(m.ChannelMode(), c.mode);
        EXPECT_EQ(std::to_string(m.Frame().ModeID), p.mutagenMode);
        EXPECT_EQ(m.Version(), "MPEG " + p.mutagenVersion);
        EXPECT_EQ(p.mutagenLayer, "3");
        EXPECT_EQ(m.Frame().ProtectionBit, p.mutagenProtected == "1");
        EXPECT_EQ(m.SampleRate(), p.sampleRate);
        EXPECT_EQ(p.channels, c.channels);
        EXPECT_EQ(m.VBR().Present, c.vbr);
        if (c.vbr) {
            EXPECT_EQ(m.VBR().HeaderID, "Xing");
            EXPECT_EQ(m.VBR().EncoderTag, "LAME3.10");
            EXPECT_NEAR(m.BitRate(), p.formatBitRate / 1000.0, 1.0);
        } else {
            EXPECT_EQ(m.BitRate() * 1000, p.streamBitRate);
        }
        // Within a frame and a half: ffprobe leaves out the LAME information frame, which a
        // CBR count of audio bytes includes.
        const double frameSeconds = (c.rate >= 32000 ? 1152.0 : 576.0) / c.rate;
        EXPECT_NEAR(m.Duration(), p.duration, 1.5 * frameSeconds);
        EXPECT_EQ(m.Encoder(), "LAME 3.10");
        if (!p.mutagenEncoder.empty()) {
            EXPECT_EQ(p.mutagenEncoder.rfind("LAME 3.10", 0), 0u) << p.mutagenEncoder;
        }
    }
}
