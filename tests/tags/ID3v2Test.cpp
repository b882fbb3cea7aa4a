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

const std::string Z1 = bytes("\0", 1);
const std::string Z2 = bytes("\0\0", 2);

// Saves, then has mutagen read the result: a version 2.3 tag of the size this reader sees, with
// every frame one mutagen can parse.
bool saveChecked(TID3v2& t, const std::string& path) {
    if (!t.SaveToFile(path)) return false;
    const auto dump = mutagenTag(path);
    TID3v2 back;
    back.ReadFromFile(path);
    EXPECT_EQ(dump["version"].toArray()[1].toInt(), 3) << path;
    EXPECT_EQ(dump["size"].toInt(), back.TagTotalSize()) << path;
    EXPECT_EQ(dump["unknown"].toInt(), 0) << path;
    return true;
}

TID3v2 readTag(const std::string& path) {
    TID3v2 t;
    EXPECT_TRUE(t.ReadFromFile(path));
    return t;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Reading

TEST(ID3v2Test, ReadsMarkersFromVersion3Tag) {
    TempDir dir;
    const std::string body = frame3("TINT", latin1("0:12.345")) + frame3("TMXI", latin1("0:01.000")) +
                             frame3("TMXF", latin1("3:59.500")) + frame3("TRFI", latin1("1:00.000")) +
                             frame3("TRFF", latin1("1:30.000")) + frame3("TPMI", latin1("3:50.000")) +
                             frame3("TCAR", latin1("0:30.000")) + frame3("TVIN", latin1("Vinhetas\\abc.mp3")) +
                             frame3("TCAD", latin1("S")) + frame3("TSUC", latin1("x")) +
                             frame3("TIT2", latin1("Song  ")) + std::string(100, '\0');
    writeFile(dir.file("a.mp3"), tag(3, body) + audio(1000));
    const TID3v2 t = readTag(dir.file("a.mp3"));
    EXPECT_TRUE(t.TagFound());
    EXPECT_EQ(t.TagVersion(), 3);
    EXPECT_EQ(t.TagTotalSize(), static_cast<int32_t>(body.size() + 10));
    EXPECT_EQ(t.IntroMark(), "0:12.345");
    EXPECT_EQ(t.StartMark(), "0:01.000");
    EXPECT_EQ(t.EndMark(), "3:59.500");
    EXPECT_EQ(t.ChorusStartMark(), "1:00.000");
    EXPECT_EQ(t.ChorusEndMark(), "1:30.000");
    EXPECT_EQ(t.MixMark(), "3:50.000");
    EXPECT_EQ(t.StampMark(), "0:30.000");
    EXPECT_EQ(t.StampFile(), "Vinhetas\\abc.mp3");
    EXPECT_EQ(t.FrameTCAD(), "S");
    EXPECT_EQ(t.FrameTSUC(), "x");
    EXPECT_EQ(t.Title(), "Song");
}

TEST(ID3v2Test, Version2TagWithTriFillsTwoSlotsAndIsWrittenAsVersion3) {
    TempDir dir;
    const std::string path = dir.file("v2.mp3");
    const std::string body = frame2("TT2", latin1("Old title")) + frame2("TRI", latin1("1:02.000")) +
                             frame2("TIN", latin1("0:05.000")) + frame2("COM", latin1("eng") + Z1 + "hi") +
                             std::string(20, '\0');
    const std::string sound = audio(5000);
    writeFile(path, tag(2, body) + sound);
    TID3v2 t = readTag(path);
    EXPECT_EQ(t.TagVersion(), 2);
    EXPECT_EQ(t.Title(), "Old title");
    EXPECT_EQ(t.FrameTRIT(), "1:02.000");
    EXPECT_EQ(t.ChorusStartMark(), "1:02.000");
    EXPECT_EQ(t.IntroMark(), "0:05.000");
    EXPECT_EQ(t.Comment(), "hi");

    ASSERT_TRUE(saveChecked(t, path));
    const auto dump = mutagenTag(path);
    EXPECT_EQ(dump["version"].toArray()[1].toInt(), 3);
    EXPECT_EQ(textOf(dump, "TIT2"), "Old title");
    EXPECT_EQ(textOf(dump, "TRIT"), "1:02.000");
    EXPECT_EQ(textOf(dump, "TRFI"), "1:02.000");
    EXPECT_EQ(textOf(dump, "TINT"), "0:05.000");
    const std::string file = readFile(path);
    ASSERT_EQ(file.size(), 4096 + sound.size());
    EXPECT_EQ(sha256(file.substr(4096)), sha256(sound));
}

TEST(ID3v2Test, Version4PictureBeforeIntroIsSkippedWhenReadingAndKeptWhenWriting) {
    TempDir dir;
    const std::string path = dir.file("v4.mp3");
    std::string picture = bytes("\0image/png\0\3\0", 13);
    picture += audio(300 - picture.size(), 7);
    // 300 bytes need two 7-bit groups: a plain 32-bit size would be read wrongly.
    const std::string body = frame4("APIC", picture) + frame4("TINT", latin1("0:07.250")) + std::string(64, '\0');
    const std::string sound = audio(3000);
    writeFile(path, tag(4, body) + sound);
    TID3v2 t = readTag(path);
    EXPECT_EQ(t.TagVersion(), 4);
    EXPECT_EQ(t.IntroMark(), "0:07.250");
    // A 2.4 writer that put a plain 32-bit size (200 = 00 00 00 C8, not 7-bit groups).
    {
        TempDir d2;
        writeFile(d2.file("plain.mp3"),
                  tag(4, frame3("APIC", picture.substr(0, 200)) + frame4("TINT", latin1("0:08.000"))) + sound);
        EXPECT_EQ(readTag(d2.file("plain.mp3")).IntroMark(), "0:08.000");
    }

    // The old tag has room for the new frames: written in place, the picture kept.
    t.SetStartMark("0:01.000");
    ASSERT_TRUE(saveChecked(t, path));
    const auto dump = mutagenTag(path);
    EXPECT_EQ(dump["version"].toArray()[1].toInt(), 3);
    EXPECT_EQ(textOf(dump, "TINT"), "0:07.250");
    EXPECT_EQ(textOf(dump, "TMXI"), "0:01.000");
    const auto apic = frameOf(dump, "APIC:");
    ASSERT_FALSE(apic.isEmpty());
    EXPECT_EQ(apic["mime"].toString(), "image/png");
    EXPECT_EQ(apic["data"].toString().toStdString(),
              QByteArray::fromStdString(picture.substr(13)).toHex().toStdString());
    const std::string file = readFile(path);
    ASSERT_EQ(file.size(), 10 + body.size() + sound.size());
    EXPECT_EQ(file.substr(10 + body.size()), sound);
}

TEST(ID3v2Test, DecodesEveryTextEncodingToUtf8) {
    TempDir dir;
    const std::string path = dir.file("enc.mp3");
    // "Ação" in UTF-16 with either byte-order mark, UTF-16 big-endian and UTF-8; "ÿ" (00FF) must survive.
    const std::string le = bytes("\1\xFF\xFE" "A\0\xE7\0\xE3\0o\0\xFF\0\0\0", 15);
    const std::string be = bytes("\1\xFE\xFF\0A\0\xE7\0\xE3\0o", 11);
    const std::string be2 = bytes("\2\0B\x20\xAC", 5);                     // "B€"
    const std::string utf8 = std::string("\3") + "Ma\xC3\xA7\xC3\xA3 \xF0\x9F\x8E\xB5";  // "Maçã 🎵"
    const std::string lat = std::string("\0Caf\xE9", 5);
    const std::string body = frame3("TIT2", le) + frame3("TPE1", be) + frame3("TALB", be2) +
                             frame3("TCOM", utf8) + frame3("TENC", lat) + std::string(16, '\0');
    writeFile(path, tag(3, body) + audio(100));
    TID3v2 t = readTag(path);
    EXPECT_EQ(t.Title(), "A\xC3\xA7\xC3\xA3o\xC3\xBF");
    EXPECT_EQ(t.Artist(), "A\xC3\xA7\xC3\xA3o");
    EXPECT_EQ(t.Album(), "B\xE2\x82\xAC");
    EXPECT_EQ(t.Composer(), "Ma\xC3\xA7\xC3\xA3 \xF0\x9F\x8E\xB5");
    EXPECT_EQ(t.Encoder(), "Caf\xC3\xA9");

    // Written back as read, but for the encodings 2.3 lacks (UTF-16BE, UTF-8), which become UTF-16;
    // new texts in encoding 0 when they are Latin-1. mutagen agrees.
    t.SetIntroMark("0:01.500");
    t.SetTitle("T\xC3\xADtulo");
    ASSERT_TRUE(saveChecked(t, path));
    const auto dump = mutagenTag(path);
    EXPECT_EQ(textOf(dump, "TIT2"), "T\xC3\xADtulo");
    EXPECT_EQ(frameOf(dump, "TIT2")["encoding"].toInt(), 0);
    EXPECT_EQ(textOf(dump, "TPE1"), "A\xC3\xA7\xC3\xA3o");
    EXPECT_EQ(textOf(dump, "TALB"), "B\xE2\x82\xAC");
    EXPECT_EQ(frameOf(dump, "TALB")["encoding"].toInt(), 1);
    EXPECT_EQ(textOf(dump, "TCOM"), "Ma\xC3\xA7\xC3\xA3 \xF0\x9F\x8E\xB5");
    EXPECT_EQ(frameOf(dump, "TCOM")["encoding"].toInt(), 1);
    EXPECT_EQ(frameOf(dump, "TINT")["encoding"].toInt(), 0);
    const std::string file = readFile(path);
    for (const std::string& exact : {frame3("TINT", latin1("0:01.500")), frame3("TPE1", be), frame3("TENC", lat)})
        EXPECT_NE(file.find(exact), std::string::npos);
    EXPECT_EQ(readTag(path).Composer(), t.Composer());
}

TEST(ID3v2Test, CommentIsTheFirstCommWithoutDescriptionAndLinkSkipsItsDescription) {
    TempDir dir;
    const std::string path = dir.file("comm.mp3");
    // A UTF-16 description "x" whose terminator follows a 00 byte: the separator is found on a
    // character boundary only, so this one has a description and is not the comment.
    const std::string utf16 = bytes("\1por\xFF\xFEx\0\0\0\xFF\xFEo\0k\0", 16);
    const std::string body = frame3("COMM", latin1("por") + "x" + Z1 + "outro") +
                             frame3("COMM", latin1("por") + Z1 + "Coment\xE1rio long") +
                             frame3("COMM", latin1("eng") + Z1 + "segundo") +
                             frame3("WXXX", bytes("\1\xFF\xFE\0\0", 5) + "http://r.example/") +
                             std::string(10, '\0');
    writeFile(path, tag(3, body) + audio(100));
    TID3v2 t = readTag(path);
    EXPECT_EQ(t.Comment(), "Coment\xC3\xA1rio long");
    EXPECT_EQ(t.Link(), "http://r.example/");

    writeFile(path, tag(3, frame3("COMM", utf16)) + audio(100));
    EXPECT_EQ(readTag(path).Comment(), "");
    writeFile(path, tag(3, frame3("COMM", bytes("\1por\xFF\xFE\0\0\xFF\xFEo\0k\0", 14))) + audio(100));
    EXPECT_EQ(readTag(path).Comment(), "ok");

    // A new comment replaces the first one without a description, in its language; the others stay.
    writeFile(path, tag(3, body) + audio(100));
    t.SetComment("novo");
    ASSERT_TRUE(saveChecked(t, path));
    const auto dump = mutagenTag(path);
    EXPECT_EQ(textOf(dump, "COMM::por"), "novo");
    EXPECT_EQ(textOf(dump, "COMM:x:por"), "outro");
    EXPECT_EQ(textOf(dump, "COMM::eng"), "segundo");
    EXPECT_EQ(frameOf(dump, "WXXX:")["url"].toString(), "http://r.example/");
    EXPECT_EQ(readTag(path).Comment(), "novo");
}

TEST(ID3v2Test, TrackGenreAndFallbacks) {
    TempDir dir;
    const std::string path = dir.file("t.mp3");
    writeFile(path, tag(3, frame3("TRCK", latin1("3/12")) + frame3("TCON", latin1("(17)Rock")) +
                               frame3("TDRC", latin1("1999-05-01")) + frame3("TIT1", latin1("Group")) +
                               frame3("TOPE", latin1("Orig")) + frame3("TOAL", latin1("Orig album"))) +
                        audio(100));
    TID3v2 t = readTag(path);
    EXPECT_EQ(t.TrackNumber(), 3);
    EXPECT_EQ(t.Genre(), "Rock");
    EXPECT_EQ(t.Year(), "1999");
    EXPECT_EQ(t.Title(), "Group");
    EXPECT_EQ(t.Artist(), "Orig");
    EXPECT_EQ(t.Album(), "Orig album");
    // Unchanged, every frame is written back as it was: nothing taken from a fallback is added.
    t.SetIntroMark("0:01.000");
    ASSERT_TRUE(saveChecked(t, path));
    auto dump = mutagenTag(path);
    EXPECT_EQ(textOf(dump, "TRCK"), "3/12");
    EXPECT_EQ(textOf(dump, "TCON"), "(17)Rock");
    EXPECT_EQ(textOf(dump, "TDRC"), "1999-05-01");
    EXPECT_EQ(textOf(dump, "TIT1"), "Group");
    EXPECT_EQ(textOf(dump, "TOPE"), "Orig");
    EXPECT_EQ(textOf(dump, "TOAL"), "Orig album");
    for (const char* absent : {"TIT2", "TPE1", "TALB", "TYER"}) EXPECT_TRUE(frameOf(dump, absent).isEmpty()) << absent;

    // Changed, a value is written into its own frame.
    t.SetTrackNumber(4);
    t.SetGenre("Pop");
    t.SetYear("2001");
    ASSERT_TRUE(saveChecked(t, path));
    dump = mutagenTag(path);
    EXPECT_EQ(textOf(dump, "TRCK"), "4");
    EXPECT_EQ(textOf(dump, "TCON"), "Pop");
    EXPECT_EQ(textOf(dump, "TYER"), "2001");

    writeFile(path, tag(3, frame3("TRCK", latin1("A")) + frame3("TCON", latin1("Rock (live)"))) + audio(100));
    t = readTag(path);
    EXPECT_EQ(t.TrackNumber(), 0);
    EXPECT_EQ(t.Genre(), "");
    ASSERT_TRUE(saveChecked(t, path));
    dump = mutagenTag(path);
    EXPECT_EQ(textOf(dump, "TRCK"), "A");
    EXPECT_EQ(textOf(dump, "TCON"), "Rock (live)");
}

TEST(ID3v2Test, RatingFromPopmWithAndWithoutEmail) {
    TempDir dir;
    const std::string path = dir.file("p.mp3");
    // With an e-mail the first POPM's rating is taken; an empty-e-mail POPM wins over it.
    writeFile(path, tag(3, frame3("POPM", "dj@radio.example" + Z1 + "\xC8" + bytes("\0\0\0\5", 4))) + audio(100));
    TID3v2 t = readTag(path);
    EXPECT_EQ(t.Rating(), 200);
    EXPECT_EQ(TID3v2::ReadPopularimeter(path), 200);
    ASSERT_TRUE(saveChecked(t, path));
    auto dump = mutagenTag(path);
    EXPECT_EQ(frameOf(dump, "POPM:dj@radio.example")["rating"].toInt(), 200);
    EXPECT_EQ(frameOf(dump, "POPM:dj@radio.example")["count"].toInt(), 5);
    EXPECT_TRUE(frameOf(dump, "POPM:").isEmpty());
    // A new rating goes into the same frame; the e-mail and the play counter stay.
    t.SetRating(50);
    ASSERT_TRUE(saveChecked(t, path));
    dump = mutagenTag(path);
    EXPECT_EQ(frameOf(dump, "POPM:dj@radio.example")["rating"].toInt(), 50);
    EXPECT_EQ(frameOf(dump, "POPM:dj@radio.example")["count"].toInt(), 5);

    writeFile(path, tag(3, frame3("POPM", "a@b" + Z1 + "\x10") + frame3("POPM", Z1 + "\x40")) + audio(100));
    EXPECT_EQ(readTag(path).Rating(), 0x40);
    EXPECT_EQ(TID3v2::ReadPopularimeter(path), 0x10);

    writeFile(path, tag(2, frame2("POP", "a@b" + Z1 + "\x33")) + audio(100));
    EXPECT_EQ(readTag(path).Rating(), 0x33);

    // Rating 0 still writes a POPM frame of two bytes 00 00.
    writeFile(path, audio(100));
    TID3v2 empty;
    ASSERT_TRUE(saveChecked(empty, path));
    EXPECT_EQ(readFile(path).substr(10, 12), frame3("POPM", Z2));
}

TEST(ID3v2Test, BrokenAndShortFiles) {
    TempDir dir;
    TID3v2 t;
    EXPECT_FALSE(t.ReadFromFile(dir.file("missing.mp3")));
    writeFile(dir.file("short.mp3"), "ID3\3\0\0\0");
    EXPECT_FALSE(t.ReadFromFile(dir.file("short.mp3")));
    EXPECT_FALSE(t.TagFound());

    // Declared size beyond the file: a tag, but no frames and a total size of 0.
    const std::string big = std::string("ID3\3\0\0", 6) + syncsafe(100000) + frame3("TINT", latin1("0:01.000"));
    writeFile(dir.file("big.mp3"), big);
    ASSERT_TRUE(t.ReadFromFile(dir.file("big.mp3")));
    EXPECT_TRUE(t.TagFound());
    EXPECT_EQ(t.TagTotalSize(), 0);
    EXPECT_EQ(t.IntroMark(), "");
    // Writing it keeps every old byte behind the new tag.
    t.SetIntroMark("0:02.000");
    ASSERT_TRUE(saveChecked(t, dir.file("big.mp3")));
    EXPECT_EQ(readFile(dir.file("big.mp3")).substr(4096), big);
    EXPECT_EQ(readTag(dir.file("big.mp3")).IntroMark(), "0:02.000");

    // Unsupported version and size bytes that are not 7-bit groups: a tag without frames.
    writeFile(dir.file("v5.mp3"), tag(5, frame3("TINT", latin1("0:01.000"))) + audio(50));
    ASSERT_TRUE(t.ReadFromFile(dir.file("v5.mp3")));
    EXPECT_EQ(t.TagVersion(), 5);
    EXPECT_EQ(t.IntroMark(), "");
    writeFile(dir.file("sz.mp3"), std::string("ID3\3\0\0\0\0\0\x80", 10) + audio(500));
    ASSERT_TRUE(t.ReadFromFile(dir.file("sz.mp3")));
    EXPECT_EQ(t.TagTotalSize(), 0);

    // No tag at all.
    writeFile(dir.file("none.mp3"), audio(50));
    ASSERT_TRUE(t.ReadFromFile(dir.file("none.mp3")));
    EXPECT_FALSE(t.TagFound());
    EXPECT_EQ(t.TagVersion(), 0);
}

TEST(ID3v2Test, FrameScanLimits) {
    TempDir dir;
    const std::string path = dir.file("f.mp3");
    // A 2000-byte comment is read whole and the frame after it is found.
    const std::string longText(2000, 'c');
    writeFile(path, tag(3, frame3("COMM", latin1("eng") + Z1 + longText) + frame3("TINT", latin1("0:03.000")) +
                               bytes("\0garbage", 8) + frame3("TMXI", latin1("0:09.000"))) +
                        audio(100));
    TID3v2 t = readTag(path);
    EXPECT_EQ(t.Comment(), longText);
    EXPECT_EQ(t.IntroMark(), "0:03.000");
    EXPECT_EQ(t.StartMark(), "");  // after the padding
    ASSERT_TRUE(saveChecked(t, path));
    EXPECT_EQ(textOf(mutagenTag(path), "COMM::eng"), longText);

    // A frame running past the end of the tag gives what the tag holds, never audio bytes.
    std::string cut = tag(3, frame3("TINT", latin1("0:04.000")));
    cut[9] = static_cast<char>(cut[9] - 3);  // the tag ends three bytes early
    writeFile(path, cut + audio(100));
    EXPECT_EQ(readTag(path).IntroMark(), "0:04.");

    // A compressed 2.3 frame is not taken as text; an encrypted one neither.
    writeFile(path, tag(3, frame3("TINT", latin1("0:05.000"), bytes("\0\x80", 2)) +
                               frame3("TMXI", latin1("0:06.000"), bytes("\0\x40", 2))) +
                        audio(100));
    t = readTag(path);
    EXPECT_EQ(t.IntroMark(), "");
    EXPECT_EQ(t.StartMark(), "");
}

TEST(ID3v2Test, ExtendedHeaderAndUnsynchronisation) {
    TempDir dir;
    const std::string path = dir.file("x.mp3");
    // Version 3 extended header: size 6 (without itself), flags, padding size.
    const std::string ext3 = be32(6) + bytes("\0\0\0\0\0\0", 6);
    writeFile(path, tag(3, ext3 + frame3("TINT", latin1("0:01.000")), 0x40) + audio(100));
    EXPECT_EQ(readTag(path).IntroMark(), "0:01.000");
    // Version 4 extended header: syncsafe size including itself.
    const std::string ext4 = syncsafe(6) + bytes("\1\0", 2);
    writeFile(path, tag(4, ext4 + frame4("TINT", latin1("0:02.000")), 0x40) + audio(100));
    EXPECT_EQ(readTag(path).IntroMark(), "0:02.000");

    // An unsynchronised 2.3 tag: the FF of "ÿ" is followed by an inserted 00 in the tag bytes.
    const std::string plain = frame3("TIT2", latin1("a\xFF" "b"));
    std::string unsynced;
    for (char c : plain) {
        unsynced += c;
        if (c == '\xFF') unsynced += '\0';
    }
    writeFile(path, tag(3, unsynced, 0x80) + audio(100));
    EXPECT_EQ(readTag(path).Title(), "a\xC3\xBF" "b");
    // Version 4: unsynchronisation and data-length indicator flags on the frame.
    const std::string data = latin1("x\xFF" "y");
    const std::string stored = bytes("\0x\xFF\0y", 5);
    writeFile(path, tag(4, frame4("TIT2", syncsafe(static_cast<uint32_t>(data.size())) + stored, bytes("\0\x03", 2))) +
                        audio(100));
    EXPECT_EQ(readTag(path).Title(), "x\xC3\xBFy");
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST(ID3v2Test, FileWithoutTagGetsA4096ByteTagInFront) {
    TempDir dir;
    const std::string path = dir.file("plain.mp3");
    const std::string sound = audio(20000);
    const std::string v1 = "TAG" + std::string(125, 'v');
    writeFile(path, sound + v1);
    TID3v2 t = readTag(path);
    EXPECT_FALSE(t.TagFound());
    t.SetIntroMark("  0:12.345 ");
    EXPECT_EQ(t.IntroMark(), "0:12.345");
    ASSERT_TRUE(saveChecked(t, path));

    const std::string file = readFile(path);
    ASSERT_EQ(file.size(), 4096 + sound.size() + 128);
    EXPECT_EQ(file.substr(0, 10), std::string("ID3\3\0\0", 6) + syncsafe(4086));
    EXPECT_EQ(file.substr(10, 19), std::string("TINT\0\0\0\x09\0\0\0", 11) + "0:12.345");
    EXPECT_EQ(sha256(file.substr(4096)), sha256(sound + v1));
    EXPECT_EQ(names(dir.path()), std::set<std::string>{"plain.mp3"});
    const auto dump = mutagenTag(path);
    EXPECT_EQ(dump["size"].toInt(), 4096);
    EXPECT_EQ(textOf(dump, "TINT"), "0:12.345");
}

TEST(ID3v2Test, SecondWriteIsInPlaceAndOtherFramesAreCarriedOver) {
    TempDir dir;
    const std::string path = dir.file("m.mp3");
    const std::string sound = audio(50000);
    writeFile(path, sound);
    ASSERT_TRUE(mutagenRun(path, "t = ID3()\n"
                                 "t.add(TIT2(encoding=3, text='T\\u00edtulo'))\n"
                                 "t.add(TXXX(encoding=1, desc='station', text='Rádio'))\n"
                                 "t.add(USLT(encoding=3, lang='por', desc='', text='la la'))\n"
                                 "t.add(PRIV(owner='x', data=b'\\x00\\x01\\xff'))\n"
                                 "t.add(TINT(encoding=0, text='0:01.000'))\n"
                                 "t.save(path, v2_version=4, padding=lambda info: 0)\n"));
    TID3v2 t = readTag(path);
    EXPECT_EQ(t.TagVersion(), 4);
    EXPECT_EQ(t.Title(), "T\xC3\xADtulo");
    t.SetIntroMark("0:02.000");
    ASSERT_TRUE(saveChecked(t, path));
    std::string file = readFile(path);
    ASSERT_EQ(file.size(), 4096 + sound.size());
    auto dump = mutagenTag(path);
    EXPECT_EQ(textOf(dump, "TINT"), "0:02.000");
    EXPECT_EQ(textOf(dump, "TXXX:station"), "R\xC3\xA1" "dio");
    EXPECT_EQ(textOf(dump, "USLT::por"), "la la");
    EXPECT_EQ(frameOf(dump, QString::fromUtf8("PRIV:x:\0\1\xC3\xBF", 11))["data"].toString(), "0001ff");

    // A longer marker still fits the 4096 bytes: written in place, nothing else moves.
    struct stat before {}, after {};
    ::stat(path.c_str(), &before);
    t.SetIntroMark("10:02.125");
    t.SetComment("um comentário");
    ASSERT_TRUE(saveChecked(t, path));
    ::stat(path.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);  // same file, not a rewrite
    file = readFile(path);
    ASSERT_EQ(file.size(), 4096 + sound.size());
    EXPECT_EQ(file.substr(4096), sound);
    dump = mutagenTag(path);
    EXPECT_EQ(textOf(dump, "TINT"), "10:02.125");
    EXPECT_EQ(textOf(dump, "COMM::eng"), "um coment\xC3\xA1rio");
    EXPECT_EQ(textOf(dump, "TXXX:station"), "R\xC3\xA1" "dio");
}

TEST(ID3v2Test, LargeOldTagIsShrunkAndLargeFramesArePadded) {
    TempDir dir;
    const std::string path = dir.file("l.mp3");
    const std::string sound = audio(9000);
    writeFile(path, tag(3, frame3("TINT", latin1("0:01.000")) + std::string(10000 - 10 - 19, '\0')) + sound);
    ASSERT_EQ(readTag(path).TagTotalSize(), 10000);
    TID3v2 t = readTag(path);
    ASSERT_TRUE(saveChecked(t, path));
    std::string file = readFile(path);
    EXPECT_EQ(file.size(), 4096 + sound.size());
    EXPECT_EQ(file.substr(4096), sound);
    EXPECT_EQ(readTag(path).IntroMark(), "0:01.000");

    // Frames of 5000 bytes: the tag is padded to the next multiple of 4096.
    const std::string text(5000, 'p');
    t.SetComment(text);
    ASSERT_TRUE(saveChecked(t, path));
    file = readFile(path);
    EXPECT_EQ(file.size(), 8192 + sound.size());
    EXPECT_EQ(file.substr(8192), sound);
    EXPECT_EQ(textOf(mutagenTag(path), "COMM::eng"), text);
    EXPECT_EQ(names(dir.path()), std::set<std::string>{"l.mp3"});
}

TEST(ID3v2Test, Version4FramesAreConvertedAndThoseWithoutAVersion3FormNamed) {
    TempDir dir;
    const std::string path = dir.file("d.mp3");
    const std::string body = frame4("TXXX", latin1("a") + Z1 + "kept", bytes("\x20\0", 2)) +  // file alter
                             frame4("TXXX", syncsafe(6) + latin1("b") + Z1 + "dli", bytes("\0\x01", 2)) +
                             frame4("TXXX", latin1("c") + Z1 + bytes("uns\xFF\0ync", 8), bytes("\0\x02", 2)) +
                             frame4("TXXX", latin1("d") + Z1 + "enc", bytes("\0\x04", 2)) +
                             frame4("TXXX", latin1("e") + Z1 + "zip", bytes("\0\x08", 2)) +
                             frame4("Tx!x", latin1("badid"));
    writeFile(path, tag(4, body) + audio(100));
    TID3v2 t = readTag(path);
    t.SetIntroMark("0:01.000");
    ASSERT_TRUE(saveChecked(t, path));
    const std::string file = readFile(path);
    // The file-alter-preservation flag moves from 0x20 (2.4) to 0x40 (2.3); the data-length
    // indicator and the unsynchronisation are undone.
    EXPECT_NE(file.find(frame3("TXXX", latin1("a") + Z1 + "kept", bytes("\x40\0", 2))), std::string::npos);
    EXPECT_NE(file.find(frame3("TXXX", latin1("b") + Z1 + "dli")), std::string::npos);
    EXPECT_NE(file.find(frame3("TXXX", latin1("c") + Z1 + "uns\xFFync")), std::string::npos);
    for (const char* gone : {"enc", "zip", "badid"}) EXPECT_EQ(file.find(gone), std::string::npos) << gone;
    EXPECT_EQ(t.DroppedFrames(), (std::vector<std::string>{"TXXX", "TXXX"}));
}

TEST(ID3v2Test, ReadOnlyMissingAndLinkedFiles) {
    TempDir dir;
    const std::string path = dir.file("ro.mp3");
    const std::string sound = audio(1000);
    writeFile(path, sound);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    TID3v2 t;
    t.SetMixMark("3:00.000");
    ASSERT_TRUE(saveChecked(t, path));
    EXPECT_EQ(readTag(path).MixMark(), "3:00.000");
    struct stat st {};
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0644u);  // the read-only attribute is cleared, the rest kept
    // In place on a read-only file too.
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    t.SetMixMark("3:01.000");
    ASSERT_TRUE(saveChecked(t, path));
    EXPECT_EQ(readTag(path).MixMark(), "3:01.000");
    EXPECT_EQ(readFile(path).substr(4096), sound);

    EXPECT_FALSE(t.SaveToFile(dir.file("missing.mp3")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.mp3")));

    // Through a symbolic link the target is tagged and the link stays.
    const std::string link = dir.file("link.mp3");
    writeFile(dir.file("target.mp3"), sound);
    std::filesystem::create_symlink(dir.file("target.mp3"), link);
    ASSERT_TRUE(saveChecked(t, link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readTag(dir.file("target.mp3")).MixMark(), "3:01.000");
}

TEST(ID3v2Test, FailureAtAnyStepOfTheRewriteLeavesTheOriginalIntact) {
    TempDir dir;
    const std::string path = dir.file("f.mp3");
    const std::string original = tag(3, frame3("TINT", latin1("0:01.000"))) + audio(100000);
    for (auto step : {TID3v2::TRewriteStep::rsWrite, TID3v2::TRewriteStep::rsFlush, TID3v2::TRewriteStep::rsRename}) {
        writeFile(path, original);
        ::chmod(path.c_str(), 0640);
        TID3v2 t = readTag(path);
        t.SetIntroMark("0:09.000");
        t.InjectRewriteFailure(step);
        EXPECT_FALSE(t.SaveToFile(path)) << static_cast<int>(step);
        EXPECT_EQ(readFile(path), original) << static_cast<int>(step);
        EXPECT_EQ(names(dir.path()), std::set<std::string>{"f.mp3"}) << static_cast<int>(step);
        struct stat st {};
        ::stat(path.c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
        t.InjectRewriteFailure(TID3v2::TRewriteStep::rsNone);
        EXPECT_TRUE(saveChecked(t, path));
        EXPECT_EQ(readTag(path).IntroMark(), "0:09.000");
    }

    // A folder where no new file can be created: false, the original unchanged.
    TempDir locked;
    const std::string inLocked = locked.file("a.mp3");
    writeFile(inLocked, original);
    ::chmod(locked.path().c_str(), 0555);
    TID3v2 t = readTag(inLocked);
    t.SetIntroMark("0:09.000");
    if (::access(locked.path().c_str(), W_OK) != 0) {  // root may write anyway
        EXPECT_FALSE(t.SaveToFile(inLocked));
        EXPECT_EQ(readFile(inLocked), original);
    }
    ::chmod(locked.path().c_str(), 0755);
}

TEST(ID3v2Test, SettersTrimAndResetEmpties) {
    TID3v2 t;
    t.SetTitle("\t x \r\n");
    t.SetStampFile("   ");
    t.SetTrackNumber(7);
    t.SetRating(9);
    EXPECT_EQ(t.Title(), "x");
    EXPECT_EQ(t.StampFile(), "");
    t.Reset();
    EXPECT_EQ(t.Title(), "");
    EXPECT_EQ(t.TrackNumber(), 0);
    EXPECT_EQ(t.Rating(), 0);
}

TEST(ID3v2Test, NoFileStaysOpenOnAnyPath) {
    auto openFiles = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
    };
    TempDir dir;
    const std::string path = dir.file("fd.mp3");
    writeFile(path, audio(3000));
    const auto before = openFiles();
    for (int i = 0; i < 20; ++i) {
        TID3v2 t = readTag(path);
        t.SetIntroMark(i % 2 ? "0:01.000" : "0:02.000");
        EXPECT_TRUE(t.SaveToFile(path));                     // in place after the first
        t.SetComment(std::string(static_cast<size_t>(5000 * (i % 3)), 'c'));
        EXPECT_TRUE(t.SaveToFile(path));                     // rewrites as the size changes
        t.InjectRewriteFailure(TID3v2::TRewriteStep::rsFlush);
        t.SetComment(std::string(20000, 'd'));
        EXPECT_FALSE(t.SaveToFile(path));
        TID3v2::ReadPopularimeter(path);
    }
    EXPECT_EQ(openFiles(), before);
}

TEST(ID3v2Test, ContainerFilesAreNotGivenATagInFront) {
    TempDir dir;
    TID3v2 t;
    t.SetIntroMark("0:01.000");
    for (const std::string magic : {"RIFF", "FORM", "fLaC", "OggS"}) {
        const std::string path = dir.file("c.bin");
        const std::string original = magic + audio(2000);
        writeFile(path, original);
        EXPECT_FALSE(t.SaveToFile(path)) << magic;
        EXPECT_EQ(sha256(readFile(path)), sha256(original)) << magic;
    }
    // A wave file that already has a tag in front is no worse for an update of it.
    const std::string path = dir.file("tagged.wav");
    writeFile(path, tag(3, frame3("TINT", latin1("0:02.000")) + std::string(100, '\0')) + "RIFF" + audio(500));
    EXPECT_TRUE(saveChecked(t, path));
    EXPECT_EQ(readTag(path).IntroMark(), "0:01.000");
}
