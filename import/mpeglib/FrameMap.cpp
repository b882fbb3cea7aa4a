#include "import/mpeglib/FrameMap.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace mpeglib {
namespace {

// The largest frame the decoder takes, header included (free format too).
constexpr int64_t kMaxFrame = 3460;
constexpr int64_t kBlock = int64_t(1) << 20;
// Room after a block for the frame that follows the last header in it, and for a tag header.
constexpr int64_t kLookAhead = 2 * kMaxFrame + 16;

// kbit/s by [MPEG 2 or 2.5][layer - 1][index].
const uint16_t kBitRates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
const int64_t kMpeg1Rates[3] = {44100, 48000, 32000};

// What stays the same from frame to frame of one stream, as the decoder compares headers:
// sync, version, layer and sampling rate; in free format the bit-rate index too.
constexpr uint32_t kSameStream = 0xFFFE0C00u;
constexpr uint32_t kSameFreeStream = kSameStream | 0xF000u;

// Length in bytes of the frame a header starts, as the decoder reads headers (the reserved
// version counts as MPEG 2.5); 0 for free format; -1 for no header.
int64_t FrameLength(uint32_t h) {
    if ((h & 0xFFE00000u) != 0xFFE00000u) return -1;
    const int layerBits = int(h >> 17) & 3, bitRateIndex = int(h >> 12) & 15, rateIndex = int(h >> 10) & 3;
    if (layerBits == 0 || bitRateIndex == 15 || rateIndex == 3) return -1;
    if (bitRateIndex == 0) return 0;
    const int version = int(h >> 19) & 3;  // 3: MPEG 1, 2: MPEG 2, else 2.5
    const int layer = 4 - layerBits;
    const bool lsf = version != 3;
    const int64_t rate = kMpeg1Rates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const int64_t bitRate = int64_t(kBitRates[lsf][layer - 1][bitRateIndex]) * 1000;
    const int64_t padding = (h >> 9) & 1;
    if (layer == 1) return (12 * bitRate / rate + padding) * 4;
    if (layer == 3 && lsf) return 72 * bitRate / rate + padding;
    return 144 * bitRate / rate + padding;
}

// A byte that can be the first of nothing the decoder acts on (a sync, "ID3", "TAG", "RIFF").
bool Neutral(uint8_t c) { return c != 0xFF && !((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')); }

bool ReadAll(int fd, uint8_t* out, int64_t count, int64_t at) {
    while (count > 0) {
        const ssize_t n = ::pread(fd, out, size_t(count), off_t(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        count -= n;
        at += n;
    }
    return true;
}

class Scanner {
public:
    Scanner(int fd, int64_t end) : fd_(fd), end_(end), buffer_(size_t(std::min(kBlock + kLookAhead, end))) {}

    bool Run() {
        for (base_ = 0; base_ < end_; base_ += kBlock) {
            loaded_ = std::min(kBlock + kLookAhead, end_ - base_);
            if (!ReadAll(fd_, buffer_.data(), loaded_, base_)) return false;
            const int64_t stop = std::min(kBlock, end_ - base_);
            int64_t nextSync = -1, nextTag = -1;
            for (int64_t p = 0; p < stop;) {
                if (nextSync < p) nextSync = Find(0xFF, p, stop);
                if (nextTag < p) nextTag = Find('I', p, stop);
                const int64_t q = std::min(nextSync, nextTag);
                if (q >= stop) break;
                if (q == nextSync) Frame(q);
                else Tag(q);
                p = q + 1;
            }
        }
        if (started_) Gap(protectedEnd_, end_, true);
        return true;
    }

    std::vector<Span> Spans() const {
        std::vector<Span> spans;
        int64_t at = 0, view = 0;
        for (const auto& [from, to] : cuts_) {
            spans.push_back({view, at, from - at});
            view += from - at;
            at = to;
        }
        if (at < end_ || spans.empty()) spans.push_back({view, at, end_ - at});
        return spans;
    }

private:
    // Offset in the block of the next byte c in [from, to), or to.
    int64_t Find(uint8_t c, int64_t from, int64_t to) const {
        const void* hit = std::memchr(buffer_.data() + from, c, size_t(to - from));
        return hit ? static_cast<const uint8_t*>(hit) - buffer_.data() : to;
    }

    bool Word(int64_t i, uint32_t& value) const {
        if (i + 4 > loaded_) return false;
        const uint8_t* b = buffer_.data() + i;
        value = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
        return true;
    }

    // A sync at block offset i: kept with the frame it follows into when a second header of
    // the same stream sits where the first frame ends (free format: within a frame's reach).
    void Frame(int64_t i) {
        uint32_t h = 0, next = 0;
        if (!Word(i, h)) return;
        const int64_t length = FrameLength(h);
        if (length < 0) return;
        if (length > 0) {
            if (!Word(i + length, next) || (next & kSameStream) != (h & kSameStream)) return;
            const int64_t nextLength = FrameLength(next);
            if (nextLength < 0) return;
            Protect(base_ + i, base_ + i + length + (nextLength > 0 ? nextLength : kMaxFrame), true);
            return;
        }
        const int64_t reach = std::min(i + kMaxFrame, loaded_ - 4);
        for (int64_t j = i + 4; j < reach; ++j) {
            j = Find(0xFF, j, reach);
            if (j < reach && Word(j, next) && (next & kSameFreeStream) == (h & kSameFreeStream)) {
                Protect(base_ + i, base_ + j + kMaxFrame, true);
                return;
            }
        }
    }

    // "ID3" at block offset i: an ID3v2 tag, which the decoder skips by its stated size, is
    // kept whole.
    void Tag(int64_t i) {
        if (i + 10 > loaded_) return;
        const uint8_t* b = buffer_.data() + i;
        if (b[1] != 'D' || b[2] != '3' || b[3] == 0xFF || b[4] == 0xFF) return;
        if ((b[6] | b[7] | b[8] | b[9]) & 0x80) return;
        const int64_t size = int64_t(b[6]) << 21 | int64_t(b[7]) << 14 | int64_t(b[8]) << 7 | b[9];
        Protect(base_ + i, base_ + i + 10 + size + ((b[5] & 0x10) ? 10 : 0), false);
    }

    void Protect(int64_t from, int64_t to, bool frame) {
        if (started_ && from > protectedEnd_) Gap(protectedEnd_, from, false);
        protectedEnd_ = std::max(protectedEnd_, to);
        started_ = started_ || frame;
    }

    // Leaves out the middle of the junk in [from, to); the junk at the end of the file goes
    // entirely after the margin.
    void Gap(int64_t from, int64_t to, bool atEnd) {
        int64_t cut = from + kJunkMargin;
        const int64_t cutEnd = atEnd ? to : to - kJunkMargin;
        if (cutEnd - cut < kMinLeftOut) return;
        // The decoder's view goes on from the last bytes before the cut straight into the bytes
        // after it: those must start no header, tag or sync that the file does not hold.
        uint8_t around[64 + 3];
        if (!ReadAll(fd_, around, sizeof around, cut - 3)) return;
        int shift = 0;
        while (shift < 64 && !(Neutral(around[shift]) && Neutral(around[shift + 1]) && Neutral(around[shift + 2])))
            ++shift;
        if (shift == 64) return;
        cut += shift;
        if (cutEnd - cut >= kMinLeftOut) cuts_.emplace_back(cut, cutEnd);
    }

    int fd_;
    int64_t end_;
    std::vector<uint8_t> buffer_;
    int64_t base_ = 0;    // file offset of the block
    int64_t loaded_ = 0;  // bytes of the block and its look-ahead
    bool started_ = false;
    int64_t protectedEnd_ = 0;
    std::vector<std::pair<int64_t, int64_t>> cuts_;
};

}  // namespace

std::vector<Span> MapFrames(int fd, int64_t end) {
    if (end <= 0) return {Span{0, 0, 0}};
    Scanner scanner(fd, end);
    if (!scanner.Run()) return {Span{0, 0, end}};
    return scanner.Spans();
}

}  // namespace mpeglib
