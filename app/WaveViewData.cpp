#include "app/WaveViewData.h"

#include "audio/MMWave.h"

// The overview scan runs over every frame of the file: let it vectorise.
#pragma GCC optimize("tree-vectorize")

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <vector>

int32_t RoundHalfEven(double v) {
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(v);
    std::fesetround(previous);
    return int32_t(r);
}

int32_t FitZoom(int32_t totalSamples, int32_t viewSamples) {
    if (viewSamples <= 0) return 1;
    return std::max(1, RoundHalfEven(double(totalSamples) / viewSamples + 0.5));
}

int32_t ScrollDivisorFor(int32_t totalSamples) {
    // The smallest d with total div d <= 32767 is ceil((total + 1) / 32768) for total > 32767.
    int32_t d = std::max(1, int32_t((int64_t(totalSamples) + 1 + 32767) / 32768));
    while (d > 1 && totalSamples / (d - 1) <= 32767) --d;
    while (totalSamples / d > 32767) ++d;
    return d;
}

int32_t TDetailGeometry::SampleToPixel(int32_t s) const {
    s = std::clamp(s, 0, totalSamples);
    const int32_t x = (s - viewOffset) / std::max(zoom, 1);
    return std::clamp(x, -10, width + 10);
}

int32_t TDetailGeometry::PixelToSample(int32_t x) const {
    x = std::clamp(x, 0, std::max(width - 1, 0));
    const int64_t s = int64_t(x) * zoom + viewOffset;
    return int32_t(std::clamp<int64_t>(s, 0, totalSamples));
}

bool DetailReadIsSparse(int32_t zoom, int32_t frameSize) {
    return zoom > 1 && int64_t(zoom) * frameSize * 1024 > 65535;
}

namespace {

void FillSilence(uint8_t* buffer, int32_t from, int32_t block, bool eightBit) {
    from = std::max(from, 0);
    if (from < block) std::memset(buffer + from, eightBit ? 128 : 0, size_t(block - from));
}

void Report(const TViewProgress& progress, int32_t done, int32_t block) {
    if (progress && block > 0) progress(RoundHalfEven(100.0 / block * done));
}

}  // namespace

int32_t ReadDetailBlock(TMMWave& wave, int32_t viewOffset, int32_t zoom, int32_t frameSize,
                        int32_t totalSamples, bool eightBit, uint8_t* buffer, int32_t block,
                        const TViewProgress& progress) {
    int32_t bytesRead = 0;
    if (frameSize <= 0 || block <= 0) return 0;
    try {
        wave.SetPosition(viewOffset);
        if (zoom <= 1) {
            bytesRead = wave.ReadDataBytes(buffer, block);
        } else if (DetailReadIsSparse(zoom, frameSize)) {
            // One seek and one frame per column; the last read (the 4-byte end rule) writes at
            // most frameSize bytes, so it stays inside the block.
            int64_t nextFrame = viewOffset;
            while (bytesRead < block) {
                const int32_t n = wave.ReadDataBytes(buffer + bytesRead, frameSize);
                if (n <= 0) break;
                bytesRead += n;
                nextFrame += zoom;
                wave.SetPosition(int32_t(std::min<int64_t>(nextFrame, totalSamples)));
                Report(progress, bytesRead, block);
            }
        } else {
            const int32_t chunk = zoom * frameSize * 1024;
            std::vector<uint8_t> work(size_t(chunk), 0);
            const int32_t stride = zoom * frameSize;
            while (bytesRead < block) {
                const int32_t n = wave.ReadDataBytes(work.data(), chunk);
                if (n <= 0) break;
                for (int32_t i = 0; i < n && bytesRead < block; i += stride) {
                    const int32_t take = std::min(frameSize, n - i);
                    std::memcpy(buffer + bytesRead, work.data() + i, size_t(take));
                    bytesRead += frameSize;
                }
            }
        }
    } catch (...) {
        // A failed seek or read ends the reading; the rest is silence.
    }
    bytesRead = std::clamp(bytesRead, 0, block);
    FillSilence(buffer, bytesRead, block, eightBit);
    return bytesRead;
}

int32_t OverviewReadSize(uint32_t dataBytes) {
    return int32_t(std::min<uint32_t>(dataBytes, 65532));
}

