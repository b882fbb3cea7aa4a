#include "tags/MPEGaudio.h"

#include "tags/ID3v1.h"
#include "tags/ID3v2.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Block read at each place a frame is looked for; the search slides over its first half so that
// the frame that follows the candidate lies inside the block.
constexpr size_t kBlockSize = 3458;
constexpr size_t kSearchEnd = 1729;
constexpr int64_t kID3v1Size = 128;

const char* const kVersionNames[4] = {"MPEG 2.5", "MPEG ?", "MPEG 2", "MPEG 1"};
const char* const kLayerNames[4] = {"Layer ?", "Layer III", "Layer II", "Layer I"};
const char* const kModeNames[5] = {"Stereo", "Joint Stereo", "Dual Channel", "Mono", "Unknown"};
const char* const kEmphasisNames[4] = {"None", "50/15 ms", "Unknown", "CCIT J.17"};
const char* const kEncoderNames[8] = {"Unknown", "Xing", "FhG", "LAME", "Blade", "GoGo", "Shine", "QDesign"};

enum : uint8_t { kMPEG25 = 0, kMPEG2 = 2, kMPEG1 = 3 };
enum : uint8_t { kLayerIII = 1, kLayerII = 2, kLayerI = 3 };
enum : uint8_t { kModeStereo = 0, kModeDual = 2, kModeMono = 3 };
enum : uint8_t { kEncUnknown = 0, kEncXing = 1, kEncFhG = 2, kEncLAME = 3, kEncBlade = 4, kEncGoGo = 5,
                 kEncShine = 6, kEncQDesign = 7 };

// kbit/s by [VersionID][LayerID][BitRateID]; MPEG 2.5 has the MPEG 2 rows.
constexpr uint16_t kBitRates[4][4][16] = {
    {{0}, {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0}},
    {{0}, {0}, {0}, {0}},
    {{0}, {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0}},
    {{0}, {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}},
};

// Hz by [VersionID][SampleRateID].
constexpr uint16_t kSampleRates[4][4] = {
    {11025, 12000, 8000, 0}, {0, 0, 0, 0}, {22050, 24000, 16000, 0}, {44100, 48000, 32000, 0}};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool IsFrameHeader(const uint8_t* b) {
    return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0 && ((b[1] >> 3) & 3) != 1 && ((b[1] >> 1) & 3) != 0 &&
           (b[2] >> 4) != 0 && (b[2] >> 4) != 15 && ((b[2] >> 2) & 3) != 3 && (b[3] & 3) != 2;
}

void DecodeHeader(const uint8_t* b, FrameHeaderInfo& f) {
    std::memcpy(f.HeaderBytes, b, 4);
    f.VersionID = (b[1] >> 3) & 3;
    f.LayerID = (b[1] >> 1) & 3;
    f.ProtectionBit = (b[1] & 1) == 0;
    f.BitRateID = b[2] >> 4;
    f.SampleRateID = (b[2] >> 2) & 3;
    f.PaddingBit = (b[2] >> 1) & 1;
    f.PrivateBit = b[2] & 1;
    f.ModeID = b[3] >> 6;
    f.ModeExtensionID = (b[3] >> 4) & 3;
    f.CopyBit = (b[3] >> 3) & 1;
    f.OriginalBit = (b[3] >> 2) & 1;
    f.EmphasisID = b[3] & 3;
}

uint16_t TableBitRate(const FrameHeaderInfo& f) {
    return kBitRates[f.VersionID & 3][f.LayerID & 3][f.BitRateID & 15];
}

uint16_t TableSampleRate(const FrameHeaderInfo& f) { return kSampleRates[f.VersionID & 3][f.SampleRateID & 3]; }

