// The editor's save, end to end: a lame file tagged by mutagen, read into the record, written by
// WriteMarkers and read back by mutagen.
#include "tags/U_Funcoes.h"

#include "tags/ID3v2.h"

#include "Id3TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using namespace id3test;
using testutil::readFile;
using testutil::sha256;
using testutil::TempDir;
using testutil::writeFile;

namespace {

struct Markers {
    std::string comment, intro, stampTime, stampFile, start, end, chorusStart, chorusEnd, mix;
};

// The editor's call: arguments 2 to 19 empty, 20 to 28 the markers.
bool editorSave(const std::string& path, const Markers& m) {
    const std::string e;
    return WriteMarkers(path, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, m.comment, m.intro, m.stampTime,
                        m.stampFile, m.start, m.end, m.chorusStart, m.chorusEnd, m.mix);
}

void load(const std::string& path) {
    OpenAudioInfo("MP3");
    ReadAudioInfo(path);
}

struct ModuleReset {
    ~ModuleReset() { FreeAudioInfo("MP3"); }
};

// A lame file with a version 2.3 tag from mutagen (no padding, so the first save must rewrite the
// file) and an ID3v1 tag at the end.
class WriteMarkersTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("musica.mp3");
        ASSERT_TRUE(testutil::makeMp3(path, 2.0, "-b 128"));
        ASSERT_TRUE(mutagenRun(path, "t = ID3()\n"
                                     "t.add(TIT2(encoding=1, text='Canção'))\n"
                                     "t.add(TPE1(encoding=0, text='Artista'))\n"
                                     "t.add(TALB(encoding=0, text='Disco'))\n"
                                     "t.add(TRCK(encoding=0, text='3/12'))\n"
                                     "t.add(TCON(encoding=0, text='(17)Rock'))\n"
                                     "t.add(TENC(encoding=0, text='LAME'))\n"
                                     "t.add(TCOP(encoding=0, text='(c) Quelt'))\n"
                                     "t.add(WXXX(encoding=0, desc='', url='http://r.example/'))\n"
                                     "t.add(COMM(encoding=0, lang='por', desc='', text='velho'))\n"
                                     "t.add(POPM(email='dj@x', rating=196, count=3))\n"
                                     "t.add(TXXX(encoding=3, desc='station', text='Rádio Um'))\n"
                                     "t.add(APIC(encoding=0, mime='image/png', type=3, desc='', data=bytes(range(256))*2))\n"
                                     "t.add(TINT(encoding=0, text='0:01.000'))\n"
                                     "t.add(TMXF(encoding=0, text='0:01.900'))\n"
                                     "t.add(TSUC(encoding=0, text='N'))\n"
                                     "t.save(path, v2_version=3, v1=2, padding=lambda info: 0)\n"));
        original = readFile(path);
        oldTagSize = static_cast<size_t>(readTagSize());
        audioAndV1 = original.substr(oldTagSize);
        ASSERT_EQ(audioAndV1.substr(audioAndV1.size() - 128, 3), "TAG");
    }
    void TearDown() override { FreeAudioInfo("MP3"); }

    int32_t readTagSize() {
        TID3v2 t;
        t.ReadFromFile(path);
        return t.TagTotalSize();
    }
    // Everything after the ID3v2 tag: audio and the ID3v1 tag.
    std::string rest() { return readFile(path).substr(static_cast<size_t>(readTagSize())); }

    TempDir dir;
    std::string path, original, audioAndV1;
    size_t oldTagSize = 0;
};

}  // namespace

