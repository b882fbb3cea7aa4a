// The marker editor's gateway to an audio file: the analysers of the current file, one record of
// texts describing it, the marker time texts, and the writer of the marker frames.
#pragma once

#include "common/MMErrors.h"
#include <memory>
#include <stdexcept>
#include <string>

class TMPEGaudio;
class TWAVfile;
class TID3v1;
class TID3v2;

// The file-information record: 47 texts (UTF-8). "Sim"/"Não" are the yes and no texts.
struct Tag {
    std::string MpegValid;
    std::string FileSizeText;
    std::string MpegVersionLayer;
    std::string BitRateText;
    std::string SampleRateText;
    std::string ChannelModeText;
    std::string DurationText;
    std::string FramePositionText;
    std::string CrcText;
    std::string FrameCountText;
    std::string CopyBitText;
    std::string OriginalText;
    std::string EmphasisText;
    std::string EncoderText;
    std::string TagPresentText;
    std::string TagVersionText;
    std::string TagSizeText;
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Track;
    std::string Year;
    std::string Genre;
    std::string Comment;
    std::string Composer;
    std::string EncodedBy;
    std::string RightsNotice;
    std::string Language;
    std::string FrameTGRA;
    std::string FrameTVOC;
    std::string Rating;
    std::string FrameTTPE;
    std::string FrameTPIN;
    std::string FrameTPFI;
    std::string Link;
    std::string FrameTRIT;
    std::string IntroMark;
    std::string FrameTEXT;
    std::string FrameTEST;
    std::string FrameTIDM;
    std::string StampMark;
    std::string StampFile;
    std::string StartMark;
    std::string EndMark;
    std::string ChorusStartMark;
    std::string ChorusEndMark;
    std::string MixMark;
};

// Number of fields of Tag, and their names and members in record order (for listing the record).
constexpr int TagFieldCount = 47;
struct TagField {
    const char* name;
    std::string Tag::*member;
};
extern const TagField TagFields[TagFieldCount];

// Raised for a text that is not a number where one is needed.
class EConvertError : public EMMError {
public:
    using EMMError::EMMError;
};

// The module's state, shared with the editor's window. Each analyser exists from OpenAudioInfo to
// FreeAudioInfo (MpegInfo owns its own TID3v2, from which the editor shows the markers).
extern std::unique_ptr<TMPEGaudio> MpegInfo;
extern std::unique_ptr<TWAVfile> WavInfo;
extern std::unique_ptr<TID3v1> Id3v1Info;
extern std::unique_ptr<TID3v2> Id3v2Info;
extern Tag FileInfo;

// Whole seconds of a marker time text "m:ss.fff" (the seconds may also use a decimal comma, whatever
// the locale): minutes × 60 plus the seconds rounded to the nearest integer, halves to even.
// Throws EConvertError when the text has no ":" or a part is not a number.
int TimeTextToSeconds(const std::string& Text);

// For "MP3"/".MP3" (any case) creates MpegInfo, Id3v1Info and Id3v2Info and empties FileInfo;
// for any other extension creates WavInfo. Existing analysers are replaced.
void OpenAudioInfo(const std::string& Extension);

// Frees what OpenAudioInfo created for the extension (and empties FileInfo for MP3).
void FreeAudioInfo(const std::string& Extension);

// Empties all 47 fields of FileInfo.
void ClearFileInfo();

// Analyses the file into FileInfo and the analysers. Never reports: a missing, unreadable or invalid
// file leaves the record (partly) empty.
void ReadAudioInfo(const std::string& FileName);

// Writes the markers into the file's ID3v2 tag through Id3v2Info. Every argument from Title on that
// is empty is replaced by the FileInfo value read from the file. Returns false when the file does not
// exist (FileInfo is emptied) or the tag cannot be saved (the file is then unchanged). Empties
// FileInfo afterwards. Throws EConvertError for a track text that is not a decimal integer.
bool WriteMarkers(const std::string& FileName, const std::string& Title, const std::string& Artist,
                  const std::string& Composer, const std::string& Album, const std::string& Year,
                  const std::string& Track, const std::string& TIDM, const std::string& Genre,
                  const std::string& TEST, const std::string& TRIT, const std::string& Language,
                  const std::string& TGRA, const std::string& TVOC, const std::string& Rating,
                  const std::string& TTPE, const std::string& TPIN, const std::string& TPFI,
                  const std::string& TEXT, const std::string& Comment, const std::string& IntroMark,
                  const std::string& StampMark, const std::string& StampFile, const std::string& StartMark,
                  const std::string& EndMark, const std::string& ChorusStartMark,
                  const std::string& ChorusEndMark, const std::string& MixMark);
