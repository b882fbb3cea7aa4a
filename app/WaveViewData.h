// What the editor's waveform views show, computed without a window: the frame/column
// geometry of the detail and overview views, the detail block (every z-th frame of one
// screen) and the overview block (one peak frame per column over the whole file).
#pragma once

#include <cstdint>
#include <functional>

class TMMWave;

// round(v) with halves to the even integer.
int32_t RoundHalfEven(double v);
// The zoom (or overview step) at which total frames fit into one screen of viewSamples:
// round(total / viewSamples + 0.5), halves to even, at least 1.
int32_t FitZoom(int32_t totalSamples, int32_t viewSamples);
// The smallest d >= 1 with total div d <= 32767.
int32_t ScrollDivisorFor(int32_t totalSamples);

// Where the detail view stands: first frame, frames per column, columns.
struct TDetailGeometry {
    int32_t totalSamples = 0;
    int32_t viewOffset = 0;
    int32_t zoom = 1;
    int32_t width = 1;

    // Detail column of frame s, clamped to -10..width + 10.
    int32_t SampleToPixel(int32_t s) const;
    // Frame of detail column x (x clamped to the view), clamped to 0..totalSamples.
    int32_t PixelToSample(int32_t x) const;
};

// Percent of the work done, for the progress bar; may be empty.
using TViewProgress = std::function<void(int percent)>;

// True when a detail refresh at this zoom reads one frame per column (the chunk of
// zoom x frameSize x 1024 bytes would pass 65535), the slow case that shows the hourglass.
bool DetailReadIsSparse(int32_t zoom, int32_t frameSize);

// Fills block bytes of buffer with the frames viewOffset, viewOffset + zoom, ... read from the
// wave (open, PCM), the rest with silence (byte 128 for 8-bit audio, 0 for 16-bit). Returns the
// bytes that came from the file. Read errors end the reading; what was read stays.
int32_t ReadDetailBlock(TMMWave& wave, int32_t viewOffset, int32_t zoom, int32_t frameSize,
                        int32_t totalSamples, bool eightBit, uint8_t* buffer, int32_t block,
                        const TViewProgress& progress);

// Size of the overview pass's reads: min(data bytes, 65532).
int32_t OverviewReadSize(uint32_t dataBytes);

// One sequential pass over the wave from its start in 65532-byte reads: every column of
// step frames becomes one frame holding, per channel, the value of largest magnitude (the
// negative one only when strictly larger), written into buffer; the rest of block is
// silence. Returns the bytes written by columns.
int32_t BuildOverviewBlock(TMMWave& wave, int32_t step, int32_t frameSize, bool stereo, bool eightBit,
                           uint8_t* buffer, int32_t block, const TViewProgress& progress);
