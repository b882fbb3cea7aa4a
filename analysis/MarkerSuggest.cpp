#include "analysis/MarkerSuggest.h"

#include "analysis/TruePeak.h"
#include "audio/MMWaveIO.h"

#include <ebur128.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <span>
#include <thread>
#include <vector>

namespace {

constexpr double kNoLoudness = -std::numeric_limits<double>::infinity();
constexpr double kMomentarySeconds = 0.4;   // the window of the library's momentary loudness
constexpr double kShortTermSeconds = 3.0;   // and of its short-term loudness
constexpr int32_t kReadBytes = 262144;
constexpr uint32_t kMeterRate = 14000;  // the least rate the loudness is measured at

struct EburCloser {
    void operator()(ebur128_state* st) const { ebur128_destroy(&st); }
};
using EburPtr = std::unique_ptr<ebur128_state, EburCloser>;

// Samples read into buffers that a resize need not clear first.
template <class T>
struct TUnclearedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = TUnclearedAllocator<U>;
    };
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using TSamples = std::vector<int16_t, TUnclearedAllocator<int16_t>>;

// Loudness (LUFS) and the mean square it stands for, as BS.1770 relates them.
double Energy(double lufs) { return std::isfinite(lufs) ? std::pow(10.0, (lufs + 0.691) / 10.0) : 0.0; }
double LufsOf(double energy) { return energy > 0.0 ? -0.691 + 10.0 * std::log10(energy) : kNoLoudness; }

// The meter's loudness over its last ms milliseconds.
double WindowLoudness(ebur128_state* st, unsigned long ms) {
    double value = kNoLoudness;
    return ebur128_loudness_window(st, ms, &value) == EBUR128_SUCCESS ? value : kNoLoudness;
}

// The 16-bit frames of a PCM wave file, 8-bit samples widened, read 256 KB at a time.
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
        readBytes_ = kReadBytes - kReadBytes % f->nBlockAlign;
        if (f->wBitsPerSample == 8) bytes_.resize(size_t(readBytes_));
        return TSuggestResult::Ok;
    }
    uint32_t Rate() const { return record_->Format()->nSamplesPerSec; }
    int Channels() const { return record_->Format()->nChannels; }
    int64_t Frames() const { return record_->DataSamples; }
    int64_t Position() const { return position_; }

    bool Seek(int64_t frame) {
        position_ = frame;
        return WaveIOSeek(record_.get(), int32_t(frame)) == WIOERR_NOERROR;
    }

    // Up to the buffer's worth of frames, and at most limit, into samples (interleaved); 0 at the
    // end, -1 on an error.
    int64_t Read(TSamples& samples, int64_t limit) {
        const WAVEFORMATEX* f = record_->Format();
        const bool wide = f->wBitsPerSample == 16;
        if (wide) samples.resize(size_t(readBytes_) / 2);  // 16-bit samples straight from the file
        const int32_t bytes = int32_t(std::min<int64_t>(readBytes_, std::max<int64_t>(limit, 0) * f->nBlockAlign));
        if (bytes == 0) return 0;
        const int32_t got = WaveIORead(record_.get(), wide ? reinterpret_cast<uint8_t*>(samples.data()) : bytes_.data(),
                                       bytes);
        if (got <= 0) return got == 0 || record_->BytesLeft <= 0 ? 0 : -1;
        const size_t count = size_t(got) / (f->wBitsPerSample / 8);
        samples.resize(count);
        static_assert(std::endian::native == std::endian::little, "wave samples are little-endian");
        if (!wide)
            for (size_t i = 0; i < count; ++i) samples[i] = int16_t((int(bytes_[i]) - 128) * 256);
        position_ += int64_t(count) / f->nChannels;
        return int64_t(count) / f->nChannels;
    }

private:
    TWaveIORecordPtr record_;
    int32_t readBytes_ = 0;
    int64_t position_ = 0;
    std::vector<uint8_t> bytes_;
};

