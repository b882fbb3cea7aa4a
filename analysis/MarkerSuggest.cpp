#include "analysis/MarkerSuggest.h"

#include "analysis/TruePeak.h"
#include "audio/MMWaveIO.h"

#include <ebur128.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr double kNoLoudness = -std::numeric_limits<double>::infinity();
constexpr double kMomentarySeconds = 0.4;   // the window of the library's momentary loudness
constexpr double kShortTermSeconds = 3.0;   // and of its short-term loudness
constexpr int32_t kReadBytes = 65536;

struct EburCloser {
    void operator()(ebur128_state* st) const { ebur128_destroy(&st); }
};
using EburPtr = std::unique_ptr<ebur128_state, EburCloser>;

double Loudness(int (*get)(ebur128_state*, double*), ebur128_state* st) {
    double value = kNoLoudness;
    return get(st, &value) == EBUR128_SUCCESS ? value : kNoLoudness;
}

// The 16-bit frames of a PCM wave file, 8-bit samples widened, read 64 KB at a time.
class TWaveFrames {
public:
    TSuggestResult Open(const std::string& path) {
        if (WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, record_) != WIOERR_NOERROR) return TSuggestResult::NotWave;
        const WAVEFORMATEX* f = record_->Format();
        if (f->wFormatTag != WAVE_FORMAT_PCM || (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) ||
            f->nChannels < 1 || f->nChannels > 2 || f->nSamplesPerSec == 0 ||
            f->nBlockAlign != f->nChannels * f->wBitsPerSample / 8)
            return TSuggestResult::Unsupported;
        if (WaveIOReopen(record_.get()) != WIOERR_NOERROR) return TSuggestResult::NotWave;
        WaveIOSetBuffer(record_.get(), 0);  // our reads are large: no second copy
        bytes_.resize(size_t(kReadBytes - kReadBytes % f->nBlockAlign));
        return TSuggestResult::Ok;
    }
    uint32_t Rate() const { return record_->Format()->nSamplesPerSec; }
    int Channels() const { return record_->Format()->nChannels; }
    int64_t Frames() const { return record_->DataSamples; }

    bool Seek(int64_t frame) { return WaveIOSeek(record_.get(), int32_t(frame)) == WIOERR_NOERROR; }

    // Up to the buffer's worth of frames into samples (interleaved); 0 at the end, -1 on an error.
    int64_t Read(std::vector<int16_t>& samples) {
        const int32_t got = WaveIORead(record_.get(), bytes_.data(), int32_t(bytes_.size()));
        if (got <= 0) return got == 0 || record_->BytesLeft <= 0 ? 0 : -1;
        const WAVEFORMATEX* f = record_->Format();
        const size_t count = size_t(got) / (f->wBitsPerSample / 8);
        samples.resize(count);
        if (f->wBitsPerSample == 16) {
            static_assert(std::endian::native == std::endian::little, "wave samples are little-endian");
            std::memcpy(samples.data(), bytes_.data(), count * 2);
        } else {
            for (size_t i = 0; i < count; ++i) samples[i] = int16_t((int(bytes_[i]) - 128) * 256);
        }
        return int64_t(count) / f->nChannels;
    }

private:
    TWaveIORecordPtr record_;
    std::vector<uint8_t> bytes_;
};

// The frames the library measures: the song's own, or, from 32 kHz up, pairs of them averaged
// (half the rate). Loudness weighting lifts the highs by 4 dB, yet what lies above a quarter of
// such a rate (11 kHz at 44.1 kHz) carries about a hundredth of a song's energy: the loudness
// moves by less than 0.1 LU, and the library's filters and sums, most of the analysis, halve.
// The true peak is taken from the song's own frames.
class TFeeder {
public:
    TFeeder(TWaveFrames& wave) : wave_(wave), factor_(wave.Rate() >= 32000 ? 2 : 1) {}
    int Factor() const { return factor_; }
    uint32_t Rate() const { return wave_.Rate() / uint32_t(factor_); }
    int Channels() const { return wave_.Channels(); }
    int64_t Frames() const { return wave_.Frames() / factor_; }
    double Seconds(int64_t frame) const { return double(frame) / Rate(); }
    int64_t Frame(double seconds) const { return std::clamp<int64_t>(std::llround(seconds * Rate()), 0, Frames()); }
    bool Seek(int64_t frame) { return wave_.Seek(frame * factor_); }