TEST_F(WriteMarkersTest, EditorSaveWritesMarkersAndKeepsEverythingElse) {
    load(path);
    ASSERT_EQ(FileInfo.IntroMark, "0:01.000");
    const Markers m{"Comentário novo", "0:12.345", "0:30.000", "Vinhetas\\abc.mp3", "0:00.500",
                    "1:59.000",        "0:40.000", "1:10.250", "1:55.000"};
    ASSERT_TRUE(editorSave(path, m));
    EXPECT_EQ(FileInfo.Title, "");  // the record is emptied
    EXPECT_FALSE(std::filesystem::exists(path + "~"));

    const auto dump = mutagenTag(path);
    EXPECT_EQ(dump["version"].toArray()[1].toInt(), 3);
    EXPECT_EQ(dump["size"].toInt(), 4096);
    EXPECT_EQ(readTagSize(), 4096);
    EXPECT_EQ(textOf(dump, "COMM::eng"), "Coment\xC3\xA1rio novo");
    EXPECT_EQ(frameOf(dump, "COMM::eng")["encoding"].toInt(), 0);
    EXPECT_TRUE(frameOf(dump, "COMM::por").isEmpty());
    EXPECT_EQ(textOf(dump, "TINT"), "0:12.345");
    EXPECT_EQ(textOf(dump, "TCAR"), "0:30.000");
    EXPECT_EQ(textOf(dump, "TVIN"), "Vinhetas\\abc.mp3");
    EXPECT_EQ(textOf(dump, "TMXI"), "0:00.500");
    EXPECT_EQ(textOf(dump, "TMXF"), "1:59.000");
    EXPECT_EQ(textOf(dump, "TRFI"), "0:40.000");
    EXPECT_EQ(textOf(dump, "TRFF"), "1:10.250");
    EXPECT_EQ(textOf(dump, "TPMI"), "1:55.000");
    EXPECT_EQ(textOf(dump, "TCAD"), "S");
    EXPECT_EQ(textOf(dump, "TSUC"), "N");
    for (const char* id : {"TINT", "TCAR", "TVIN", "TMXI", "TMXF", "TRFI", "TRFF", "TPMI", "TCAD"})
        EXPECT_EQ(frameOf(dump, id)["encoding"].toInt(), 0) << id;
    // Carried over through the record and the table.
    EXPECT_EQ(textOf(dump, "TIT2"), "Can\xC3\xA7\xC3\xA3o");
    EXPECT_EQ(textOf(dump, "TPE1"), "Artista");
    EXPECT_EQ(textOf(dump, "TALB"), "Disco");
    EXPECT_EQ(textOf(dump, "TRCK"), "3");
    EXPECT_EQ(textOf(dump, "TCON"), "Rock");
    EXPECT_EQ(textOf(dump, "TENC"), "LAME");
    EXPECT_EQ(textOf(dump, "TCOP"), "(c) Quelt");
    EXPECT_EQ(frameOf(dump, "WXXX:")["url"].toString(), "http://r.example/");
    EXPECT_EQ(frameOf(dump, "POPM:")["rating"].toInt(), 196);
    // Carried over as they were.
    EXPECT_EQ(textOf(dump, "TXXX:station"), "R\xC3\xA1" "dio Um");
    std::string png;
    for (int r = 0; r < 2; ++r)
        for (int i = 0; i < 256; ++i) png += static_cast<char>(i);
    EXPECT_EQ(frameOf(dump, "APIC:")["data"].toString().toStdString(), QByteArray::fromStdString(png).toHex().toStdString());
    // Audio and the ID3v1 tag are untouched.
    const std::string after = readFile(path);
    ASSERT_EQ(after.size(), 4096 + audioAndV1.size());
    EXPECT_EQ(sha256(after.substr(4096)), sha256(audioAndV1));
}