namespace {

// Lowers lo and raises hi of each channel over n frames starting at data; a value of 0 counts
// as positive, so plain min/max from 0 give the lowest negative and highest positive values.
// The samples are scanned as one interleaved run in lanes of 16, so that lane l holds
// channel l mod Channels and the loop vectorises.
template <int Channels, bool EightBit>
void ScanPeaks(const uint8_t* data, int32_t n, int16_t* lo, int16_t* hi) {
    constexpr int Lanes = 16;
    int16_t laneLo[Lanes] = {}, laneHi[Lanes] = {};
    const int32_t count = n * Channels;
    int32_t i = 0;
    auto sample = [data](int32_t index) -> int16_t {
        if constexpr (EightBit) {
            return int16_t(int16_t(data[index]) - 128);
        } else {
            int16_t v;
            std::memcpy(&v, data + 2 * index, 2);
            return v;
        }
    };
    for (; i + Lanes <= count; i += Lanes) {
        for (int l = 0; l < Lanes; ++l) {
            const int16_t v = sample(i + l);
            laneLo[l] = std::min(laneLo[l], v);
            laneHi[l] = std::max(laneHi[l], v);
        }
    }
    for (int l = 0; i < count; ++i, ++l) {
        const int16_t v = sample(i);
        laneLo[l] = std::min(laneLo[l], v);
        laneHi[l] = std::max(laneHi[l], v);
    }
    for (int l = 0; l < Lanes; ++l) {
        lo[l % Channels] = std::min(lo[l % Channels], laneLo[l]);
        hi[l % Channels] = std::max(hi[l % Channels], laneHi[l]);
    }
}

using ScanFn = void (*)(const uint8_t*, int32_t, int16_t*, int16_t*);

ScanFn PickScan(bool stereo, bool eightBit) {
    if (stereo) return eightBit ? &ScanPeaks<2, true> : &ScanPeaks<2, false>;
    return eightBit ? &ScanPeaks<1, true> : &ScanPeaks<1, false>;
}

}  // namespace

int32_t BuildOverviewBlock(TMMWave& wave, int32_t step, int32_t frameSize, bool stereo, bool eightBit,
                           uint8_t* buffer, int32_t block, const TViewProgress& progress) {
    int32_t written = 0;
    const WaveIORecord* record = wave.WaveIO();
    if (!record || frameSize <= 0 || block <= 0) return 0;
    const int32_t readSize = OverviewReadSize(record->DataBytes);
    const int16_t silence = eightBit ? 128 : 0;
    const int channels = stereo ? 2 : 1;
    const ScanFn scan = PickScan(stereo, eightBit);
    std::vector<uint8_t> read(size_t(std::max(readSize, 1)), 0);
    try {
        wave.SetPosition(0);
        int32_t got = wave.ReadDataBytes(read.data(), readSize);
        int32_t p = 0;
        while (p < got && written < block) {
            int16_t lowest[2] = {0, 0};
            int16_t highest[2] = {0, 0};
            int32_t k = 0;
            bool abandoned = false;
            for (int32_t i = 0; i < step;) {
                // The frame that ends exactly at the end of a read is not used.
                if (p + k + frameSize >= got) {
                    got = wave.ReadDataBytes(read.data(), readSize);
                    if (got < frameSize) {
                        abandoned = true;
                        break;
                    }
                    p = 0;
                    k = 0;
                }
                const int32_t usable = (got - (p + k) - 1) / frameSize;
                const int32_t n = std::min(step - i, usable);
                scan(read.data() + p + k, n, lowest, highest);
                k += n * frameSize;
                i += n;
            }
            if (abandoned) break;
            uint8_t* out = buffer + written;
            for (int c = 0; c < channels; ++c) {
                const int16_t peak = -int32_t(lowest[c]) > highest[c] ? lowest[c] : highest[c];
                const int16_t value = int16_t(peak + silence);
                if (eightBit) {
                    out[c] = uint8_t(value);
                } else {
                    out[2 * c] = uint8_t(value);
                    out[2 * c + 1] = uint8_t(uint16_t(value) >> 8);
                }
            }
            written += frameSize;
            p += k;
            Report(progress, written, block);
        }
    } catch (...) {
        // A failed read ends the pass; the rest is silence.
    }
    FillSilence(buffer, written, block, eightBit);
    return written;
}