    // The next frames read: count (0 at the end, -1 on an error); the song's own in Raw().
    int64_t Next() {
        const int64_t got = wave_.Read(raw_);
        if (got <= 0 || factor_ == 1) return got;
        const size_t channels = size_t(wave_.Channels());
        const size_t pairs = size_t(got) / 2;  // an odd last frame is left out
        half_.resize(pairs * channels);
        for (size_t i = 0; i < pairs; ++i)
            for (size_t c = 0; c < channels; ++c)
                half_[i * channels + c] =
                    int16_t((int32_t(raw_[2 * i * channels + c]) + raw_[(2 * i + 1) * channels + c]) / 2);
        return int64_t(pairs);
    }
    const int16_t* Data() const { return factor_ == 1 ? raw_.data() : half_.data(); }
    const std::vector<int16_t>& Raw() const { return raw_; }

private:
    TWaveFrames& wave_;
    int factor_;
    std::vector<int16_t> raw_, half_;
};

bool Cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(std::memory_order_relaxed); }

// The first pass: the momentary loudness at every hop and the integrated loudness.
struct TLoudnessTrack {
    double hop = 0.1;               // seconds between momentary values
    std::vector<float> momentary;   // value k: the window ending at (k + 1) * hop
    double integrated = kNoLoudness;
    double End(size_t k) const { return double(k + 1) * hop; }
};

TSuggestResult ReadLoudness(TFeeder& feed, const std::atomic<bool>* cancel, const TSuggestParams& params,
                            TLoudnessTrack& track) {
    track.hop = params.MomentaryHopSeconds;
    // The histogram keeps the integrated loudness in constant memory, however long the song.
    EburPtr st(ebur128_init(unsigned(feed.Channels()), feed.Rate(), EBUR128_MODE_M | EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM));
    if (!st) return TSuggestResult::Unsupported;
    track.momentary.reserve(size_t(feed.Seconds(feed.Frames()) / track.hop) + 1);
    int64_t frame = 0;
    int64_t hopEnd = feed.Frame(track.End(0));
    for (;;) {
        if (Cancelled(cancel)) return TSuggestResult::Cancelled;
        const int64_t got = feed.Next();
        if (got < 0) return TSuggestResult::ReadError;
        if (got == 0) break;
        const int16_t* p = feed.Data();
        for (int64_t left = got; left > 0;) {
            const int64_t take = std::min(left, hopEnd - frame);
            ebur128_add_frames_short(st.get(), p, size_t(take));
            p += take * feed.Channels();
            left -= take;
            frame += take;
            if (frame == hopEnd) {
                track.momentary.push_back(float(Loudness(ebur128_loudness_momentary, st.get())));
                hopEnd = std::llround(track.End(track.momentary.size()) * feed.Rate());
            }
        }
    }
    if (frame < feed.Frames()) return TSuggestResult::ReadError;
    track.integrated = Loudness(ebur128_loudness_global, st.get());
    return TSuggestResult::Ok;
}

// Reads the song again from `from` to `to` seconds into a fresh meter and calls query(seconds)
// at each multiple of step inside, with the meter holding everything up to that moment. The
// meter starts a little before `from` so that its filters have settled.
template <class Query>
TSuggestResult Remeasure(TFeeder& feed, const std::atomic<bool>* cancel, int mode, double from, double to,
                         double step, Query query) {
    EburPtr st(ebur128_init(unsigned(feed.Channels()), feed.Rate(), mode));
    int64_t tick = std::max<int64_t>(0, int64_t(std::ceil(from / step - 1e-9)));
    int64_t frame = feed.Frame(std::max(0.0, from - 0.1 - (mode & EBUR128_MODE_S ? kShortTermSeconds : kMomentarySeconds)));
    if (!st || !feed.Seek(frame)) return TSuggestResult::ReadError;
    int64_t target = feed.Frame(double(tick) * step);
    while (double(tick) * step <= to + 1e-9) {
        if (Cancelled(cancel)) return TSuggestResult::Cancelled;
        const int64_t got = feed.Next();
        if (got < 0) return TSuggestResult::ReadError;
        if (got == 0) break;
        const int16_t* p = feed.Data();
        for (int64_t left = got; left > 0 && double(tick) * step <= to + 1e-9;) {
            const int64_t take = std::min(left, std::max<int64_t>(0, target - frame));
            ebur128_add_frames_short(st.get(), p, size_t(take));
            p += take * feed.Channels();
            left -= take;
            frame += take;
            if (frame >= target) {
                query(double(tick) * step, st.get());
                target = feed.Frame(double(++tick) * step);
            }
        }
    }
    return TSuggestResult::Ok;
}