TEST_F(WriteMarkersTest, SecondWriteIsInPlaceAndAClearedMarkerIsRemoved) {
    load(path);
    ASSERT_TRUE(editorSave(path, {"Coment\xC3\xA1rio", "0:12.345", "0:30.000", "Vinhetas\\abc.mp3", "0:00.500",
                                  "1:59.000", "0:40.000", "1:10.250", "1:55.000"}));
    const std::string first = readFile(path);
    ASSERT_EQ(readTagSize(), 4096);
    struct stat before {};
    ::stat(path.c_str(), &before);

    // A longer intro, and the end marker cleared as the editor does it.
    load(path);
    FileInfo.EndMark.clear();
    ASSERT_TRUE(editorSave(path, {"", "10:12.345", "", "", "", "", "", "", ""}));
    struct stat after {};
    ::stat(path.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
    const std::string second = readFile(path);
    ASSERT_EQ(second.size(), first.size());
    EXPECT_EQ(sha256(second.substr(4096)), sha256(audioAndV1));
    const auto dump = mutagenTag(path);
    EXPECT_EQ(textOf(dump, "TINT"), "10:12.345");
    EXPECT_TRUE(frameOf(dump, "TMXF").isEmpty());
    EXPECT_EQ(textOf(dump, "TIT2"), "Can\xC3\xA7\xC3\xA3o");
    EXPECT_EQ(textOf(dump, "TXXX:station"), "R\xC3\xA1" "dio Um");
}

TEST_F(WriteMarkersTest, AllArgumentsEmptyWritesTheTagBackPlusTcad) {
    load(path);
    ASSERT_TRUE(editorSave(path, {}));
    const auto dump = mutagenTag(path);
    EXPECT_EQ(textOf(dump, "TINT"), "0:01.000");
    EXPECT_EQ(textOf(dump, "TMXF"), "0:01.900");
    EXPECT_EQ(textOf(dump, "COMM::eng"), "velho");
    EXPECT_EQ(textOf(dump, "TCAD"), "S");
    // Every frame the old tag had is still there, save the COMM moved to "eng".
    const auto before = [&] {
        TempDir d;
        writeFile(d.file("o.mp3"), original);
        return mutagenTag(d.file("o.mp3"));
    }();
    for (const auto& v : before["frames"].toArray()) {
        const QString key = v.toObject()["key"].toString();
        if (key == "COMM::por" || key == "POPM:dj@x") continue;  // rewritten as COMM::eng and POPM:
        EXPECT_FALSE(frameOf(dump, key).isEmpty()) << key.toStdString();
    }
}

TEST_F(WriteMarkersTest, ReadOnlyMissingAndFailingFiles) {
    // Read-only: the attribute is cleared and the save succeeds.
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    load(path);
    ASSERT_TRUE(editorSave(path, {"", "0:03.000", "", "", "", "", "", "", ""}));
    EXPECT_EQ(textOf(mutagenTag(path), "TINT"), "0:03.000");

    // A missing file: false and an empty record.
    load(path);
    ASSERT_FALSE(FileInfo.Title.empty());
    EXPECT_FALSE(editorSave(dir.file("missing.mp3"), {"", "0:03.000", "", "", "", "", "", "", ""}));
    EXPECT_EQ(FileInfo.Title, "");
    EXPECT_EQ(FileInfo.IntroMark, "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.mp3")));

    // A failure at each step of a rewrite (a file without an ID3v2 tag always needs one): false,
    // the original byte for byte, no "~" file.
    for (auto step : {TID3v2::TRewriteStep::rsWrite, TID3v2::TRewriteStep::rsFlush, TID3v2::TRewriteStep::rsRename}) {
        writeFile(path, audioAndV1);
        load(path);
        Id3v2Info->InjectRewriteFailure(step);
        EXPECT_FALSE(editorSave(path, {"", "0:04.000", "", "", "", "", "", "", ""}));
        EXPECT_EQ(sha256(readFile(path)), sha256(audioAndV1));
        EXPECT_FALSE(std::filesystem::exists(path + "~"));
    }
    writeFile(path, original);

    // A track text that is not a number is a conversion error.
    load(path);
    const std::string e;
    EXPECT_THROW(WriteMarkers(path, e, e, e, e, e, "x3", e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e),
                 EConvertError);
    EXPECT_EQ(sha256(readFile(path)), sha256(original));
}

TEST_F(WriteMarkersTest, FileWithOnlyAnId3v1TagGetsAnId3v2TagInFront) {
    writeFile(path, audioAndV1);
    load(path);
    EXPECT_EQ(FileInfo.TagVersionText, "1.1");
    ASSERT_TRUE(editorSave(path, {"", "0:05.000", "", "", "", "", "", "", ""}));
    const std::string after = readFile(path);
    ASSERT_EQ(after.size(), 4096 + audioAndV1.size());
    EXPECT_EQ(sha256(after.substr(4096)), sha256(audioAndV1));
    const auto dump = mutagenTag(path);
    EXPECT_EQ(textOf(dump, "TINT"), "0:05.000");
    EXPECT_EQ(textOf(dump, "TIT2"), "Can\xC3\xA7\xC3\xA3o");  // mutagen wrote the v1 title as Latin-1
    EXPECT_EQ(textOf(dump, "TRCK"), "3");
}
