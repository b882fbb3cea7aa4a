// tessivo-tool import: the import chain of the editor (audio file reader, trigger pump, wave
// file) without the dialog, writing the PCM wave the editor would show.
#include "tools/ToolCommand.h"

#include "audio/MMUtils.h"
#include "audio/MMWave.h"
#include "audio/MMWaveIO.h"
#include "import/MMAudio.h"
#include "import/MMTrigg.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace {

constexpr int32_t kImportBufferSize = 32768;
constexpr int kBarWidth = 40;

// A progress bar on one terminal line, redrawn only when the percentage changes.
class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}
    void Show(int percent) {
        if (!enabled_) return;
        percent = std::max(0, std::min(percent, 100));
        if (last_.exchange(percent) == percent) return;
        const int filled = percent * kBarWidth / 100;
        std::string line = "\r[" + std::string(size_t(filled), '#') + std::string(size_t(kBarWidth - filled), ' ') + "] ";
        std::fprintf(stdout, "%s%3d%%", line.c_str(), percent);
        std::fflush(stdout);
    }
    void Clear() {
        if (!enabled_ || last_ < 0) return;
        std::fprintf(stdout, "\r%*s\r", kBarWidth + 8, "");
        std::fflush(stdout);
    }

private:
    bool enabled_;
    std::atomic<int> last_{-1};
};

std::string FormatText(const WAVEFORMATEX* f) {
    if (!f) return "no format";
    const std::string kind = f->wFormatTag == WAVE_FORMAT_PCM ? "PCM" : "format " + std::to_string(f->wFormatTag);
    return kind + " " + std::to_string(f->wBitsPerSample) + " bits, " + std::to_string(f->nChannels) +
           (f->nChannels == 1 ? " channel, " : " channels, ") + std::to_string(f->nSamplesPerSec) + " Hz";
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec);
}

int RunImport(const std::vector<std::string>& args) {
    ToolArgs parsed;
    const std::string error = ParseToolArgs(args, {"--quiet"}, {}, parsed);
    if (parsed.help) {
        PrintUsage("import");
        return ExitOk;
    }
    if (!error.empty() || parsed.positional.size() != 2) {
        ToolError(error.empty() ? "import needs FILE and OUT.wav (try --help)" : error);
        return ExitUsage;
    }
    const std::string input = parsed.positional[0];
    const std::string output = parsed.positional[1];
    if (const std::string problem = InputFileProblem(input); !problem.empty()) {
        ToolError(problem);
        return ExitFailure;
    }
    if (SameFile(input, output)) {
        ToolError(output + ": the output would overwrite the input");
        return ExitFailure;
    }

    ProgressBar bar(!parsed.flags.count("--quiet") && isatty(STDOUT_FILENO));
    const std::string failure = ImportAudioFile(input, output, [&bar](int percent) { bar.Show(percent); });
    bar.Clear();
    if (!failure.empty()) {
        ToolError(failure);
        return ExitFailure;
    }

    TWaveIORecordPtr record;
    if (WaveIOOpen(output, WAVE_FORMTYPE, WIOF_DISKFILE, record) != WIOERR_NOERROR) {
        ToolError(output + ": the written file cannot be read back");
        return ExitFailure;
    }
    const WAVEFORMATEX* f = record->Format();
    const int64_t ms = f->nAvgBytesPerSec ? int64_t(record->DataBytes) * 1000 / f->nAvgBytesPerSec : 0;
    std::printf("%s: %s, %s (%u bytes of data)\n", output.c_str(), FormatText(f).c_str(), FormatTimeMs(ms).c_str(),
                record->DataBytes);
    return ExitOk;
}

const bool registered = RegisterToolCommand(
    {"import", "import [--quiet] FILE OUT.wav",
     "Converts an MP3 or wave file into the 8/16-bit PCM wave the editor shows (as its import writes\n"
     "Temp.wav), with a progress bar on a terminal unless --quiet, then prints the written format and\n"
     "length.",
     RunImport});

}  // namespace

std::string ImportAudioFile(const std::string& input, const std::string& output,
                            const std::function<void(int)>& progress) {
    // The trigger hands its stop to the main thread's event loop.
    static int argc = 1;
    static char name[] = "tessivo-tool";
    static char* argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, argv);

    QEventLoop loop;
    bool writeError = false;
    std::error_code ec;

    auto audio = std::make_unique<TMMAudioFile>();
    auto trigger = std::make_unique<TMMTrigger>();
    auto wave = std::make_unique<TMMWaveFile>();
    try {
        audio->SetMpegTrailingHeader(0);
        audio->SetFileName(input);
    } catch (const std::exception& e) {
        return input + ": " + OneLine(e.what());
    }
    // OUT.wav is replaced whatever it held before.
    std::filesystem::remove(output, ec);
    wave->Wave()->SetFileMustExist(false);
    wave->Wave()->SetFileName(output);
    audio->SetOutput(trigger.get());
    trigger->SetOutput(wave.get());
    trigger->SetBufferSize(kImportBufferSize);

    const int64_t length = audio->Length();
    TMMAudioFile* reader = audio.get();
    trigger->OnBufferReady = [&progress, reader, length](TMMComponent*, PMMWaveHdr) {
        if (progress && length > 0) progress(int(std::lrint(double(int64_t(reader->Position()) * 100) / double(length))));
    };
    TMMTrigger* pump = trigger.get();
    wave->OnWriteError = [&writeError, pump](TMMComponent*) {
        writeError = true;
        if (pump->IsTriggerStarted()) pump->Stop();
    };
    trigger->OnStop = [&loop](TMMComponent*) { loop.quit(); };

    try {
        trigger->Start();
    } catch (const std::exception& e) {
        return input + ": " + OneLine(e.what());
    }
    loop.exec();
    trigger->Close();  // finishes OUT.wav

    std::string failure;
    if (trigger->WorkerFailed()) failure = input + ": " + OneLine(trigger->WorkerError());
    else if (writeError || wave->WriteFailed()) failure = output + ": could not be written completely (disk full or write error)";
    trigger.reset();
    wave.reset();
    if (!failure.empty()) std::filesystem::remove(output, ec);
    return failure;
}
