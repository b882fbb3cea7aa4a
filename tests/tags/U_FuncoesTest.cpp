#include "tags/U_Funcoes.h"

#include "tags/ID3v1.h"
#include "tags/ID3v2.h"
#include "tags/MPEGaudio.h"
#include "tags/WAVfile.h"

#include "Id3TestUtil.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <regex>

using namespace id3test;
using testutil::TempDir;
using testutil::writeFile;

namespace {

// Sets the default locale for one test and restores the stations' one afterwards.
class LocaleGuard {
public:
    explicit LocaleGuard(const QLocale& l) { QLocale::setDefault(l); }
    ~LocaleGuard() { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); }
};

// A canonical PCM wave: 44-byte header and `dataBytes` of silence.
std::string wave(uint32_t dataBytes, uint16_t channels = 2, uint32_t rate = 44100) {
    const uint32_t bps = rate * channels * 2;
    return "RIFF" + testutil::le32(36 + dataBytes) + "WAVEfmt " + testutil::le32(16) + testutil::le16(1) +
           testutil::le16(channels) + testutil::le32(rate) + testutil::le32(bps) +
           testutil::le16(static_cast<uint16_t>(channels * 2)) + testutil::le16(16) + "data" +
           testutil::le32(dataBytes) + std::string(dataBytes, '\0');
}

struct ModuleReset {
    ~ModuleReset() {
        FreeAudioInfo("MP3");
        FreeAudioInfo("WAV");
    }
};

}  // namespace

TEST(U_FuncoesTest, TimeTextToSecondsReadsPointAndCommaInAnyLocale) {
    for (const QLocale& l : {QLocale(QLocale::Portuguese, QLocale::Brazil), QLocale(QLocale::English, QLocale::UnitedStates),
                             QLocale::c()}) {
        LocaleGuard guard(l);
        EXPECT_EQ(TimeTextToSeconds("0:05,5"), 6);
        EXPECT_EQ(TimeTextToSeconds("0:05.5"), 6);
        EXPECT_EQ(TimeTextToSeconds("0:06.5"), 6);  // halves to even
        EXPECT_EQ(TimeTextToSeconds("0:29.500"), 30);
        EXPECT_EQ(TimeTextToSeconds("0:30.500"), 30);
        EXPECT_EQ(TimeTextToSeconds("0:12.5"), 12);
        EXPECT_EQ(TimeTextToSeconds("0:13.5"), 14);
        EXPECT_EQ(TimeTextToSeconds("2:00"), 120);
        EXPECT_EQ(TimeTextToSeconds("1:23.456"), 83);
        EXPECT_EQ(TimeTextToSeconds("10:02.125"), 602);
    }
    for (const char* bad : {"", "0", "abc", ":05", "1:", "1:xx", "a:05", "1:2:3", "1:05.5.5", "1:nan"})
        EXPECT_THROW(TimeTextToSeconds(bad), EConvertError) << bad;
}

TEST(U_FuncoesTest, OpenAndFreeCreateTheAnalysersOfTheExtension) {
    ModuleReset reset;
    FileInfo.Title = "x";
    OpenAudioInfo("mp3");
    EXPECT_TRUE(MpegInfo && Id3v1Info && Id3v2Info);
    EXPECT_FALSE(WavInfo);
    EXPECT_EQ(FileInfo.Title, "");
    OpenAudioInfo(".Wav");
    EXPECT_TRUE(WavInfo);
    FileInfo.Title = "y";
    FreeAudioInfo(".WAV");
    EXPECT_FALSE(WavInfo);
    EXPECT_TRUE(MpegInfo);
    EXPECT_EQ(FileInfo.Title, "y");
    FreeAudioInfo(".MP3");
    EXPECT_FALSE(MpegInfo || Id3v1Info || Id3v2Info);
    EXPECT_EQ(FileInfo.Title, "");

    // The record lists its 47 fields in order.
    EXPECT_STREQ(TagFields[0].name, "MpegValid");
    EXPECT_STREQ(TagFields[46].name, "MixMark");
    Tag t;
    for (int i = 0; i < TagFieldCount; ++i) t.*TagFields[i].member = TagFields[i].name;
    EXPECT_EQ(t.EncodedBy, "EncodedBy");
    EXPECT_EQ(t.ChorusStartMark, "ChorusStartMark");
}

