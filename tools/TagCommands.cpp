// tessivo-tool info, tag and write: the file-information record, the ID3v2 tag, and the editor's save.
#include "tools/ToolCommand.h"

#include "tags/ID3v2.h"
#include "tags/MPEGaudio.h"
#include "tags/MarkerOrder.h"
#include "tags/U_Funcoes.h"

#include <cmath>

#include <filesystem>
#include <iostream>
#include <map>

namespace {

const char* const SSaveFailed =
    "Não possível efetuar as marcações. O áudio pode estar sendo utilizado por outro processo.";

// Name/value pairs printed as "Name: value" lines or as one JSON object. Values that are not texts
// (booleans, numbers) are given as JSON literals with `literal` set.
struct Field {
    std::string name, value;
    bool literal = false;
};

void PrintFields(const std::vector<Field>& fields, bool json) {
    if (!json) {
        for (const Field& f : fields) std::cout << f.name << ": " << OneLine(f.value) << "\n";
        return;
    }
    std::cout << "{";
    for (size_t i = 0; i < fields.size(); ++i) {
        const Field& f = fields[i];
        std::cout << (i ? ",\n  " : "\n  ") << JsonString(f.name) << ": " << (f.literal ? f.value : JsonString(f.value));
    }
    std::cout << "\n}\n";
}

// The one FILE of a command, checked to exist; prints the reason and returns false otherwise.
bool OneFile(const std::string& command, const ToolArgs& a, std::string& file, int& exitCode) {
    if (a.positional.size() != 1) {
        ToolError(a.positional.empty() ? command + ": no file given (try --help)"
                                       : command + ": one file expected, got " + std::to_string(a.positional.size()));
        exitCode = ExitUsage;
        return false;
    }
    file = a.positional[0];
    if (const std::string problem = InputFileProblem(file); !problem.empty()) {
        ToolError(problem);
        exitCode = ExitFailure;
        return false;
    }
    return true;
}

std::string UpperExtension(const std::string& file) {
    std::string ext = std::filesystem::path(file).extension().string();
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return ext;
}

int Info(const std::vector<std::string>& args) {
    ToolArgs a;
    if (const std::string err = ParseToolArgs(args, {"--json"}, {}, a); !err.empty()) {
        ToolError("info: " + err);
        return ExitUsage;
    }
    if (a.help) {
        PrintUsage("info");
        return ExitOk;
    }
    std::string file;
    int rc = ExitOk;
    if (!OneFile("info", a, file, rc)) return rc;

    OpenAudioInfo("MP3");
    ReadAudioInfo(file);
    std::vector<Field> fields;
    for (const TagField& f : TagFields) fields.push_back({f.name, FileInfo.*f.member});
    FreeAudioInfo(UpperExtension(file));
    FreeAudioInfo("MP3");
    PrintFields(fields, a.flags.count("--json") > 0);
    return ExitOk;
}

int TagInfo(const std::vector<std::string>& args) {
    ToolArgs a;
    if (const std::string err = ParseToolArgs(args, {"--json"}, {}, a); !err.empty()) {
        ToolError("tag: " + err);
        return ExitUsage;
    }
    if (a.help) {
        PrintUsage("tag");
        return ExitOk;
    }
    std::string file;
    int rc = ExitOk;
    if (!OneFile("tag", a, file, rc)) return rc;

    TID3v2 t;
    if (!t.ReadFromFile(file)) {
        ToolError("cannot read the tag of " + file);
        return ExitFailure;
    }
    const bool json = a.flags.count("--json") > 0;
    std::vector<Field> fields = {
        {"TagFound", t.TagFound() ? "true" : "false", true},
        {"TagVersion", std::to_string(t.TagVersion()), true},
        {"TagTotalSize", std::to_string(t.TagTotalSize()), true},
        {"Title", t.Title()},
        {"Artist", t.Artist()},
        {"Album", t.Album()},
        {"TrackNumber", std::to_string(t.TrackNumber()), true},
        {"Year", t.Year()},
        {"Genre", t.Genre()},
        {"Comment", t.Comment()},
        {"Composer", t.Composer()},
        {"Encoder", t.Encoder()},
        {"RightsNotice", t.RightsNotice()},
        {"Language", t.Language()},
        {"Link", t.Link()},
        {"FrameTRIT", t.FrameTRIT()},
        {"IntroMark", t.IntroMark()},
        {"FrameTEXT", t.FrameTEXT()},
        {"FrameTEST", t.FrameTEST()},
        {"FrameTIDM", t.FrameTIDM()},
        {"StampMark", t.StampMark()},
        {"StampFile", t.StampFile()},
        {"StartMark", t.StartMark()},
        {"EndMark", t.EndMark()},
        {"ChorusStartMark", t.ChorusStartMark()},
        {"ChorusEndMark", t.ChorusEndMark()},
        {"FrameTCAD", t.FrameTCAD()},
        {"FrameTSUC", t.FrameTSUC()},
        {"FrameTGRA", t.FrameTGRA()},
        {"FrameTVOC", t.FrameTVOC()},
        {"FrameTTPE", t.FrameTTPE()},
        {"FrameTPIN", t.FrameTPIN()},
        {"FrameTPFI", t.FrameTPFI()},
        {"MixMark", t.MixMark()},
        {"Rating", std::to_string(t.Rating()), true},
    };
    PrintFields(fields, json);
    return ExitOk;
}

// The markers of the editor: option, WriteMarkers argument (20 to 28) and the record fields a
// --clear of it empties.
struct MarkerOption {
    const char* option;
    const char* clearName;
    std::vector<std::string Tag::*> fields;
};

const std::vector<MarkerOption>& MarkerOptions() {
    static const std::vector<MarkerOption> options = {
        {"--comment", "comment", {&Tag::Comment}},
        {"--intro", "intro", {&Tag::IntroMark}},
        {"--stamp-time", "stamp", {&Tag::StampMark, &Tag::StampFile}},
        {"--stamp-file", nullptr, {}},
        {"--start", "start", {&Tag::StartMark}},
        {"--end", "end", {&Tag::EndMark}},
        {"--chorus-start", "chorus-start", {&Tag::ChorusStartMark}},
        {"--chorus-end", "chorus-end", {&Tag::ChorusEndMark}},
        {"--mix", "mix", {&Tag::MixMark}},
    };
    return options;
}

int Write(const std::vector<std::string>& args) {
    std::set<std::string> valued = {"--clear"};
    for (const MarkerOption& m : MarkerOptions()) valued.insert(m.option);
    ToolArgs a;
    if (const std::string err = ParseToolArgs(args, {"--check"}, valued, a); !err.empty()) {
        ToolError("write: " + err);
        return ExitUsage;
    }
    if (a.help) {
        PrintUsage("write");
        return ExitOk;
    }
    std::map<std::string, std::string> value;  // option -> text, the last one given wins
    std::vector<const MarkerOption*> cleared;
    for (const auto& [name, text] : a.values) {
        if (name != "--clear") {
            value[name] = text;
            continue;
        }
        const MarkerOption* found = nullptr;
        for (const MarkerOption& m : MarkerOptions())
            if (m.clearName && text == m.clearName) found = &m;
        if (!found) {
            ToolError("write: unknown marker for --clear: " + text +
                      " (comment, intro, stamp, start, end, chorus-start, chorus-end or mix)");
            return ExitUsage;
        }
        cleared.push_back(found);
    }
    std::string file;
    int rc = ExitOk;
    if (!OneFile("write", a, file, rc)) return rc;

    // Exactly the editor's save: read the file, empty the cleared markers' fields, write.
    OpenAudioInfo("MP3");
    ReadAudioInfo(file);
    for (const MarkerOption* m : cleared)
        for (auto field : m->fields) FileInfo.*field = "";
    auto arg = [&](const char* option) {
        const auto it = value.find(option);
        return it == value.end() ? std::string() : it->second;
    };
    if (a.flags.count("--check")) {
        const TMarkerTexts given{arg("--start"), arg("--intro"), arg("--chorus-start"), arg("--chorus-end"),
                                 arg("--mix"), arg("--end"), arg("--stamp-time")};
        const int64_t audioMs = MpegInfo && MpegInfo->Valid() ? std::llround(MpegInfo->Duration() * 1000) : -1;
        const std::vector<std::string> problems = MarkerOrderProblems(MarkersToWrite(given, FileInfo), audioMs);
        if (!problems.empty()) {
            FreeAudioInfo("MP3");
            for (const std::string& p : problems) std::cout << OneLine(p) << "\n";
            return ExitCheck;
        }
    }
    const std::string e;
    bool ok = false;
    try {
        ok = WriteMarkers(file, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, arg("--comment"), arg("--intro"),
                          arg("--stamp-time"), arg("--stamp-file"), arg("--start"), arg("--end"),
                          arg("--chorus-start"), arg("--chorus-end"), arg("--mix"));
    } catch (const EConvertError& err) {
        FreeAudioInfo("MP3");
        ToolError(err.what());
        return ExitFailure;
    }
    // What an older tag held that a version 2.3 tag cannot is named, so that nobody wonders.
    std::string dropped;
    if (ok && Id3v2Info)
        for (const std::string& id : Id3v2Info->DroppedFrames()) dropped += (dropped.empty() ? "" : ", ") + OneLine(id);
    FreeAudioInfo(UpperExtension(file));
    FreeAudioInfo("MP3");
    if (!ok) {
        std::cerr << SSaveFailed << "\n";
        return ExitFailure;
    }
    if (!dropped.empty()) ToolError(file + ": frames without a version 2.3 form were dropped: " + dropped);
    return ExitOk;
}

const bool registered =
    RegisterToolCommand({"info", "info [--json] FILE",
                         "the file information the editor reads (stream, tag and markers), one\n"
                         "  \"Name: value\" line per field, or one JSON object of texts with --json.",
                         Info}) &&
    RegisterToolCommand({"tag", "tag [--json] FILE",
                         "the ID3v2 tag of the file as the editor reads it (versions 2.2 to 2.4),\n"
                         "  one \"Name: value\" line per property, or one JSON object with --json.",
                         TagInfo}) &&
    RegisterToolCommand(
        {"write",
         "write FILE [--comment TEXT] [--intro T] [--stamp-time T] [--stamp-file F] [--start T] [--end T]\n"
         "                    [--chorus-start T] [--chorus-end T] [--mix T] [--clear NAME]... [--check]",
         "writes the markers into the file's ID3v2 tag exactly as the editor's save does; every\n"
         "  marker not given keeps the value read from the file. T is a marker time text such as\n"
         "  1:23.456, F the stamp jingle's folder and file. --clear NAME removes a marker (comment,\n"
         "  intro, stamp, start, end, chorus-start, chorus-end or mix; stamp removes both stamp\n"
         "  frames) unless the same command gives it a new value. Options may be repeated. --check first\n"
         "  checks the markers that would be written (start <= intro <= chorus start < chorus end <= mix\n"
         "  <= end, the stamp between start and end, nothing past the end of the audio, every text a\n"
         "  time) and, when any is wrong, prints one line per problem and exits 3 without writing.",
         Write});

}  // namespace
