// MPEG audio stream analysis without decoding: the first valid frame after the ID3v2 tag, the
// Xing or VBRI header, and what follows from them (version, layer, bit rate, sample rate,
// channel mode, emphasis, frame count, duration, probable encoder).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TID3v1;
class TID3v2;

// Xing or VBRI header of the first frame.
struct VBRData {
    bool Present = false;
    std::string HeaderID;  // "Xing" or "VBRI"
    int32_t FrameTotal = 0;
    int32_t ByteTotal = 0;
    uint8_t Quality = 0;
    std::string EncoderTag;  // up to 8 characters at the end of a Xing header (LAME3.10)
};

// The first frame that was found, its header decoded.
struct FrameHeaderInfo {
    bool Found = false;
    int32_t Position = 0;  // offset within the block that was searched
    uint16_t Size = 0;     // frame length in bytes
    bool ZeroSideInfo = false;
    uint8_t HeaderBytes[4] = {0, 0, 0, 0};
    uint8_t VersionID = 0;
    uint8_t LayerID = 0;
    bool ProtectionBit = false;  // true when CRC-protected
    uint16_t BitRateID = 0;
    uint16_t SampleRateID = 0;
    bool PaddingBit = false;
    bool PrivateBit = false;
    uint8_t ModeID = 0;
    uint8_t ModeExtensionID = 0;
    bool CopyBit = false;
    bool OriginalBit = false;
    uint8_t EmphasisID = 0;
};

class TMPEGaudio {
public:
    TMPEGaudio();
    ~TMPEGaudio();
    TMPEGaudio(const TMPEGaudio&) = delete;
    TMPEGaudio& operator=(const TMPEGaudio&) = delete;

    // Clears the analysis to its "unknown" values and resets both tags.
    void Reset();

    // Reads the file's ID3v2 and ID3v1 tags, then looks for the first frame right after the
    // ID3v2 tag and, failing that, in the middle of the file. Returns false when a tag read
    // fails or the file cannot be opened or read; true otherwise, even when no frame was found
    // (the analysis is then reset and Valid() is false). Never throws.
    bool ReadFromFile(const std::string& FileName);

    int64_t FileLength() const { return fileLength_; }
    const std::string& VendorText() const { return vendorText_; }
    const VBRData& VBR() const { return vbr_; }
    const FrameHeaderInfo& Frame() const { return frame_; }
    TID3v1& Id3v1Tag() { return *id3v1_; }
    const TID3v1& Id3v1Tag() const { return *id3v1_; }
    TID3v2& Id3v2Tag() { return *id3v2_; }
    const TID3v2& Id3v2Tag() const { return *id3v2_; }

    std::string Version() const;
    std::string Layer() const;
    std::string ChannelMode() const;
    std::string Emphasis() const;
    uint16_t BitRate() const;     // kbit/s; the average of a VBR stream
    uint16_t SampleRate() const;  // Hz
    int64_t FrameCount() const;
    double Duration() const;  // seconds
    uint8_t EncoderID() const;
    std::string Encoder() const;
    bool Valid() const;

private:
    int64_t AudioBytes() const;
    void SearchFrame(const uint8_t* block, size_t count);
    void ReadVBR(const uint8_t* block, size_t count, size_t frameOffset);
    void ReadVendorText(const uint8_t* block, size_t count);

    int64_t fileLength_ = 0;
    std::string vendorText_;
    VBRData vbr_;
    FrameHeaderInfo frame_;
    std::unique_ptr<TID3v1> id3v1_;
    std::unique_ptr<TID3v2> id3v2_;
};
