#include "analysis/TruePeak.h"

#include <algorithm>
#include <cmath>
#include <numbers>

// The library's own oversampling costs three times the rest of the analysis. Here the samples
// stay 16-bit until a span of kSpan intervals needs the filter: that is when its largest sample,
// times the filter's largest gain, could exceed the peak found so far. The peak starts each read
// at its largest sample, so most of a song is skipped. The spans left run one phase and one tap
// at a time, loops the compiler vectorises (this file is built for it: see CMakeLists.txt).
TTruePeak::TTruePeak(int channels) : channels_(std::clamp(channels, 1, 2)) {
    for (size_t p = 0; p < 3; ++p) {
        const double f = double(p + 1) / 4.0;
        std::array<double, kTaps> h{};
        double sum = 0.0;
        for (int k = 0; k < kTaps; ++k) {
            const double x = std::numbers::pi * (f - (k - kBefore));  // distance from tap to point
            const double w = 0.42 + 0.5 * std::cos(x / 6.0) + 0.08 * std::cos(2.0 * x / 6.0);  // Blackman
            h[size_t(k)] = std::sin(x) / x * w;
            sum += h[size_t(k)];
        }
        double absSum = 0.0;
        for (int k = 0; k < kTaps; ++k) {
            taps_[p][size_t(k)] = float(h[size_t(k)] / sum);  // unit gain at DC
            absSum += std::abs(h[size_t(k)] / sum);
        }
        gain_ = std::max(gain_, float(absSum));
    }
    for (auto& b : buffer_) b.assign(kCarry, int16_t(0));  // the song starts out of silence
}

void TTruePeak::Add(const int16_t* samples, size_t frames) {
    for (int c = 0; c < channels_; ++c) {
        std::vector<int16_t>& b = buffer_[size_t(c)];
        if (b.size() < kCarry + frames) b.resize(kCarry + frames);  // kept: later reads reuse it
        const int16_t* from = samples + c;
        for (size_t i = 0; i < frames; ++i) b[kCarry + i] = from[i * size_t(channels_)];
        Scan(b.data(), kCarry + frames);
        std::copy(b.begin() + ptrdiff_t(frames), b.begin() + ptrdiff_t(frames) + kCarry, b.begin());
    }
}

void TTruePeak::Prime(const int16_t* samples, size_t frames) {
    for (int c = 0; c < channels_; ++c) {
        std::vector<int16_t>& b = buffer_[size_t(c)];
        const size_t m = std::min(frames, size_t(kCarry));  // the last m frames push out the oldest
        std::copy(b.begin() + ptrdiff_t(m), b.begin() + kCarry, b.begin());
        for (size_t i = 0; i < m; ++i) b[kCarry - m + i] = samples[(frames - m + i) * size_t(channels_) + size_t(c)];
    }
}

void TTruePeak::Finish() {
    const std::vector<int16_t> silence(size_t(kTaps - kBefore) * size_t(channels_), 0);
    Add(silence.data(), kTaps - kBefore);
}

// On x86-64 the scan is also built for processors with AVX2 and FMA (twice the lanes, a
// multiply-add in one), the one taken chosen when the program loads. (Not under the thread
// sanitizer, whose runtime is not up yet when the loader makes that choice.)
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define TESSIVO_SCAN_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define TESSIVO_SCAN_CLONES
#endif

TESSIVO_SCAN_CLONES void TTruePeak::Scan(const int16_t* b, size_t size) {
    static_assert(kCarry <= int(kSpan), "a span's taps reach into the next span only");
    // The largest magnitude of every kSpan samples, and of all (every sample is a point).
    const size_t blocks = (size + kSpan - 1) / kSpan;
    largest_.assign(blocks + 1, 0);
    int32_t all = 0;
    for (size_t j = 0; j < blocks; ++j) {
        int32_t hi = 0, lo = 0;
        for (size_t i = j * kSpan, e = std::min(size, i + kSpan); i < e; ++i) {
            hi = std::max(hi, int32_t(b[i]));
            lo = std::min(lo, int32_t(b[i]));
        }
        largest_[j] = std::max(hi, -lo);
        all = std::max(all, largest_[j]);
    }
    peak_ = std::max(peak_, float(all));
    const size_t count = size - kCarry;  // the intervals n .. n+1 with all their taps
    std::array<float, kSpan + kCarry> x;
    std::array<float, kSpan> y;
    for (size_t j = 0, at = 0; at < count; ++j, at += kSpan) {
        if (float(std::max(largest_[j], largest_[j + 1])) * gain_ <= peak_) continue;
        const size_t n = std::min(kSpan, count - at);
        for (size_t i = 0; i < n + kCarry; ++i) x[i] = float(b[at + i]);
        std::fill(x.begin() + ptrdiff_t(n + kCarry), x.end(), 0.0f);  // a last, shorter span
        float top = 0.0f;
        for (const auto& t : taps_) {
            y.fill(0.0f);
            for (int k = 0; k < kTaps; ++k) {
                const float h = t[size_t(k)];
                for (size_t i = 0; i < kSpan; ++i) y[i] += h * x[size_t(k) + i];
            }
            for (size_t i = 0; i < n; ++i) top = std::max(top, std::abs(y[i]));
        }
        peak_ = std::max(peak_, top);
    }
}