TEST(U_FuncoesTest, ReadAudioInfoOfAnMp3WithAnId3v2Tag) {
    ModuleReset reset;
    TempDir dir;
    const std::string path = dir.file("song.mp3");
    ASSERT_TRUE(testutil::makeMp3(path, 3.0, "-b 128 -m j"));
    ASSERT_TRUE(mutagenRun(path, "t = ID3()\n"
                                 "t.add(TIT2(encoding=1, text='Canção'))\n"
                                 "t.add(TPE1(encoding=0, text='Artista'))\n"
                                 "t.add(TRCK(encoding=0, text='3/12'))\n"
                                 "t.add(TCON(encoding=0, text='(17)Rock'))\n"
                                 "t.add(COMM(encoding=3, lang='por', desc='', text='Olá'))\n"
                                 "t.add(POPM(email='dj@x', rating=196, count=3))\n"
                                 "t.add(TINT(encoding=0, text='0:12.345'))\n"
                                 "t.add(TVIN(encoding=0, text='Vinhetas\\\\abc.mp3'))\n"
                                 "t.save(path, v2_version=3)\n"));
    const int64_t size = static_cast<int64_t>(std::filesystem::file_size(path));

    OpenAudioInfo("MP3");
    ReadAudioInfo(path);
    const Tag& f = FileInfo;
    EXPECT_EQ(f.MpegValid, "Sim");
    EXPECT_EQ(f.FileSizeText, std::to_string(size) + " bytes");
    EXPECT_EQ(f.MpegVersionLayer, "MPEG 1 Layer III");
    EXPECT_EQ(f.BitRateText, "CBR 128 kbit/s");
    EXPECT_EQ(f.SampleRateText, "44100 hz");
    EXPECT_EQ(f.ChannelModeText, "Joint Stereo");
    EXPECT_TRUE(std::regex_match(f.DurationText, std::regex("3,[01] seg\\."))) << f.DurationText;
    EXPECT_EQ(f.CrcText, "N\xC3\xA3o");
    EXPECT_EQ(f.TagPresentText, "Sim");
    EXPECT_EQ(f.TagVersionText, "2.3");
    EXPECT_EQ(f.TagSizeText, std::to_string(MpegInfo->Id3v2Tag().TagTotalSize()) + " bytes");
    EXPECT_EQ(f.Title, "Can\xC3\xA7\xC3\xA3o");
    EXPECT_EQ(f.Artist, "Artista");
    EXPECT_EQ(f.Track, "3");
    EXPECT_EQ(f.Genre, "Rock");
    EXPECT_EQ(f.Comment, "Ol\xC3\xA1");
    EXPECT_EQ(f.Rating, "196");
    EXPECT_EQ(f.IntroMark, "0:12.345");
    EXPECT_EQ(f.StampFile, "Vinhetas\\abc.mp3");
    EXPECT_EQ(f.FrameTGRA, "");
    // The analyser's own tag is the one the editor shows the markers from.
    EXPECT_EQ(MpegInfo->Id3v2Tag().IntroMark(), "0:12.345");

    // Another locale, another decimal separator in the duration.
    {
        LocaleGuard guard(QLocale(QLocale::English, QLocale::UnitedStates));
        ReadAudioInfo(path);
        EXPECT_TRUE(std::regex_match(FileInfo.DurationText, std::regex("3\\.[01] seg\\."))) << FileInfo.DurationText;
    }
}

TEST(U_FuncoesTest, ReadAudioInfoFallsBackToId3v1) {
    ModuleReset reset;
    TempDir dir;
    const std::string path = dir.file("v1.mp3");
    ASSERT_TRUE(testutil::makeMp3(path, 2.0, "-b 96 -m m"));
    std::string v1 = "TAG" + std::string("Title") + std::string(25, '\0') + "Artist" + std::string(24, '\0') +
                     "Album" + std::string(25, '\0') + "1998" + "Comment" + std::string(21, '\0') +
                     std::string("\0\x05", 2) + "\x0D";
    ASSERT_EQ(v1.size(), 128u);
    writeFile(path, testutil::readFile(path) + v1);
    OpenAudioInfo("MP3");
    ReadAudioInfo(path);
    const Tag& f = FileInfo;
    EXPECT_EQ(f.MpegValid, "Sim");
    EXPECT_EQ(f.ChannelModeText, "Mono");
    EXPECT_EQ(f.BitRateText, "CBR 96 kbit/s");
    EXPECT_EQ(f.TagPresentText, "Sim");
    EXPECT_EQ(f.TagVersionText, "1.1");
    EXPECT_EQ(f.TagSizeText, "");
    EXPECT_EQ(f.Title, "Title");
    EXPECT_EQ(f.Artist, "Artist");
    EXPECT_EQ(f.Album, "Album");
    EXPECT_EQ(f.Year, "1998");
    EXPECT_EQ(f.Comment, "Comment");
    EXPECT_EQ(f.Track, "5");
    EXPECT_EQ(f.Genre, "Pop");
    EXPECT_EQ(f.IntroMark, "");
}

TEST(U_FuncoesTest, ReadAudioInfoOfWaveAndOfBadFiles) {
    ModuleReset reset;
    TempDir dir;
    // The editor opens only the MP3 analysers; a wave file still gets its fields.
    writeFile(dir.file("a.wav"), wave(176400 / 2));
    OpenAudioInfo("MP3");
    ReadAudioInfo(dir.file("a.wav"));
    EXPECT_TRUE(WavInfo);
    EXPECT_EQ(FileInfo.ChannelModeText, "Stereo");
    EXPECT_EQ(FileInfo.SampleRateText, "44100 hz");
    EXPECT_EQ(FileInfo.FileSizeText, std::to_string(44 + 88200) + " bytes");
    EXPECT_EQ(FileInfo.DurationText, ",500 seg.");
    EXPECT_EQ(FileInfo.MpegValid, "");
    EXPECT_EQ(FileInfo.Title, "");

    // Six channels: not a valid header, nothing filled.
    std::string six = wave(1200, 6);
    writeFile(dir.file("six.wav"), six);
    ReadAudioInfo(dir.file("six.wav"));
    EXPECT_EQ(FileInfo.ChannelModeText, "");

    // Not MPEG audio: "Não" and nothing else.
    writeFile(dir.file("junk.mp3"), std::string(20000, 'J'));
    ReadAudioInfo(dir.file("junk.mp3"));
    EXPECT_EQ(FileInfo.MpegValid, "N\xC3\xA3o");
    EXPECT_EQ(FileInfo.FileSizeText, "");

    // Missing and empty names leave the record empty.
    FileInfo.Title = "old";
    ReadAudioInfo(dir.file("missing.mp3"));
    EXPECT_EQ(FileInfo.Title, "");
    FileInfo.Title = "old";
    ReadAudioInfo("");
    EXPECT_EQ(FileInfo.Title, "");
}
