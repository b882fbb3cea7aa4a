// WAV header analysis: the fixed part of a RIFF wave header (the fmt chunk right after the RIFF
// header and the chunk that follows it) for the channel mode, sample rate, size and duration.
#pragma once

#include <cstdint>
#include <string>

class TWAVfile {
public:
    TWAVfile();

    // Valid false, every number 0.
    void Reset();

    // Reads the header block. True when the bytes it needs could be read, whether or not they
    // are a wave header of 1 or 2 channels (Valid says that); false for a missing file or one
    // too short for the header. Never throws.
    bool ReadFromFile(const std::string& FileName);

    bool Valid() const { return valid_; }
    uint16_t FormatTag() const { return formatTag_; }
    uint8_t ChannelCount() const { return channelCount_; }
    uint32_t SampleRate() const { return sampleRate_; }
    uint32_t BytesPerSecond() const { return bytesPerSecond_; }
    uint16_t BlockAlign() const { return blockAlign_; }
    uint8_t BitsPerSample() const { return bitsPerSample_; }
    // Frames per channel from a fact chunk, 0 without one.
    uint32_t SampleCount() const { return sampleCount_; }
    // Bytes before the sample data.
    uint16_t HeaderSize() const { return headerSize_; }
    // RIFF size + 8, but never more than the file holds.
    uint32_t FileSize() const { return fileSize_; }

    // "Unknown", "Mono" or "Stereo".
    std::string ChannelMode() const;
    // Seconds; 0 unless Valid.
    double Duration() const;

private:
    bool valid_ = false;
    uint16_t formatTag_ = 0;
    uint8_t channelCount_ = 0;
    uint32_t sampleRate_ = 0;
    uint32_t bytesPerSecond_ = 0;
    uint16_t blockAlign_ = 0;
    uint8_t bitsPerSample_ = 0;
    uint32_t sampleCount_ = 0;
    uint16_t headerSize_ = 0;
    uint32_t fileSize_ = 0;
};
