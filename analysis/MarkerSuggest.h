// Suggested markers from the loudness of a song: the start, the end and the mix point, with the
// kind of ending, the integrated loudness and the true peak. Window-free: it reads a 16-bit (or
// 8-bit) PCM wave file and returns data; the window draws it as ghosts, tessivo-tool prints it.
//
// Loudness (momentary, short-term, integrated) comes from libebur128; every threshold is relative
// to the integrated loudness, so a quiet copy of a song gets the same answers as a loud one.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

// Every value the rules use, in one place.
struct TSuggestParams {
    // Start and end: audio counts as present above the integrated loudness minus this. 40 LU
    // keeps soft intros and reverb tails (about 20 to 30 LU down) while leaving out noise floors,
    // hiss and dither, which lie 50 LU and more below a mastered song.
    double PresenceDropLU = 40.0;
    // Start: the momentary loudness must stay above the threshold this long, so that a click, a
    // count-in tick or a breath before the song does not become its start.
    double StartHoldSeconds = 0.5;
    // Mix: a fade is where the short-term loudness falls this far under the integrated loudness
    // for good. 8 LU is past the dips of verses and breaks (rarely more than 6 LU under the
    // integrated loudness over 3 s) and early enough that the next song covers the rest.
    double FadeDropLU = 8.0;
    // Mix: the fade is looked for in this last stretch before the end only; an earlier drop is
    // a quiet outro, not a fade.
    double FadeSearchSeconds = 30.0;
    // Mix of a cold ending: this long before the end, the time a playout needs to bring the next
    // song up without a gap.
    double ColdMixLeadSeconds = 0.5;
    // Momentary and short-term loudness are taken every this many seconds (the 10 Hz of
    // loudness meters); it divides their windows (0.4 s and 3 s) into whole blocks.
    double HopSeconds = 0.1;
    // Start and end are placed to this resolution: the loudness of blocks this long.
    double BlockSeconds = 0.01;
};

enum class TEnding : uint8_t { None, Fade, Cold };

// "fade", "cold", or "" for None.
const char* EndingName(TEnding ending);

struct TMarkerSuggestions {
    // Seconds from the start of the audio; empty when nothing is suggested.
    std::optional<double> Start, End, Mix;
    TEnding Ending = TEnding::None;
    // -infinity for silence (nothing above the absolute gate, or no samples).
    double IntegratedLufs = 0.0;
    double TruePeakDbtp = 0.0;
    double DurationSeconds = 0.0;
};

enum class TSuggestResult : uint8_t {
    Ok,
    NotWave,      // not a RIFF wave file, or it cannot be opened
    Unsupported,  // a wave that is not 8- or 16-bit PCM of one or two channels
    ReadError,    // the data could not be read to its end
    Cancelled,    // cancel was set while reading
};

// Analyses the PCM wave file at path (its name as bytes). Reads the whole data once and a few
// seconds around the start and the end again; cancel, when given, is checked between reads.
// On Ok out holds the suggestions (possibly none: a silent file is Ok); otherwise out is reset.
TSuggestResult SuggestMarkers(const std::string& path, TMarkerSuggestions& out,
                              const std::atomic<bool>* cancel = nullptr, const TSuggestParams& params = {});

// A one-line English reason for a result other than Ok.
const char* SuggestResultText(TSuggestResult result);
