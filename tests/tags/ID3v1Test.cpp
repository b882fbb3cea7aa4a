#include "tags/ID3v1.h"

#include "Id3TestUtil.h"

#include <gtest/gtest.h>

#include <vector>

using testutil::TempDir;
using testutil::writeFile;

namespace {

// A 128-byte tag from its fields, each padded with `pad` to its width.
std::string v1tag(const std::string& title, const std::string& artist, const std::string& album,
                  const std::string& year, const std::string& comment30, uint8_t genre, char pad = '\0') {
    auto field = [pad](std::string s, size_t n) {
        s.resize(n, pad);
        return s;
    };
    return "TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + field(year, 4) + field(comment30, 30) +
           static_cast<char>(genre);
}

}  // namespace

TEST(ID3v1Test, Version11WithTrackNumber) {
    TempDir dir;
    const std::string comment = std::string(28, 'c') + std::string("\0\x07", 2);
    writeFile(dir.file("a.mp3"), id3test::audio(500) + v1tag("Title", "Artist", "Album", "2001", comment, 17));
    TID3v1 t;
    ASSERT_TRUE(t.ReadFromFile(dir.file("a.mp3")));
    EXPECT_TRUE(t.TagFound());
    EXPECT_EQ(t.TagVersion(), 2);
    EXPECT_EQ(t.Title(), "Title");
    EXPECT_EQ(t.Artist(), "Artist");
    EXPECT_EQ(t.Album(), "Album");
    EXPECT_EQ(t.Year(), "2001");
    EXPECT_EQ(t.Comment(), std::string(28, 'c'));
    EXPECT_EQ(t.TrackNumber(), 7);
    EXPECT_EQ(t.GenreID(), 17);
    EXPECT_EQ(t.Genre(), "Rock");
}

TEST(ID3v1Test, Version10CommentsAndTheBlankRule) {
    TempDir dir;
    TID3v1 t;
    // Blanks to the full width, at offsets 125 and 126 too: version 1.0, trailing blanks removed.
    writeFile(dir.file("b.mp3"), v1tag("T  ", "A", "", "99", "hello", 255, ' '));
    ASSERT_TRUE(t.ReadFromFile(dir.file("b.mp3")));
    EXPECT_EQ(t.TagVersion(), 1);
    EXPECT_EQ(t.Comment(), "hello");
    EXPECT_EQ(t.Title(), "T");
    EXPECT_EQ(t.Album(), "");
    EXPECT_EQ(t.TrackNumber(), 0);
    EXPECT_EQ(t.Genre(), "");

    // A 30-character comment whose 29th character is a blank and 30th a letter: read as 1.1.
    writeFile(dir.file("c.mp3"), v1tag("", "", "", "", std::string(28, 'x') + " Z", 0));
    ASSERT_TRUE(t.ReadFromFile(dir.file("c.mp3")));
    EXPECT_EQ(t.TagVersion(), 2);
    EXPECT_EQ(t.Comment(), std::string(28, 'x'));
    EXPECT_EQ(t.TrackNumber(), 'Z');
    EXPECT_EQ(t.Genre(), "Blues");

    // Latin-1 bytes become UTF-8.
    writeFile(dir.file("d.mp3"), v1tag("Cora\xE7\xE3o", "", "", "", "", 133));
    ASSERT_TRUE(t.ReadFromFile(dir.file("d.mp3")));
    EXPECT_EQ(t.Title(), "Cora\xC3\xA7\xC3\xA3o");
    EXPECT_EQ(t.Genre(), "Afro-Punk");
}

TEST(ID3v1Test, NoTagShortAndMissingFiles) {
    TempDir dir;
    TID3v1 t;
    writeFile(dir.file("none.mp3"), id3test::audio(300));
    ASSERT_TRUE(t.ReadFromFile(dir.file("none.mp3")));
    EXPECT_FALSE(t.TagFound());
    EXPECT_EQ(t.TagVersion(), 1);
    EXPECT_EQ(t.GenreID(), 255);

    writeFile(dir.file("short.mp3"), "TAG" + std::string(97, 'a'));
    EXPECT_FALSE(t.ReadFromFile(dir.file("short.mp3")));
    EXPECT_FALSE(t.TagFound());
    EXPECT_FALSE(t.ReadFromFile(dir.file("missing.mp3")));
    EXPECT_FALSE(t.ReadFromFile(dir.path().string()));
}

TEST(ID3v1Test, GenreTable) {
    EXPECT_STREQ(TID3v1::GenreName(0), "Blues");
    EXPECT_STREQ(TID3v1::GenreName(79), "Hard Rock");
    EXPECT_STREQ(TID3v1::GenreName(132), "BritPop");
    EXPECT_STREQ(TID3v1::GenreName(133), "Afro-Punk");
    EXPECT_STREQ(TID3v1::GenreName(134), "Polsk Punk");
    EXPECT_STREQ(TID3v1::GenreName(147), "Synthpop");
    EXPECT_STREQ(TID3v1::GenreName(148), "");
    EXPECT_STREQ(TID3v1::GenreName(-1), "");
    // The names agree with mutagen's list for every ID.
    std::string out;
    ASSERT_EQ(testutil::run("/usr/bin/python3 -c 'from mutagen._constants import GENRES; "
                            "print(\"\\n\".join(GENRES[:148]))'",
                            &out),
              0);
    int id = 0;
    std::vector<int> differ;
    size_t pos = 0;
    for (; id < TID3v1::GenreCount && pos < out.size(); ++id) {
        const size_t nl = out.find('\n', pos);
        const std::string name = out.substr(pos, nl - pos);
        if (name != TID3v1::GenreName(id)) differ.push_back(id);
        pos = nl + 1;
    }
    EXPECT_EQ(id, TID3v1::GenreCount);
    // mutagen spells these in a later form (Alt. Rock, Gangsta Rap, Psychedelic, Fast-Fusion, Bebop,
    // Progressive Rock, A Cappella, Thrash Metal); every other name, 133 included, is the same.
    EXPECT_EQ(differ, (std::vector<int>{40, 59, 67, 84, 85, 92, 123, 144}));
}