// Bytes per frame for each kbit/s of bit rate and kHz of sample rate (samples per frame ÷ 8).
int Coefficient(const FrameHeaderInfo& f) {
    if (f.VersionID == kMPEG1) {
        if (f.LayerID == kLayerI) return 48;
        if (f.LayerID == kLayerII || f.LayerID == kLayerIII) return 144;
        return 0;
    }
    if (f.VersionID == kMPEG2 || f.VersionID == kMPEG25) {
        if (f.LayerID == kLayerI) return 24;
        if (f.LayerID == kLayerII) return 144;
        if (f.LayerID == kLayerIII) return 72;
    }
    return 0;
}

int Padding(const FrameHeaderInfo& f) {
    if (!f.PaddingBit) return 0;
    return f.LayerID == kLayerI ? 4 : 1;
}

uint16_t FrameLength(const FrameHeaderInfo& f) {
    const int64_t rate = TableSampleRate(f);
    if (rate == 0) return 0;
    return uint16_t(int64_t(Coefficient(f)) * TableBitRate(f) * 1000 / rate + Padding(f));
}

// Distance from the frame start to the end of the side information, where a Xing header sits.
size_t SideInfoDistance(const FrameHeaderInfo& f) {
    const bool mono = f.ModeID == kModeMono;
    if (f.VersionID == kMPEG1) return mono ? 21 : 36;
    return mono ? 13 : 21;
}

// A VBRI header always follows 32 bytes after the frame header, whatever the mode.
constexpr size_t kVBRIDistance = 36;

// Encoder texts are bytes of no stated encoding: taken as Latin-1 up to the first zero byte, so
// that the texts stay valid UTF-8 whatever a file holds.
std::string TextOf(const uint8_t* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count && bytes[i] != 0; ++i) {
        if (bytes[i] < 0x80) {
            text += char(bytes[i]);
        } else {
            text += char(0xC0 | bytes[i] >> 6);
            text += char(0x80 | (bytes[i] & 0x3F));
        }
    }
    return text;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads up to `count` bytes at `offset`; returns how many were read, or -1 on an I/O error.
int64_t ReadAt(std::FILE* f, int64_t offset, uint8_t* buffer, size_t count) {
    if (offset < 0 || fseeko(f, off_t(offset), SEEK_SET) != 0) return -1;
    const size_t n = std::fread(buffer, 1, count, f);
    if (n < count && std::ferror(f)) return -1;
    return int64_t(n);
}

}  // namespace

TMPEGaudio::TMPEGaudio() : id3v1_(std::make_unique<TID3v1>()), id3v2_(std::make_unique<TID3v2>()) { Reset(); }

TMPEGaudio::~TMPEGaudio() = default;

void TMPEGaudio::Reset() {
    fileLength_ = 0;
    vendorText_.clear();
    vbr_ = VBRData();
    frame_ = FrameHeaderInfo();
    frame_.VersionID = 1;
    frame_.SampleRateID = 3;
    frame_.ModeID = 4;
    frame_.ModeExtensionID = 4;
    frame_.EmphasisID = 2;
    id3v1_->Reset();
    id3v2_->Reset();
}

void TMPEGaudio::ReadVBR(const uint8_t* block, size_t count, size_t frameOffset) {
    // Bytes past what was read count as zero, like the rest of a zero-filled block.
    const auto at = [&](size_t i) -> uint8_t { return i < count ? block[i] : 0; };
    const auto be32 = [&](size_t i) {
        return int32_t(uint32_t(at(i)) << 24 | uint32_t(at(i + 1)) << 16 | uint32_t(at(i + 2)) << 8 | at(i + 3));
    };
    const auto idAt = [&](size_t i, const char* id) {
        return i + 4 <= count && std::memcmp(block + i, id, 4) == 0;
    };
    const size_t position = frameOffset + SideInfoDistance(frame_);
    if (idAt(position, "Xing")) {
        vbr_.Present = true;
        vbr_.HeaderID = "Xing";
        vbr_.FrameTotal = be32(position + 8);
        vbr_.ByteTotal = be32(position + 12);
        vbr_.Quality = at(position + 119);
        uint8_t tag[8];
        for (size_t i = 0; i < 8; ++i) tag[i] = at(position + 120 + i);
        vbr_.EncoderTag = TextOf(tag, 8);
        return;
    }
    const size_t vbri = frameOffset + kVBRIDistance;
    if (idAt(vbri, "VBRI")) {
        vbr_.Present = true;
        vbr_.HeaderID = "VBRI";
        vbr_.Quality = at(vbri + 9);
        vbr_.ByteTotal = be32(vbri + 10);
        vbr_.FrameTotal = be32(vbri + 14);
    }
}