// The frames the library measures: the song's own, or every n-th of them, n the largest that
// keeps kMeterRate or more (a third of 44.1 or 48 kHz). Loudness is a mean square, which the
// frames kept carry whole: what lies above the new rate's half folds below it instead of being
// lost, and the figure moves only by the weighting's difference between where a sound lies and
// where it folds to: under 0.1 LU for music, 0.4 LU for white noise, the brightest sound there is.
// (An average of neighbours would filter the highs out instead: 3 LU less for white noise, over
// 10 LU for a high tone.) Only a pure tone within some 40 Hz of the measured rate itself is lost,
// folding under the weighting's low cut; songs hold none. The library's filters and sums, most
// of the analysis, take a third of the frames. The true peak is taken from the song's own frames.
class TFeeder {
public:
    TFeeder(TWaveFrames& wave) : wave_(wave), factor_(std::max(1, int(wave.Rate() / kMeterRate))) {}
    int Factor() const { return factor_; }
    uint32_t Rate() const { return wave_.Rate() / uint32_t(factor_); }
    int Channels() const { return wave_.Channels(); }
    int64_t Frames() const { return (wave_.Frames() + factor_ - 1) / factor_; }
    double Seconds(int64_t frame) const { return double(frame) / Rate(); }
    int64_t Frame(double seconds) const { return std::clamp<int64_t>(std::llround(seconds * Rate()), 0, Frames()); }
    bool Seek(int64_t frame) {
        skip_ = 0;
        return wave_.Seek(frame * factor_);
    }
    // Reads stop before the song's frame end.
    void SetEnd(int64_t end) { end_ = end; }

    // The true peak takes the frames read at the song's own rate, those before the song's frame
    // from only as the history of the next.
    void SetPeak(TTruePeak* peak, int64_t from) {
        peak_ = peak;
        peakFrom_ = from;
    }

    // The next frames read into frames (interleaved): count (0 at the end, -1 on an error).
    int64_t Next(TSamples& frames) {
        const int64_t at = wave_.Position();
        const int64_t got = wave_.Read(frames, std::min(end_, wave_.Frames()) - at);
        if (got > 0 && peak_) {
            const int64_t history = std::clamp<int64_t>(peakFrom_ - at, 0, got);
            peak_->Prime(frames.data(), size_t(history));
            peak_->Add(frames.data() + history * wave_.Channels(), size_t(got - history));
        }
        if (got <= 0 || factor_ == 1) return got;
        const size_t channels = size_t(wave_.Channels());
        size_t kept = 0;
        for (int64_t i = skip_; i < got; i += factor_, ++kept)
            for (size_t c = 0; c < channels; ++c) frames[kept * channels + c] = frames[size_t(i) * channels + c];
        skip_ = int(skip_ + int64_t(kept) * factor_ - got);  // where the next read's first kept frame is
        frames.resize(kept * channels);
        return int64_t(kept);
    }

private:
    TWaveFrames& wave_;
    int factor_;
    int skip_ = 0;  // frames of the next read before its first kept one
    int64_t end_ = std::numeric_limits<int64_t>::max();
    TTruePeak* peak_ = nullptr;
    int64_t peakFrom_ = 0;
};

bool Cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(std::memory_order_relaxed); }

// The first pass: the mean square of every block of one hop, whose sums of 4 and 30 are the
// momentary and short-term loudness, the integrated loudness and the true peak.
struct TLoudnessTrack {
    double hop = 0.1;            // seconds of one block
    std::vector<float> energy;   // block k: from k * hop to (k + 1) * hop
    double integrated = kNoLoudness;
    double truePeak = 0.0;       // linear, full scale 1
    double End(size_t k) const { return double(k + 1) * hop; }
    // The loudness of the window of the given length ending with block k; blocks before the
    // song count as silence, as in a meter started with it.
    double Window(size_t k, double seconds) const {
        const size_t blocks = size_t(std::lround(seconds / hop));
        double sum = 0.0;
        for (size_t i = k + 1 - std::min(blocks, k + 1); i <= k; ++i) sum += energy[i];
        return LufsOf(sum / double(blocks));
    }
};

