// True peak of 16-bit PCM by 4x oversampling: windowed-sinc interpolation at a quarter, half
// and three quarters of every sample interval, the largest magnitude found there or at a sample.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class TTruePeak {
public:
    static constexpr int kTaps = 12;  // samples n-5 .. n+6 around the interval n .. n+1
    static constexpr int kBefore = 5;
    static constexpr int kCarry = kTaps - 1;
    static constexpr size_t kSpan = 32;  // intervals checked against the peak at a time

    // One or two channels.
    explicit TTruePeak(int channels);
    // The next frames of the song (interleaved).
    void Add(const int16_t* samples, size_t frames);
    // Frames before the first ones measured, as their history (interleaved).
    void Prime(const int16_t* samples, size_t frames);
    // After the last frames: the song ends in silence.
    void Finish();
    // The peak so far, linear, full scale 1.
    double Peak() const { return double(peak_) / 32768.0; }

private:
    // The kCarry samples carried, then the new ones, of one channel.
    void Scan(const int16_t* b, size_t size);

    int channels_;
    std::array<std::array<float, kTaps>, 3> taps_{};
    float gain_ = 1.0f;  // the largest sum of tap magnitudes: no interpolation exceeds gain x samples
    float peak_ = 0.0f;
    std::array<std::vector<int16_t>, 2> buffer_;  // per channel: the last kCarry samples, then the new
    std::vector<int32_t> largest_;                // per kSpan samples of a buffer: the largest magnitude
};