void TMPEGaudio::SearchFrame(const uint8_t* block, size_t count) {
    if (count < 4) return;
    const size_t last = std::min(kSearchEnd, count - 4);
    for (size_t offset = 0; offset <= last; ++offset) {
        if (!IsFrameHeader(block + offset)) continue;
        FrameHeaderInfo candidate;
        DecodeHeader(block + offset, candidate);
        const size_t length = FrameLength(candidate);
        const size_t next = offset + length;
        if (length == 0 || next + 4 > count || !IsFrameHeader(block + next)) continue;
        frame_ = candidate;
        frame_.Found = true;
        frame_.Position = int32_t(offset);
        frame_.Size = uint16_t(length);
        frame_.ZeroSideInfo = offset + 10 <= count &&
                              std::all_of(block + offset + 4, block + offset + 10, [](uint8_t b) { return b == 0; });
        ReadVBR(block, count, offset);
        return;
    }
}

void TMPEGaudio::ReadVendorText(const uint8_t* block, size_t count) {
    // An 8-character window ("LAME3.90") moves backwards from the block's end.
    if (count < 8) return;
    const size_t steps = std::min<size_t>(size_t(frame_.Size) * 5, 3450);
    for (size_t back = 0; back <= steps && back + 8 <= count; ++back) {
        const uint8_t* p = block + count - 8 - back;
        if (std::memcmp(p, "LAME", 4) == 0) {
            vendorText_ = TextOf(p, 8);
            return;
        }
        if (std::memcmp(p, "GOGO", 4) == 0) {
            vendorText_ = "GOGO";
            return;
        }
    }
}

bool TMPEGaudio::ReadFromFile(const std::string& FileName) {
    Reset();
    bool result = id3v2_->ReadFromFile(FileName);
    result = id3v1_->ReadFromFile(FileName) && result;
    if (result) {
        FilePtr file(std::fopen(FileName.c_str(), "rb"));
        int64_t size = -1;
        if (file && fseeko(file.get(), 0, SEEK_END) == 0) size = ftello(file.get());
        result = size >= 0;
        if (result) {
            fileLength_ = size;
            const int64_t tagSize = std::clamp<int64_t>(id3v2_->TagTotalSize(), 0, fileLength_);
            uint8_t block[kBlockSize];
            int64_t n = ReadAt(file.get(), tagSize, block, kBlockSize);
            if (n >= 0) SearchFrame(block, size_t(n));
            if (n == int64_t(kBlockSize) && !frame_.Found) {
                n = ReadAt(file.get(), (fileLength_ - tagSize) / 2, block, kBlockSize);
                if (n >= 0) SearchFrame(block, size_t(n));
            }
            if (n >= 0 && frame_.Found && !vbr_.Present) {
                // A file shorter than the end block gives what lies between the tags.
                const int64_t end = std::max(tagSize, fileLength_ - (id3v1_->TagFound() ? kID3v1Size : 0));
                const int64_t start = std::max(tagSize, end - int64_t(kBlockSize));
                n = ReadAt(file.get(), start, block, size_t(end - start));
                if (n >= 0) ReadVendorText(block, size_t(n));
            }
            result = n >= 0;
        }
    }
    if (!frame_.Found) Reset();
    return result;
}

int64_t TMPEGaudio::AudioBytes() const {
    int64_t bytes = fileLength_ - std::max<int64_t>(id3v2_->TagTotalSize(), 0) - frame_.Position;
    if (id3v1_->TagFound()) bytes -= kID3v1Size;
    return std::max<int64_t>(bytes, 0);
}