// One stretch of the song, blocks [first, end) (end -1: to the song's end), measured on a thread
// of its own: the energy of each block, the true peak and the meter, whose gating blocks the
// integrated loudness of all stretches takes together. The meter starts kLeadBlocks early, so
// that its filters have settled and its first gating block is the one a single meter would take.
struct TStretch {
    static constexpr int64_t kLeadBlocks = 3;
    int64_t first = 0, end = -1;
    std::vector<float> energy;
    EburPtr meter;
    double peak = 0.0;
    TSuggestResult result = TSuggestResult::Ok;
};

void MeasureStretch(const std::string& path, const std::atomic<bool>* cancel, double hop, TStretch& out) {
    const auto fail = [&](TSuggestResult r) { out.result = r; };
    TWaveFrames wave;
    if (const TSuggestResult r = wave.Open(path); r != TSuggestResult::Ok) return fail(r);
    TFeeder feed(wave);
    const auto hopEnd = [&](int64_t k) { return int64_t(std::llround(double(k + 1) * hop * feed.Rate())); };  // meter frames
    const int64_t lead = std::max<int64_t>(0, out.first - TStretch::kLeadBlocks);
    const int64_t start = lead == 0 ? 0 : hopEnd(lead - 1);
    const int64_t stop = out.end < 0 ? feed.Frames() : hopEnd(out.end - 1);
    const auto hopMs = static_cast<unsigned long>(std::max(1L, std::lround(hop * 1000.0)));
    // The histogram keeps the integrated loudness in constant memory, however long the song.
    out.meter.reset(ebur128_init(unsigned(feed.Channels()), feed.Rate(), EBUR128_MODE_M | EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM));
    if (!out.meter) return fail(TSuggestResult::Unsupported);
    if (!feed.Seek(start)) return fail(TSuggestResult::ReadError);
    if (out.end >= 0) feed.SetEnd(stop * feed.Factor());
    // The true peak of this stretch's own frames, those of its lead as their history.
    TTruePeak peak(feed.Channels());
    feed.SetPeak(&peak, out.first == 0 ? 0 : hopEnd(out.first - 1) * feed.Factor());
    TSamples frames;
    int64_t frame = start;
    int64_t k = lead;
    const size_t channels = size_t(feed.Channels());
    for (;;) {
        if (Cancelled(cancel)) return fail(TSuggestResult::Cancelled);
        const int64_t got = feed.Next(frames);
        if (got < 0) return fail(TSuggestResult::ReadError);
        if (got == 0) break;
        const int16_t* p = frames.data();
        for (int64_t left = got; left > 0;) {
            const int64_t take = std::min(left, hopEnd(k) - frame);
            ebur128_add_frames_short(out.meter.get(), p, size_t(take));
            p += size_t(take) * channels;
            left -= take;
            frame += take;
            if (frame == hopEnd(k)) {
                if (k >= out.first) out.energy.push_back(float(Energy(WindowLoudness(out.meter.get(), hopMs))));
                ++k;
            }
        }
    }
    if (frame < stop) return fail(TSuggestResult::ReadError);
    if (out.end < 0) peak.Finish();  // the song ends in silence
    out.peak = peak.Peak();
}

// The first pass over the whole song: a stretch of it on each of two threads, the second half
// on this one.
TSuggestResult ReadLoudness(const std::string& path, double seconds, const std::atomic<bool>* cancel,
                            const TSuggestParams& params, TLoudnessTrack& track) {
    track.hop = params.HopSeconds;
    const int64_t blocks = int64_t(seconds / track.hop);
    // Short songs take one stretch: a thread costs more than it saves.
    const int64_t half = seconds >= 20.0 ? blocks / 2 : 0;
    std::array<TStretch, 2> stretches;
    stretches[0].end = half;
    stretches[1].first = half;
    std::thread first;
    if (half > 0) first = std::thread([&] { MeasureStretch(path, cancel, track.hop, stretches[0]); });
    MeasureStretch(path, cancel, track.hop, stretches[1]);
    if (first.joinable()) first.join();
    std::vector<ebur128_state*> meters;
    for (TStretch& t : std::span(stretches).subspan(half > 0 ? 0 : 1)) {
        if (t.result != TSuggestResult::Ok) return t.result;
        track.energy.insert(track.energy.end(), t.energy.begin(), t.energy.end());
        track.truePeak = std::max(track.truePeak, t.peak);
        meters.push_back(t.meter.get());
    }
    double integrated = kNoLoudness;
    if (ebur128_loudness_global_multiple(meters.data(), meters.size(), &integrated) != EBUR128_SUCCESS)
        integrated = kNoLoudness;
    track.integrated = integrated;
    return TSuggestResult::Ok;
}

