// ID3v2 tag of an audio file: read from versions 2.2, 2.3 and 2.4 into a fixed table of 36 frames
// (among them the cue-point frames the playout system reads), written back as version 2.3.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TID3v2 {
public:
    // Number of slots of the frame table.
    static constexpr int SlotCount = 36;

    // Steps of a whole-file rewrite at which a test can make the save fail.
    enum class TRewriteStep { rsNone, rsWrite, rsFlush, rsRename };

    TID3v2();

    // TagFound false, TagVersion 0, TagTotalSize 0, every text empty, TrackNumber 0, Rating 0.
    void Reset();

    // Resets, then reads the tag of the file into the properties. True when the first 10 bytes of
    // the file could be read, whether or not a tag was found; false when the file cannot be opened
    // or is shorter than 10 bytes. Never throws.
    bool ReadFromFile(const std::string& FileName);

    // Writes the properties set since the last ReadFromFile of this file (or successful save; after
    // a read of another file, or none, every property that is not empty) into the tag the file
    // holds now, as a version 2.3 tag: the frames of such a property are replaced (moved to the
    // end of the tag), every other frame is written back as it was read, converted
    // only where version 2.3 cannot hold it (2.2 IDs, 2.4 dates and encodings); frames with no 2.3
    // form are dropped and named by DroppedFrames. Saves of one file are serialised by its lock
    // (waiting up to `lockWait`). The file becomes old-or-new whatever happens to the process: the
    // tag is written in place only when the changed bytes lie in one page, otherwise a new file is
    // written beside it and renamed over it (see TFileUpdate). A file without an ID3v2 tag that
    // starts with another container's header (RIFF wave, AIFF, FLAC, Ogg) is refused, as a tag in
    // front would make it unreadable. True on success; on failure the file is exactly as it was. The
    // properties are not changed. Never throws.
    bool SaveToFile(const std::string& FileName, std::chrono::milliseconds lockWait = std::chrono::seconds(30));

    // IDs of the frames (as the old tag named them) that the last SaveToFile could not carry into
    // the version 2.3 tag: 2.2 frames without a 2.3 equivalent, compressed or encrypted 2.4
    // frames, frames cut short by the end of the tag.
    const std::vector<std::string>& DroppedFrames() const { return dropped_; }

    bool TagFound() const { return tagFound_; }
    uint8_t TagVersion() const { return tagVersion_; }
    int32_t TagTotalSize() const { return tagTotalSize_; }

    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    uint16_t TrackNumber() const { return trackNumber_; }
    const std::string& Year() const { return year_; }
    const std::string& Genre() const { return genre_; }
    const std::string& Comment() const { return comment_; }
    const std::string& Composer() const { return composer_; }
    const std::string& Encoder() const { return encoder_; }
    const std::string& RightsNotice() const { return rightsNotice_; }
    const std::string& Language() const { return language_; }
    const std::string& Link() const { return link_; }
    const std::string& FrameTRIT() const { return frameTRIT_; }
    const std::string& IntroMark() const { return introMark_; }
    const std::string& FrameTEXT() const { return frameTEXT_; }
    const std::string& FrameTEST() const { return frameTEST_; }
    const std::string& FrameTIDM() const { return frameTIDM_; }
    const std::string& StampMark() const { return stampMark_; }
    const std::string& StampFile() const { return stampFile_; }
    const std::string& StartMark() const { return startMark_; }
    const std::string& EndMark() const { return endMark_; }
    const std::string& ChorusStartMark() const { return chorusStartMark_; }
    const std::string& ChorusEndMark() const { return chorusEndMark_; }
    const std::string& FrameTCAD() const { return frameTCAD_; }
    const std::string& FrameTSUC() const { return frameTSUC_; }
    const std::string& FrameTGRA() const { return frameTGRA_; }
    const std::string& FrameTVOC() const { return frameTVOC_; }
    const std::string& FrameTTPE() const { return frameTTPE_; }
    const std::string& FrameTPIN() const { return frameTPIN_; }
    const std::string& FrameTPFI() const { return frameTPFI_; }
    const std::string& MixMark() const { return mixMark_; }
    uint8_t Rating() const { return rating_; }

    // Text setters store their argument trimmed (codes 0 to 32 removed at both ends); texts are UTF-8.
    // Every setter marks its value for the next SaveToFile, even when it stores what was read.
    void SetTitle(std::string_view v);
    void SetArtist(std::string_view v);
    void SetAlbum(std::string_view v);
    void SetTrackNumber(uint16_t v);
    void SetYear(std::string_view v);
    void SetGenre(std::string_view v);
    void SetComment(std::string_view v);
    void SetComposer(std::string_view v);
    void SetEncoder(std::string_view v);
    void SetRightsNotice(std::string_view v);
    void SetLanguage(std::string_view v);
    void SetLink(std::string_view v);
    void SetFrameTRIT(std::string_view v);
    void SetIntroMark(std::string_view v);
    void SetFrameTEXT(std::string_view v);
    void SetFrameTEST(std::string_view v);
    void SetFrameTIDM(std::string_view v);
    void SetStampMark(std::string_view v);
    void SetStampFile(std::string_view v);
    void SetStartMark(std::string_view v);
    void SetEndMark(std::string_view v);
    void SetChorusStartMark(std::string_view v);
    void SetChorusEndMark(std::string_view v);
    void SetFrameTCAD(std::string_view v);
    void SetFrameTGRA(std::string_view v);
    void SetFrameTVOC(std::string_view v);
    void SetFrameTTPE(std::string_view v);
    void SetFrameTPIN(std::string_view v);
    void SetFrameTPFI(std::string_view v);
    void SetMixMark(std::string_view v);
    void SetRating(uint8_t v);

    // Test seam: makes every later whole-file rewrite of this object fail at the given step
    // (rsNone restores normal operation).
    void InjectRewriteFailure(TRewriteStep step) { failAt_ = step; }

    // Rating byte of the first POPM/POP frame of the file's tag, whatever its e-mail, or 0 when there
    // is none or the file cannot be read.
    static uint8_t ReadPopularimeter(const std::string& FileName);

private:
    // The value of each slot of the frame table as a text (empty: none; nothing for the slots
    // read only as fallbacks).
    std::array<std::string, SlotCount> SlotValues() const;
    void SetText(std::string& member, int slot, std::string_view v);
    // The data of the frame each slot would be written as (empty: no frame).
    std::array<std::string, SlotCount> SlotFrameData() const;

    bool tagFound_ = false;
    uint8_t tagVersion_ = 0;
    int32_t tagTotalSize_ = 0;
    std::string title_, artist_, album_;
    uint16_t trackNumber_ = 0;
    std::string year_, genre_, comment_, composer_, encoder_, rightsNotice_, language_, link_;
    std::string frameTRIT_, introMark_, frameTEXT_, frameTEST_, frameTIDM_, stampMark_, stampFile_;
    std::string startMark_, endMark_, chorusStartMark_, chorusEndMark_, frameTCAD_, frameTSUC_;
    std::string frameTGRA_, frameTVOC_, frameTTPE_, frameTPIN_, frameTPFI_, mixMark_;
    uint8_t rating_ = 0;
    TRewriteStep failAt_ = TRewriteStep::rsNone;
    std::array<bool, SlotCount> touched_{};  // set since the last read or save
    std::string readFile_;                    // the real path of the file last read or saved
    std::vector<std::string> dropped_;
};