std::string TMPEGaudio::Version() const { return kVersionNames[frame_.VersionID & 3]; }

std::string TMPEGaudio::Layer() const { return kLayerNames[frame_.LayerID & 3]; }

std::string TMPEGaudio::ChannelMode() const { return kModeNames[std::min<uint8_t>(frame_.ModeID, 4)]; }

std::string TMPEGaudio::Emphasis() const { return kEmphasisNames[frame_.EmphasisID & 3]; }

uint16_t TMPEGaudio::BitRate() const {
    const int coefficient = Coefficient(frame_);
    if (vbr_.Present && vbr_.FrameTotal > 0 && coefficient > 0) {
        const double bytesPerFrame = double(vbr_.ByteTotal) / vbr_.FrameTotal - Padding(frame_);
        const double rate = std::nearbyint(bytesPerFrame * TableSampleRate(frame_) / coefficient / 1000);
        return uint16_t(std::clamp(rate, 0.0, 65535.0));
    }
    return TableBitRate(frame_);
}

uint16_t TMPEGaudio::SampleRate() const { return TableSampleRate(frame_); }

int64_t TMPEGaudio::FrameCount() const {
    if (vbr_.Present) return vbr_.FrameTotal;
    return frame_.Size > 0 ? AudioBytes() / frame_.Size : 0;
}

double TMPEGaudio::Duration() const {
    if (!frame_.Found) return 0;
    const double rate = TableSampleRate(frame_);
    if (vbr_.Present && vbr_.FrameTotal > 0) return rate > 0 ? Coefficient(frame_) * double(vbr_.FrameTotal) * 8 / rate : 0;
    const uint16_t bitRate = TableBitRate(frame_);
    return bitRate > 0 ? double(AudioBytes()) / bitRate / 1000 * 8 : 0;
}

uint8_t TMPEGaudio::EncoderID() const {
    if (!frame_.Found) return kEncUnknown;
    uint8_t id = kEncUnknown;
    if (vbr_.Present) {
        const std::string& tag = vbr_.EncoderTag;
        const bool gogo = StartsWith(tag, "GOGO") || StartsWith(tag, "MPGE");
        const bool lame = StartsWith(tag, "LAME");
        if (gogo) id = kEncGoGo;
        else if (lame) id = kEncLAME;
        if (vbr_.HeaderID == "Xing" && !gogo && !lame) id = kEncXing;
        if (vbr_.HeaderID == "VBRI") id = kEncFhG;
        return id;
    }
    id = frame_.OriginalBit && frame_.ProtectionBit ? kEncLAME : kEncFhG;
    if (TableBitRate(frame_) <= 160 && frame_.ModeID == kModeStereo) id = kEncBlade;
    if (frame_.CopyBit && frame_.OriginalBit && !frame_.ProtectionBit) id = kEncXing;
    if (frame_.ZeroSideInfo && frame_.OriginalBit) id = kEncXing;
    if (frame_.LayerID == kLayerII) id = kEncQDesign;
    if (frame_.ModeID == kModeDual && frame_.ProtectionBit) id = kEncShine;
    if (StartsWith(vendorText_, "GOGO")) id = kEncGoGo;
    else if (StartsWith(vendorText_, "LAME")) id = kEncLAME;
    return id;
}

std::string TMPEGaudio::Encoder() const {
    const uint8_t id = EncoderID();
    std::string name = kEncoderNames[id & 7];
    if (id == kEncLAME) {
        const std::string& vendor = vendorText_.empty() ? vbr_.EncoderTag : vendorText_;
        if (vendor.size() > 7 && IsDigit(vendor[4]) && vendor[5] == '.' && IsDigit(vendor[6]) && IsDigit(vendor[7]))
            name += " " + vendor.substr(4, 4);
    }
    return name;
}

bool TMPEGaudio::Valid() const {
    const uint16_t bitRate = BitRate();
    return frame_.Found && bitRate >= 8 && bitRate <= 448 && Duration() >= 0.1;
}
