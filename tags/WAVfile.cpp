#include "tags/WAVfile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The first 40 bytes: RIFF header, "fmt " chunk header and the 16 bytes every fmt chunk has,
// then the identifier at offset 36 of the common layout.
constexpr size_t kBlockSize = 40;

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

const char* const kModeNames[3] = {"Unknown", "Mono", "Stereo"};

}  // namespace

TWAVfile::TWAVfile() { Reset(); }

void TWAVfile::Reset() {
    valid_ = false;
    formatTag_ = 0;
    channelCount_ = 0;
    sampleRate_ = 0;
    bytesPerSecond_ = 0;
    blockAlign_ = 0;
    bitsPerSample_ = 0;
    sampleCount_ = 0;
    headerSize_ = 0;
    fileSize_ = 0;
}

bool TWAVfile::ReadFromFile(const std::string& FileName) {
    Reset();
    FilePtr file(std::fopen(FileName.c_str(), "rb"));
    if (!file) return false;
    uint8_t block[kBlockSize];
    if (std::fread(block, 1, kBlockSize, file.get()) != kBlockSize) return false;
    if (fseeko(file.get(), 0, SEEK_END) != 0) return false;
    const int64_t fileLength = ftello(file.get());
    if (fileLength < 0) return false;

    // Not a wave file, or more channels than the mode names know: read, but not valid.
    const uint16_t channels = le16(block + 22);
    if (std::memcmp(block, "RIFF", 4) != 0 || std::memcmp(block + 8, "WAVE", 4) != 0 ||
        std::memcmp(block + 12, "fmt ", 4) != 0 || (channels != 1 && channels != 2))
        return true;

    // The chunk right after "fmt " (chunks are padded to an even length): "data" or, for
    // compressed formats, "fact" with the sample count as its first word. Only a fact chunk's
    // word is a sample count; an 18-byte fmt chunk followed by data must not turn sample bytes
    // into one.
    const uint32_t fmtSize = le32(block + 16);
    const uint64_t next = 20 + uint64_t(fmtSize) + (fmtSize & 1);
    uint8_t chunk[12] = {};
    if (fseeko(file.get(), off_t(next), SEEK_SET) != 0) return false;
    const size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    if (got < 4) return false;
    const bool fact = std::memcmp(chunk, "fact", 4) == 0;
    if (fact && got < 12) return false;

    valid_ = true;
    formatTag_ = le16(block + 20);
    channelCount_ = uint8_t(channels);
    sampleRate_ = le32(block + 24);
    bytesPerSecond_ = le32(block + 28);
    blockAlign_ = le16(block + 32);
    bitsPerSample_ = uint8_t(le16(block + 34));
    uint64_t header = next + 8;  // the data chunk's samples
    if (fact) {
        sampleCount_ = le32(chunk + 8);
        const uint32_t factSize = le32(chunk + 4);
        header += uint64_t(factSize) + (factSize & 1) + 8;  // past the fact chunk and the data header
    }
    // A header that claims more than the file holds (a cut copy) counts only what is there.
    const uint64_t size = std::min<uint64_t>(uint64_t(le32(block + 4)) + 8, uint64_t(fileLength));
    fileSize_ = uint32_t(std::min<uint64_t>(size, UINT32_MAX));
    headerSize_ = uint16_t(std::min<uint64_t>({header, fileSize_, UINT16_MAX}));
    return true;
}

std::string TWAVfile::ChannelMode() const { return kModeNames[std::min<uint8_t>(channelCount_, 2)]; }

double TWAVfile::Duration() const {
    if (!valid_) return 0;
    if (sampleCount_ > 0 && sampleRate_ != 0) return double(sampleCount_) / sampleRate_;
    if (sampleCount_ == 0 && bytesPerSecond_ != 0) return double(fileSize_ - headerSize_) / bytesPerSecond_;
    return 0;
}
