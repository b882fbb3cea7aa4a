#include "tags/ID3v1.h"

#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

const char* const Genres[TID3v1::GenreCount] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop",
    "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game",
    "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative",
    "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial",
    "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta",
    "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
    "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka",
    "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock", "National Folk", "Swing",
    "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock",
    "Progessive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus",
    "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata",
    "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba",
    "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo",
    "A capella", "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror",
    "Indie", "BritPop", "Afro-Punk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal",
    "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa",
    "Trash Metal", "Anime", "JPop", "Synthpop"};

// A fixed-width field: trailing codes 0 to 32 removed, the bytes taken as Latin-1.
std::string Field(const unsigned char* p, int n) {
    while (n > 0 && p[n - 1] <= 32) --n;
    std::string out;
    for (int i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

TID3v1::TID3v1() { Reset(); }

void TID3v1::Reset() {
    tagFound_ = false;
    tagVersion_ = 1;
    title_.clear();
    artist_.clear();
    album_.clear();
    year_.clear();
    comment_.clear();
    trackNumber_ = 0;
    genreID_ = 255;
}

const char* TID3v1::GenreName(int id) { return id >= 0 && id < GenreCount ? Genres[id] : ""; }

std::string TID3v1::Genre() const { return GenreName(genreID_); }

bool TID3v1::ReadFromFile(const std::string& FileName) {
    Reset();
    FilePtr f(std::fopen(FileName.c_str(), "rb"));
    if (!f) return false;
    struct stat st {};
    if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 128) return false;
    unsigned char b[128];
    if (fseeko(f.get(), st.st_size - 128, SEEK_SET) != 0 || std::fread(b, 1, 128, f.get()) != 128) return false;
    if (b[0] != 'T' || b[1] != 'A' || b[2] != 'G') return true;

    tagFound_ = true;
    tagVersion_ = ((b[125] == 0 && b[126] != 0) || (b[125] == ' ' && b[126] != ' ')) ? 2 : 1;
    title_ = Field(b + 3, 30);
    artist_ = Field(b + 33, 30);
    album_ = Field(b + 63, 30);
    year_ = Field(b + 93, 4);
    if (tagVersion_ == 1) {
        comment_ = Field(b + 97, 30);
    } else {
        comment_ = Field(b + 97, 28);
        trackNumber_ = b[126];
    }
    genreID_ = b[127];
    return true;
}
