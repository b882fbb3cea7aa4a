// The suggested markers on songs made by sox with known answers.
#include "analysis/MarkerSuggest.h"

#include "support/TestUtil.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

using testutil::shellQuote;
using testutil::TempDir;

namespace {

// A music-like stereo 16-bit song of seconds, then the sox effects (no dither, so that silence
// stays digital silence; the same noise at every run).
bool makeSong(const std::string& path, double seconds, const std::string& effects) {
    const std::string len = std::to_string(seconds);
    return testutil::run("sox -R -D -n -r 44100 -c 2 -b 16 " + shellQuote(path) + " synth " + len +
                         " sine 220 sine 331 synth " + len + " sine mix 110-1760 synth " + len +
                         " pinknoise mix tremolo 3 50 gain -8 " + effects + " 2>/dev/null") == 0;
}

TMarkerSuggestions suggest(const std::string& path) {
    TMarkerSuggestions s;
    EXPECT_EQ(SuggestMarkers(path, s), TSuggestResult::Ok) << path;
    return s;
}

}  // namespace

TEST(MarkerSuggestTest, SongsWithKnownAnswersAndTheirQuietCopies) {
    TempDir dir;
    struct Case {
        const char* name;
        double seconds;
        const char* effects;
        double start, end;  // expected within 50 ms; end < 0: before the silence at -end s
        TEnding ending;
        double mixFrom, mixTo;  // where the mix point must lie
    };
    const Case cases[] = {
        // 1.2 s of silence, 10 s of music stopping dead, 2 s of silence: a cold ending.
        {"cold", 10, "pad 1.2 2", 1.2, 11.2, TEnding::Cold, 10.65, 10.75},
        // 20 s of music whose last 8 s fade out (evenly in dB), then 2 s of silence.
        {"fade", 20, "fade l 0 20 8 pad 0 2", 0.0, -20.0, TEnding::Fade, 12.0, 14.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string loud = dir.file(std::string(c.name) + ".wav");
        ASSERT_TRUE(makeSong(loud, c.seconds, c.effects));
        const TMarkerSuggestions s = suggest(loud);
        ASSERT_TRUE(s.Start && s.End && s.Mix);
        EXPECT_NEAR(*s.Start, c.start, 0.05);
        if (c.end > 0) {
            EXPECT_NEAR(*s.End, c.end, 0.05);
        } else {
            EXPECT_LT(*s.End, -c.end);
            EXPECT_GT(*s.End, c.mixTo);
        }
        EXPECT_EQ(s.Ending, c.ending);
        EXPECT_GE(*s.Mix, c.mixFrom);
        EXPECT_LE(*s.Mix, c.mixTo);
        if (c.ending == TEnding::Cold) {
            EXPECT_NEAR(*s.Mix, *s.End - 0.5, 1e-9);
        }

        // The same song at -35 LUFS gives the same answers, within what its coarser samples
        // move the fade's crossing of the threshold.
        const std::string quiet = dir.file(std::string(c.name) + "-quiet.wav");
        const double gain = -35.0 - s.IntegratedLufs;
        ASSERT_EQ(testutil::run("sox -D " + shellQuote(loud) + " " + shellQuote(quiet) + " gain " +
                                std::to_string(gain)),
                  0);
        const TMarkerSuggestions q = suggest(quiet);
        EXPECT_NEAR(q.IntegratedLufs, -35.0, 0.2);
        ASSERT_TRUE(q.Start && q.End && q.Mix);
        EXPECT_NEAR(*q.Start, *s.Start, 0.05);
        EXPECT_NEAR(*q.End, *s.End, 0.05);
        EXPECT_NEAR(*q.Mix, *s.Mix, 0.21);  // one short-term step
        EXPECT_EQ(q.Ending, s.Ending);
    }
}

TEST(MarkerSuggestTest, SilenceSuggestsNothingAndIsNoError) {
    TempDir dir;
    const std::string path = dir.file("silence.wav");
    ASSERT_EQ(testutil::run("sox -D -n -r 44100 -c 2 -b 16 " + shellQuote(path) + " trim 0 5"), 0);
    const TMarkerSuggestions s = suggest(path);
    EXPECT_FALSE(s.Start || s.End || s.Mix);
    EXPECT_EQ(s.Ending, TEnding::None);
    EXPECT_TRUE(std::isinf(s.IntegratedLufs) && s.IntegratedLufs < 0);
    EXPECT_TRUE(std::isinf(s.TruePeakDbtp) && s.TruePeakDbtp < 0);
    EXPECT_NEAR(s.DurationSeconds, 5.0, 1e-6);
}

// Our oversampled peak and our integrated loudness against the library's over every sample, on
// a sine at a quarter of the rate whose samples all fall 45 degrees off its crests (3 dB under
// its true peak), on music, 8-bit mono too, and on white noise, whose highs a measure at a
// lower rate must not lose (it may weigh them a little differently: 0.4 LU for white noise).
TEST(MarkerSuggestTest, LoudnessAndTruePeakAgreeWithTheLibrary) {
    TempDir dir;
    const std::string sine = dir.file("sine.wav"), music = dir.file("music.wav"), small = dir.file("small.wav"),
                      noise = dir.file("noise.wav"), song = dir.file("song.wav");
    ASSERT_EQ(testutil::run("sox -D -n -r 44100 -c 1 -b 16 " + shellQuote(sine) + " synth 2 sine 11025 0 12.5 gain -1"),
              0);
    ASSERT_TRUE(makeSong(music, 5, ""));
    // Long enough to be measured in parts; its loudest stretch in the middle.
    ASSERT_TRUE(makeSong(song, 30, "tremolo 0.033 90"));
    ASSERT_EQ(testutil::run("sox -D " + shellQuote(music) + " -c 1 -b 8 " + shellQuote(small)), 0);
    ASSERT_EQ(testutil::run("sox -R -D -n -r 44100 -c 2 -b 16 " + shellQuote(noise) + " synth 3 whitenoise gain -6"), 0);
    const struct {
        std::string path;
        double loudnessLU;  // how far the integrated loudness may lie from the library's
    } cases[] = {{sine, 0.5}, {music, 0.15}, {small, 0.15}, {noise, 0.5}, {song, 0.15}};
    for (const auto& [path, loudnessLU] : cases) {
        SCOPED_TRACE(path);
        // The library's figure, from the same samples.
        TempDir raw;
        const std::string pcm = raw.file("pcm.raw");
        ASSERT_EQ(testutil::run("sox " + shellQuote(path) + " -t raw -e signed -b 16 " + shellQuote(pcm)), 0);
        const std::string bytes = testutil::readFile(pcm);
        int channels = 0;
        std::string info;
        ASSERT_EQ(testutil::run("soxi -c " + shellQuote(path), &info), 0);
        channels = std::stoi(info);
        std::vector<int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        ebur128_state* st = ebur128_init(unsigned(channels), 44100, EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_I);
        ebur128_add_frames_short(st, samples.data(), samples.size() / size_t(channels));
        double integrated = 0.0;
        ebur128_loudness_global(st, &integrated);
        double reference = 0.0;
        for (int c = 0; c < channels; ++c) {
            double p = 0.0;
            ebur128_true_peak(st, unsigned(c), &p);
            reference = std::max(reference, p);
        }
        ebur128_destroy(&st);

        const TMarkerSuggestions s = suggest(path);
        EXPECT_NEAR(s.TruePeakDbtp, 20 * std::log10(reference), 0.2);
        EXPECT_NEAR(s.IntegratedLufs, integrated, loudnessLU);
        if (path == sine) {
            int peak = 0;
            for (const int16_t v : samples) peak = std::max(peak, std::abs(int(v)));
            EXPECT_NEAR(s.TruePeakDbtp - 20 * std::log10(peak / 32768.0), 3.0, 0.1);
        }
    }
}

TEST(MarkerSuggestTest, FailuresSayWhy) {
    TempDir dir;
    const std::string text = dir.file("notes.txt"), wide = dir.file("wide.wav"), song = dir.file("song.wav");
    testutil::writeFile(text, "not audio at all\n");
    ASSERT_EQ(testutil::run("sox -D -n -r 44100 -c 2 -b 24 " + shellQuote(wide) + " synth 1 sine 440"), 0);
    ASSERT_TRUE(makeSong(song, 2, ""));
    const std::atomic<bool> cancelled{true};
    struct Case {
        std::string path;
        const std::atomic<bool>* cancel;
        TSuggestResult expected;
    };
    for (const Case& c : {Case{text, nullptr, TSuggestResult::NotWave},
                          Case{dir.file("missing.wav"), nullptr, TSuggestResult::NotWave},
                          Case{wide, nullptr, TSuggestResult::Unsupported},
                          Case{song, &cancelled, TSuggestResult::Cancelled}}) {
        TMarkerSuggestions s;
        s.Start = 1.0;
        EXPECT_EQ(SuggestMarkers(c.path, s, c.cancel), c.expected) << c.path;
        EXPECT_FALSE(s.Start);  // nothing stale is left
    }
}