// The loudness of each block of the given length from `from` to `to` seconds, read again into a
// fresh meter started a little before `from` so that its filters have settled: pairs of (block
// start, loudness).
TSuggestResult BlockLoudness(TFeeder& feed, const std::atomic<bool>* cancel, double from, double to, double block,
                             std::vector<std::pair<double, double>>& out) {
    out.clear();
    const auto ms = static_cast<unsigned long>(std::max(1L, std::lround(block * 1000.0)));
    EburPtr st(ebur128_init(unsigned(feed.Channels()), feed.Rate(), EBUR128_MODE_M));
    int64_t tick = std::max<int64_t>(1, int64_t(std::ceil(from / block - 1e-9)) + 1);  // block ends
    int64_t frame = feed.Frame(std::max(0.0, from + block - 0.1 - kMomentarySeconds));
    if (!st || !feed.Seek(frame)) return TSuggestResult::ReadError;
    int64_t target = feed.Frame(double(tick) * block);
    TSamples frames;
    while (double(tick) * block <= to + 1e-9) {
        if (Cancelled(cancel)) return TSuggestResult::Cancelled;
        const int64_t got = feed.Next(frames);
        if (got < 0) return TSuggestResult::ReadError;
        if (got == 0) break;
        const int16_t* p = frames.data();
        for (int64_t left = got; left > 0 && double(tick) * block <= to + 1e-9;) {
            const int64_t take = std::min(left, std::max<int64_t>(0, target - frame));
            ebur128_add_frames_short(st.get(), p, size_t(take));
            p += take * feed.Channels();
            left -= take;
            frame += take;
            if (frame >= target) {
                out.emplace_back(double(tick - 1) * block, WindowLoudness(st.get(), ms));
                target = feed.Frame(double(++tick) * block);
            }
        }
    }
    return TSuggestResult::Ok;
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

TSuggestResult SuggestMarkers(const std::string& path, TMarkerSuggestions& out, const std::atomic<bool>* cancel,
                              const TSuggestParams& params) {
    out = TMarkerSuggestions{};
    TWaveFrames wave;
    if (const TSuggestResult r = wave.Open(path); r != TSuggestResult::Ok) return r;
    TFeeder feed(wave);
    TLoudnessTrack track;
    TMarkerSuggestions s;
    s.DurationSeconds = double(wave.Frames()) / wave.Rate();
    if (const TSuggestResult r = ReadLoudness(path, s.DurationSeconds, cancel, params, track); r != TSuggestResult::Ok)
        return r;

    s.IntegratedLufs = track.integrated;
    s.TruePeakDbtp = track.truePeak > 0.0 ? 20.0 * std::log10(track.truePeak) : kNoLoudness;
    if (!std::isfinite(track.integrated)) {
        out = s;  // silence: nothing to suggest
        return TSuggestResult::Ok;
    }
    const double present = track.integrated - params.PresenceDropLU;
    std::vector<float> m(track.energy.size());  // the momentary loudness at the end of each block
    for (size_t k = 0; k < m.size(); ++k) m[k] = float(track.Window(k, kMomentarySeconds));
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
    const double from = std::max(0.0, end - params.FadeSearchSeconds - track.hop) + half;
    const double to = std::min(end, s.DurationSeconds - half) + half;
    for (size_t k = 0; k < track.energy.size() && track.End(k) <= to + 1e-9; ++k) {
        if (track.End(k) < from - 1e-9) continue;
        if (track.Window(k, kShortTermSeconds) >= fadeMark) {
            loudSeen = true;
            fall.reset();
        } else if (loudSeen && !fall) {
            fall = track.End(k) - half;
        }
    }
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
