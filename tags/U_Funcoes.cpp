#include "tags/U_Funcoes.h"

#include "tags/ID3v1.h"
#include "tags/ID3v2.h"
#include "tags/MPEGaudio.h"
#include "tags/WAVfile.h"

#include <QLocale>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <sys/stat.h>

std::unique_ptr<TMPEGaudio> MpegInfo;
std::unique_ptr<TWAVfile> WavInfo;
std::unique_ptr<TID3v1> Id3v1Info;
std::unique_ptr<TID3v2> Id3v2Info;
Tag FileInfo;

const TagField TagFields[TagFieldCount] = {
    {"MpegValid", &Tag::MpegValid}, {"FileSizeText", &Tag::FileSizeText},
    {"MpegVersionLayer", &Tag::MpegVersionLayer}, {"BitRateText", &Tag::BitRateText},
    {"SampleRateText", &Tag::SampleRateText}, {"ChannelModeText", &Tag::ChannelModeText},
    {"DurationText", &Tag::DurationText}, {"FramePositionText", &Tag::FramePositionText},
    {"CrcText", &Tag::CrcText}, {"FrameCountText", &Tag::FrameCountText},
    {"CopyBitText", &Tag::CopyBitText}, {"OriginalText", &Tag::OriginalText},
    {"EmphasisText", &Tag::EmphasisText}, {"EncoderText", &Tag::EncoderText},
    {"TagPresentText", &Tag::TagPresentText}, {"TagVersionText", &Tag::TagVersionText},
    {"TagSizeText", &Tag::TagSizeText}, {"Title", &Tag::Title}, {"Artist", &Tag::Artist},
    {"Album", &Tag::Album}, {"Track", &Tag::Track}, {"Year", &Tag::Year}, {"Genre", &Tag::Genre},
    {"Comment", &Tag::Comment}, {"Composer", &Tag::Composer}, {"EncodedBy", &Tag::EncodedBy},
    {"RightsNotice", &Tag::RightsNotice}, {"Language", &Tag::Language}, {"FrameTGRA", &Tag::FrameTGRA},
    {"FrameTVOC", &Tag::FrameTVOC}, {"Rating", &Tag::Rating}, {"FrameTTPE", &Tag::FrameTTPE},
    {"FrameTPIN", &Tag::FrameTPIN}, {"FrameTPFI", &Tag::FrameTPFI}, {"Link", &Tag::Link},
    {"FrameTRIT", &Tag::FrameTRIT}, {"IntroMark", &Tag::IntroMark}, {"FrameTEXT", &Tag::FrameTEXT},
    {"FrameTEST", &Tag::FrameTEST}, {"FrameTIDM", &Tag::FrameTIDM}, {"StampMark", &Tag::StampMark},
    {"StampFile", &Tag::StampFile}, {"StartMark", &Tag::StartMark}, {"EndMark", &Tag::EndMark},
    {"ChorusStartMark", &Tag::ChorusStartMark}, {"ChorusEndMark", &Tag::ChorusEndMark},
    {"MixMark", &Tag::MixMark}};