// The loudness of each block of the given length from `from` to `to` seconds: pairs of
// (block start, loudness).
TSuggestResult BlockLoudness(TFeeder& feed, const std::atomic<bool>* cancel, double from, double to, double block,
                             std::vector<std::pair<double, double>>& out) {
    out.clear();
    const auto ms = static_cast<unsigned long>(std::max(1L, std::lround(block * 1000.0)));
    return Remeasure(feed, cancel, EBUR128_MODE_M, from + block, to, block, [&](double t, ebur128_state* st) {
        double value = kNoLoudness;
        if (ebur128_loudness_window(st, ms, &value) != EBUR128_SUCCESS) value = kNoLoudness;
        out.emplace_back(t - block, value);
    });
}

}  // namespace

const char* EndingName(TEnding ending) {
    switch (ending) {
        case TEnding::Fade: return "fade";
        case TEnding::Cold: return "cold";
        case TEnding::None: break;
    }
    return "";
}

const char* SuggestResultText(TSuggestResult result) {
    switch (result) {
        case TSuggestResult::Ok: return "ok";
        case TSuggestResult::NotWave: return "not a wave file";
        case TSuggestResult::Unsupported: return "not 8- or 16-bit PCM of one or two channels";
        case TSuggestResult::ReadError: return "the audio data cannot be read to its end";
        case TSuggestResult::Cancelled: return "cancelled";
    }
    return "";
}

namespace {

// The true peak of the whole song, from a reader of its own; stops early when stop or cancel
// is set.
TSuggestResult ReadTruePeak(const std::string& path, const std::atomic<bool>& stop, const std::atomic<bool>* cancel,
                            double& peak) {
    TWaveFrames wave;
    if (const TSuggestResult r = wave.Open(path); r != TSuggestResult::Ok) return r;
    TTruePeak meter(wave.Channels());
    std::vector<int16_t> samples;
    for (;;) {
        if (stop.load(std::memory_order_relaxed) || Cancelled(cancel)) return TSuggestResult::Cancelled;
        const int64_t got = wave.Read(samples);
        if (got < 0) return TSuggestResult::ReadError;
        if (got == 0) break;
        meter.Add(samples.data(), size_t(got));
    }
    meter.Finish();
    peak = meter.Peak();
    return TSuggestResult::Ok;
}

// Stops and joins the true-peak thread on every way out of the analysis.
struct TPeakThread {
    std::atomic<bool> stop{false};
    std::thread thread;
    TSuggestResult result = TSuggestResult::Ok;
    double peak = 0.0;
    ~TPeakThread() {
        stop = true;
        if (thread.joinable()) thread.join();
    }
};

}  // namespace

