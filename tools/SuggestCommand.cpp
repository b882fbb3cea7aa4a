// tessivo-tool suggest: the markers the editor suggests for a song (start, end, mix point) and
// its loudness figures, from the same analysis of the same PCM the editor reads.
#include "tools/ToolCommand.h"

#include "analysis/MarkerSuggest.h"
#include "audio/MMUtils.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

namespace {

// A number with a fixed count of decimals and a full stop, whatever the locale (the import
// brings up Qt, which takes the user's locale).
std::string Fixed(double value, int decimals) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return std::string(buf, r.ptr);
}

std::string JsonNumber(std::optional<double> value, int decimals) {
    return value && std::isfinite(*value) ? Fixed(*value, decimals) : "null";
}

std::string TimeText(std::optional<double> seconds) {
    if (!seconds) return "none";
    return FormatTimeMs(std::llround(*seconds * 1000.0)) + " (" + Fixed(*seconds, 3) + " s)";
}

std::string LevelText(double value, const char* unit) {
    return std::isfinite(value) ? Fixed(value, 1) + " " + unit : "none (silence)";
}

// A private folder for the wave of an MP3, removed on every exit.
struct ScratchFolder {
    std::filesystem::path path;
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessivo-suggest-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
};

int RunSuggest(const std::vector<std::string>& args) {
    ToolArgs a;
    if (const std::string err = ParseToolArgs(args, {"--json"}, {}, a); !err.empty()) {
        ToolError("suggest: " + err);
        return ExitUsage;
    }
    if (a.help) {
        PrintUsage("suggest");
        return ExitOk;
    }
    if (a.positional.size() != 1) {
        ToolError(a.positional.empty() ? "suggest: no file given (try --help)"
                                       : "suggest: one file expected, got " + std::to_string(a.positional.size()));
        return ExitUsage;
    }
    const std::string file = a.positional[0];
    if (const std::string problem = InputFileProblem(file); !problem.empty()) {
        ToolError(problem);
        return ExitFailure;
    }

    // A PCM wave is read as it is; anything else goes through the editor's import first, as
    // the editor analyses its Temp.wav.
    TMarkerSuggestions s;
    TSuggestResult result = SuggestMarkers(file, s);
    if (result == TSuggestResult::NotWave || result == TSuggestResult::Unsupported) {
        ScratchFolder scratch;
        if (scratch.path.empty()) {
            ToolError("suggest: no scratch folder for the import");
            return ExitFailure;
        }
        const std::string wave = (scratch.path / "import.wav").string();
        if (const std::string failure = ImportAudioFile(file, wave); !failure.empty()) {
            ToolError(failure);
            return ExitFailure;
        }
        result = SuggestMarkers(wave, s);
    }
    if (result != TSuggestResult::Ok) {
        ToolError(file + ": " + SuggestResultText(result));
        return ExitFailure;
    }

    const char* ending = s.Ending == TEnding::None ? nullptr : EndingName(s.Ending);
    if (a.flags.count("--json")) {
        std::cout << "{\n  \"start\": " << JsonNumber(s.Start, 3) << ",\n  \"end\": " << JsonNumber(s.End, 3)
                  << ",\n  \"mix\": " << JsonNumber(s.Mix, 3)
                  << ",\n  \"ending\": " << (ending ? JsonString(ending) : "null")
                  << ",\n  \"integrated_lufs\": " << JsonNumber(s.IntegratedLufs, 2)
                  << ",\n  \"true_peak_dbtp\": " << JsonNumber(s.TruePeakDbtp, 2) << "\n}\n";
    } else {
        std::cout << "start: " << TimeText(s.Start) << "\nend: " << TimeText(s.End) << "\nmix: " << TimeText(s.Mix)
                  << "\nending: " << (ending ? ending : "none")
                  << "\nintegrated: " << LevelText(s.IntegratedLufs, "LUFS")
                  << "\ntrue peak: " << LevelText(s.TruePeakDbtp, "dBTP") << "\n";
    }
    return ExitOk;
}

const bool registered = RegisterToolCommand(
    {"suggest", "suggest [--json] FILE",
     "Prints the markers the editor suggests for an MP3 or wave file: start, end and mix point\n"
     "(from the loudness of the song, relative to its integrated loudness), whether it ends in a\n"
     "fade or cold, its integrated loudness and true peak. With --json one object with the keys\n"
     "start, end, mix (seconds or null), ending (\"fade\", \"cold\" or null), integrated_lufs and\n"
     "true_peak_dbtp (null for silence). Nothing suggested is no failure (exit 0).",
     RunSuggest});

}  // namespace