namespace {

const char* const SYes = "Sim";
const char* const SNo = "Não";

std::string YesNo(bool b) { return b ? SYes : SNo; }

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool IsMp3Extension(const std::string& ext) {
    const std::string u = Upper(ext);
    return u == ".MP3" || u == "MP3";
}

// The extension of a file name with its dot, or empty.
std::string ExtensionOf(const std::string& FileName) {
    return std::filesystem::path(FileName).extension().string();
}

bool FileExists(const std::string& FileName) {
    struct stat st {};
    return ::stat(FileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string TrimBlanks(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return s.substr(b, e - b);
}

bool ToInt(const std::string& text, int& out) {
    const std::string s = TrimBlanks(text);
    const char* b = s.data();
    const char* e = b + s.size();
    if (b != e && *b == '+') ++b;
    const auto r = std::from_chars(b, e, out);
    return b != e && r.ec == std::errc() && r.ptr == e;
}

int StrToInt(const std::string& text) {
    int v = 0;
    if (!ToInt(text, v)) throw EConvertError("'" + text + "' is not a valid integer value");
    return v;
}

// A number with `decimals` digits after the locale's decimal separator and none before it when
// the integer part is 0 (",5 seg." for half a second), halves away from zero.
std::string FormatDecimals(double v, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const long long scaled = std::llround(std::fabs(v) * scale);
    const long long whole = scaled / static_cast<long long>(scale);
    std::string frac = std::to_string(scaled % static_cast<long long>(scale));
    frac.insert(0, static_cast<size_t>(decimals) - frac.size(), '0');
    std::string out = v < 0 && scaled != 0 ? "-" : "";
    if (whole != 0) out += std::to_string(whole);
    return out + QLocale().decimalPoint().toStdString() + frac;
}

}  // namespace

int TimeTextToSeconds(const std::string& Text) {
    const size_t colon = Text.find(':');
    if (colon == std::string::npos)
        throw EConvertError("'' is not a valid integer value");
    const int minutes = StrToInt(Text.substr(0, colon));

    // Both a decimal point and a decimal comma are read, whatever the user's locale.
    std::string seconds = TrimBlanks(Text.substr(colon + 1));
    for (char& c : seconds)
        if (c == ',') c = '.';
    const char* b = seconds.data();
    const char* e = b + seconds.size();
    if (b != e && *b == '+') ++b;
    double value = 0;
    const auto r = std::from_chars(b, e, value, std::chars_format::general);
    if (b == e || r.ec != std::errc() || r.ptr != e || !std::isfinite(value) || std::fabs(value) > 1e9)
        throw EConvertError("'" + Text.substr(colon + 1) + "' is not a valid floating point value");
    // The default rounding mode rounds halves to the even neighbour.
    const long long total = std::llrint(value) + static_cast<long long>(minutes) * 60;
    if (total > INT32_MAX || total < INT32_MIN) throw EConvertError("'" + Text + "' is out of range");
    return static_cast<int>(total);
}

void ClearFileInfo() { FileInfo = Tag{}; }

void OpenAudioInfo(const std::string& Extension) {
    if (!IsMp3Extension(Extension)) {
        WavInfo = std::make_unique<TWAVfile>();
        return;
    }
    MpegInfo = std::make_unique<TMPEGaudio>();
    Id3v1Info = std::make_unique<TID3v1>();
    Id3v2Info = std::make_unique<TID3v2>();
    ClearFileInfo();
}

void FreeAudioInfo(const std::string& Extension) {
    if (!IsMp3Extension(Extension)) {
        WavInfo.reset();
        return;
    }
    ClearFileInfo();
    MpegInfo.reset();
    Id3v1Info.reset();
    Id3v2Info.reset();
}

void ReadAudioInfo(const std::string& FileName) {
    ClearFileInfo();
    if (FileName.empty()) return;
    const std::string ext = ExtensionOf(FileName);
    if (!MpegInfo) OpenAudioInfo(ext);
    if (!FileExists(FileName)) return;

    Tag& fi = FileInfo;
    if (Upper(ext) != ".MP3") {
        if (!WavInfo) WavInfo = std::make_unique<TWAVfile>();
        if (WavInfo->ReadFromFile(FileName) && WavInfo->Valid()) {
            fi.ChannelModeText = WavInfo->ChannelMode();
            fi.SampleRateText = std::to_string(WavInfo->SampleRate()) + " hz";
            fi.FileSizeText = std::to_string(WavInfo->FileSize()) + " bytes";
            fi.DurationText = FormatDecimals(WavInfo->Duration(), 3) + " seg.";
            return;
        }
        // Not a wave whatever its name (.mp2, .mpga, a backup copy, no extension): what the file
        // holds decides, and its tags are read as for an MP3.
    }

    if (!MpegInfo || !Id3v1Info || !Id3v2Info) OpenAudioInfo(".MP3");
    TMPEGaudio& mpeg = *MpegInfo;
    if (!mpeg.ReadFromFile(FileName)) return;
    if (!mpeg.Valid()) {
        // A stream this analysis does not know (free format, a few frames, AAC) still has its
        // tags, which the editor shows and its save starts from.
        fi.MpegValid = SNo;
    } else {
        const FrameHeaderInfo& frame = mpeg.Frame();
        fi.MpegValid = SYes;
        fi.FileSizeText = std::to_string(mpeg.FileLength()) + " bytes";
        fi.MpegVersionLayer = mpeg.Version() + " " + mpeg.Layer();
        fi.BitRateText = std::string(mpeg.VBR().Present ? "VBR " : "CBR ") + std::to_string(mpeg.BitRate()) + " kbit/s";
        fi.SampleRateText = std::to_string(mpeg.SampleRate()) + " hz";
        fi.ChannelModeText = mpeg.ChannelMode();
        fi.DurationText = FormatDecimals(mpeg.Duration(), 1) + " seg.";
        fi.FramePositionText = std::to_string(frame.Position) + " bytes";
        fi.CrcText = YesNo(frame.ProtectionBit);
        fi.FrameCountText = std::to_string(mpeg.FrameCount());
        fi.CopyBitText = YesNo(frame.CopyBit);
        fi.OriginalText = YesNo(frame.OriginalBit);
        fi.EmphasisText = mpeg.Emphasis();
        fi.EncoderText = mpeg.Encoder();
    }

    TID3v2& v2 = *Id3v2Info;
    if (!v2.ReadFromFile(FileName)) return;
    if (v2.TagFound()) {
        fi.TagPresentText = SYes;
        fi.TagVersionText = "2." + std::to_string(v2.TagVersion());
        fi.TagSizeText = std::to_string(v2.TagTotalSize()) + " bytes";
        fi.Title = v2.Title();
        fi.Artist = v2.Artist();
        fi.Album = v2.Album();
        if (v2.TrackNumber() > 0) fi.Track = std::to_string(v2.TrackNumber());
        fi.Year = v2.Year();
        fi.Genre = v2.Genre();
        fi.Comment = v2.Comment();
        fi.Composer = v2.Composer();
        fi.EncodedBy = v2.Encoder();
        fi.RightsNotice = v2.RightsNotice();
        fi.Language = v2.Language();
        fi.FrameTGRA = v2.FrameTGRA();
        fi.FrameTVOC = v2.FrameTVOC();
        fi.Rating = std::to_string(v2.Rating());
        fi.FrameTTPE = v2.FrameTTPE();
        fi.FrameTPIN = v2.FrameTPIN();
        fi.FrameTPFI = v2.FrameTPFI();
        fi.Link = v2.Link();
        fi.FrameTRIT = v2.FrameTRIT();
        fi.IntroMark = v2.IntroMark();
        fi.FrameTEXT = v2.FrameTEXT();
        fi.FrameTEST = v2.FrameTEST();
        fi.FrameTIDM = v2.FrameTIDM();
        fi.StampMark = v2.StampMark();
        fi.StampFile = v2.StampFile();
        fi.StartMark = v2.StartMark();
        fi.EndMark = v2.EndMark();
        fi.ChorusStartMark = v2.ChorusStartMark();
        fi.ChorusEndMark = v2.ChorusEndMark();
        fi.MixMark = v2.MixMark();
        return;
    }

    TID3v1& v1 = *Id3v1Info;
    if (!v1.ReadFromFile(FileName)) {
        fi.TagPresentText = SNo;
        return;
    }
    if (!v1.TagFound()) return;
    fi.TagPresentText = SYes;
    fi.TagVersionText = v1.TagVersion() == 2 ? "1.1" : "1.0";
    fi.Title = v1.Title();
    fi.Artist = v1.Artist();
    fi.Album = v1.Album();
    fi.Track = std::to_string(v1.TrackNumber());
    fi.Year = v1.Year();
    fi.Genre = v1.Genre();
    fi.Comment = v1.Comment();
}

bool WriteMarkers(const std::string& FileName, const std::string& Title, const std::string& Artist,
                  const std::string& Composer, const std::string& Album, const std::string& Year,
                  const std::string& Track, const std::string& TIDM, const std::string& Genre,
                  const std::string& TEST, const std::string& TRIT, const std::string& Language,
                  const std::string& TGRA, const std::string& TVOC, const std::string& Rating,
                  const std::string& TTPE, const std::string& TPIN, const std::string& TPFI,
                  const std::string& TEXT, const std::string& Comment, const std::string& IntroMark,
                  const std::string& StampMark, const std::string& StampFile, const std::string& StartMark,
                  const std::string& EndMark, const std::string& ChorusStartMark,
                  const std::string& ChorusEndMark, const std::string& MixMark) {
    if (!FileExists(FileName)) {
        ClearFileInfo();
        return false;
    }
    // Without a read the writer has no values of its own: only what the arguments and the record
    // give is written, into the tag the file holds.
    if (!Id3v2Info) Id3v2Info = std::make_unique<TID3v2>();
    TID3v2& v2 = *Id3v2Info;
    const Tag& fi = FileInfo;
    // A given argument is written. An empty one keeps what the file holds, unless the record's
    // value differs from what was read (a marker the editor cleared, the fields of an ID3v1 tag).
    using Getter = const std::string& (TID3v2::*)() const;
    using Setter = void (TID3v2::*)(std::string_view);
    auto apply = [&v2](const std::string& arg, const std::string& field, Getter get, Setter set) {
        if (!arg.empty())
            (v2.*set)(arg);
        else if (TrimBlanks(field) != (v2.*get)())
            (v2.*set)(field);
    };

    apply(Title, fi.Title, &TID3v2::Title, &TID3v2::SetTitle);
    apply(Artist, fi.Artist, &TID3v2::Artist, &TID3v2::SetArtist);
    apply(Composer, fi.Composer, &TID3v2::Composer, &TID3v2::SetComposer);
    apply(Album, fi.Album, &TID3v2::Album, &TID3v2::SetAlbum);
    apply(Year, fi.Year, &TID3v2::Year, &TID3v2::SetYear);
    if (!Track.empty()) {
        v2.SetTrackNumber(static_cast<uint16_t>(StrToInt(Track)));
    } else if (!fi.Track.empty()) {
        const auto track = static_cast<uint16_t>(StrToInt(fi.Track));
        if (track != v2.TrackNumber()) v2.SetTrackNumber(track);
    }
    apply(TIDM, fi.FrameTIDM, &TID3v2::FrameTIDM, &TID3v2::SetFrameTIDM);
    apply(Genre, fi.Genre, &TID3v2::Genre, &TID3v2::SetGenre);
    apply(TEST, fi.FrameTEST, &TID3v2::FrameTEST, &TID3v2::SetFrameTEST);
    apply(TRIT, fi.FrameTRIT, &TID3v2::FrameTRIT, &TID3v2::SetFrameTRIT);
    apply(Language, fi.Language, &TID3v2::Language, &TID3v2::SetLanguage);
    apply(TGRA, fi.FrameTGRA, &TID3v2::FrameTGRA, &TID3v2::SetFrameTGRA);
    apply(TVOC, fi.FrameTVOC, &TID3v2::FrameTVOC, &TID3v2::SetFrameTVOC);
    int rating = 0;
    if (!ToInt(Rating.empty() ? fi.Rating : Rating, rating)) rating = 0;
    if (!Rating.empty() || static_cast<uint8_t>(rating & 0xFF) != v2.Rating()) v2.SetRating(static_cast<uint8_t>(rating & 0xFF));
    apply(TTPE, fi.FrameTTPE, &TID3v2::FrameTTPE, &TID3v2::SetFrameTTPE);
    apply(TPIN, fi.FrameTPIN, &TID3v2::FrameTPIN, &TID3v2::SetFrameTPIN);
    apply(TPFI, fi.FrameTPFI, &TID3v2::FrameTPFI, &TID3v2::SetFrameTPFI);
    apply(TEXT, fi.FrameTEXT, &TID3v2::FrameTEXT, &TID3v2::SetFrameTEXT);
    apply(Comment, fi.Comment, &TID3v2::Comment, &TID3v2::SetComment);
    apply(IntroMark, fi.IntroMark, &TID3v2::IntroMark, &TID3v2::SetIntroMark);
    apply(StampMark, fi.StampMark, &TID3v2::StampMark, &TID3v2::SetStampMark);
    apply(StampFile, fi.StampFile, &TID3v2::StampFile, &TID3v2::SetStampFile);
    apply(StartMark, fi.StartMark, &TID3v2::StartMark, &TID3v2::SetStartMark);
    apply(EndMark, fi.EndMark, &TID3v2::EndMark, &TID3v2::SetEndMark);
    apply(ChorusStartMark, fi.ChorusStartMark, &TID3v2::ChorusStartMark, &TID3v2::SetChorusStartMark);
    apply(ChorusEndMark, fi.ChorusEndMark, &TID3v2::ChorusEndMark, &TID3v2::SetChorusEndMark);
    apply(MixMark, fi.MixMark, &TID3v2::MixMark, &TID3v2::SetMixMark);

    // Always from the record; TCAD always "S".
    apply("", fi.EncodedBy, &TID3v2::Encoder, &TID3v2::SetEncoder);
    apply("", fi.RightsNotice, &TID3v2::RightsNotice, &TID3v2::SetRightsNotice);
    apply("", fi.Link, &TID3v2::Link, &TID3v2::SetLink);
    if (v2.FrameTCAD() != "S") v2.SetFrameTCAD("S");

    const bool ok = v2.SaveToFile(FileName);
    ClearFileInfo();
    return ok;
}