TSuggestResult SuggestMarkers(const std::string& path, TMarkerSuggestions& out, const std::atomic<bool>* cancel,
                              const TSuggestParams& params) {
    out = TMarkerSuggestions{};
    TWaveFrames wave;
    if (const TSuggestResult r = wave.Open(path); r != TSuggestResult::Ok) return r;
    // The true peak needs every sample at the song's own rate; it runs beside the loudness.
    TPeakThread peak;
    peak.thread = std::thread([&] { peak.result = ReadTruePeak(path, peak.stop, cancel, peak.peak); });
    TFeeder feed(wave);
    TLoudnessTrack track;
    if (const TSuggestResult r = ReadLoudness(feed, cancel, params, track); r != TSuggestResult::Ok) return r;
    peak.thread.join();
    if (peak.result != TSuggestResult::Ok) return peak.result;

    TMarkerSuggestions s;
    s.DurationSeconds = double(wave.Frames()) / wave.Rate();
    s.IntegratedLufs = track.integrated;
    s.TruePeakDbtp = peak.peak > 0.0 ? 20.0 * std::log10(peak.peak) : kNoLoudness;
    if (!std::isfinite(track.integrated)) {
        out = s;  // silence: nothing to suggest
        return TSuggestResult::Ok;
    }
    const double present = track.integrated - params.PresenceDropLU;
    const std::vector<float>& m = track.momentary;
    const double block = params.BlockSeconds;
    // How far a cue may be taken back (or on) over loud blocks beyond the momentary window.
    const double reach = 2.0;
    std::vector<std::pair<double, double>> blocks;

    // Start: the first hop from which the momentary loudness holds above the threshold; the cue
    // is the first loud block of that window, taken back over the loud blocks just before it.
    const size_t hold = size_t(std::ceil(params.StartHoldSeconds / track.hop - 1e-9));
    for (size_t k = 0; k < m.size(); ++k) {
        bool holds = true;
        for (size_t i = k; i < std::min(m.size(), k + hold + 1) && holds; ++i) holds = m[i] > present;
        if (!holds) continue;
        const double windowStart = std::max(0.0, track.End(k) - kMomentarySeconds);
        if (const TSuggestResult r =
                BlockLoudness(feed, cancel, std::max(0.0, windowStart - reach), track.End(k), block, blocks);
            r != TSuggestResult::Ok)
            return r;
        size_t j = 0;
        while (j < blocks.size() && (blocks[j].first < windowStart - 1e-9 || !(blocks[j].second > present))) ++j;
        if (j == blocks.size()) break;  // no loud block: the window's loudness came from before it
        while (j > 0 && blocks[j - 1].second > present) --j;
        s.Start = blocks[j].first;
        break;
    }
    // End: the last hop above the threshold; the cue follows the last loud block of its window
    // and the loud blocks right after it.
    for (size_t k = m.size(); k-- > 0;) {
        if (!(m[k] > present)) continue;
        const double windowStart = std::max(0.0, track.End(k) - kMomentarySeconds);
        if (const TSuggestResult r = BlockLoudness(feed, cancel, windowStart, std::min(s.DurationSeconds, track.End(k) + reach),
                                                   block, blocks);
            r != TSuggestResult::Ok)
            return r;
        size_t last = blocks.size();
        for (size_t j = 0; j < blocks.size() && blocks[j].first < track.End(k) - 1e-9; ++j)
            if (blocks[j].second > present) last = j;
        if (last == blocks.size()) break;
        while (last + 1 < blocks.size() && blocks[last + 1].second > present) ++last;
        s.End = std::min(s.DurationSeconds, blocks[last].first + block);
        break;
    }
    if (s.Start && s.End && *s.End <= *s.Start) s.End.reset();
    if (!s.End) {
        out = s;
        return TSuggestResult::Ok;
    }

    // Mix: the fade is where the short-term loudness, in the last stretch before the end, falls
    // under its mark and stays there up to the end; without such a fall the ending is cold. Each
    // short-term value stands for the middle of its 3 s window.
    const double end = *s.End;
    const double half = kShortTermSeconds / 2.0;
    const double fadeMark = track.integrated - params.FadeDropLU;
    std::optional<double> fall;
    bool loudSeen = false;
    const double from = std::max(0.0, end - params.FadeSearchSeconds - params.ShortTermHopSeconds);
    if (const TSuggestResult r = Remeasure(feed, cancel, EBUR128_MODE_S, from + half,
                                           std::min(end, s.DurationSeconds - half) + half, params.ShortTermHopSeconds,
                                           [&](double t, ebur128_state* st) {
                                               const double value = Loudness(ebur128_loudness_shortterm, st);
                                               if (value >= fadeMark) {
                                                   loudSeen = true;
                                                   fall.reset();
                                               } else if (loudSeen && !fall) {
                                                   fall = t - half;
                                               }
                                           });
        r != TSuggestResult::Ok)
        return r;
    const double earliest = s.Start.value_or(0.0);
    if (fall && *fall >= end - params.FadeSearchSeconds && *fall <= end && *fall >= earliest) {
        s.Ending = TEnding::Fade;
        s.Mix = *fall;
    } else {
        s.Ending = TEnding::Cold;
        s.Mix = std::max(earliest, end - params.ColdMixLeadSeconds);
    }
    out = s;
    return TSuggestResult::Ok;
}
