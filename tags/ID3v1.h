// ID3v1 tag: the 128 bytes at the end of an MP3 file, versions 1.0 and 1.1. Read only.
#pragma once

#include <cstdint>
#include <string>

class TID3v1 {
public:
    // Number of genre names (GenreID 0 to GenreCount - 1).
    static constexpr int GenreCount = 148;

    TID3v1();

    // TagFound false, TagVersion 1, texts empty, TrackNumber 0, GenreID 255.
    void Reset();

    // Resets, then reads the last 128 bytes of the file. True when they could be read, whether or
    // not they are a tag; false for a missing file or one shorter than 128 bytes. Never throws.
    bool ReadFromFile(const std::string& FileName);

    bool TagFound() const { return tagFound_; }
    // 1 = version 1.0, 2 = version 1.1.
    uint8_t TagVersion() const { return tagVersion_; }
    // Texts are UTF-8 (the tag's bytes taken as Latin-1).
    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    const std::string& Year() const { return year_; }
    const std::string& Comment() const { return comment_; }
    uint8_t TrackNumber() const { return trackNumber_; }
    uint8_t GenreID() const { return genreID_; }
    // The name of GenreID, or empty when it is not below GenreCount.
    std::string Genre() const;

    // The genre name of an ID, or empty.
    static const char* GenreName(int id);

private:
    bool tagFound_ = false;
    uint8_t tagVersion_ = 1;
    std::string title_, artist_, album_, year_, comment_;
    uint8_t trackNumber_ = 0;
    uint8_t genreID_ = 255;
};
