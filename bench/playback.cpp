// Playback bench: the wave output on the system's default device (a sound server's null sink
// whose monitor bench/playback.sh records into RECORDING), and on the virtual device.
//   bench_playback FILE.wav RECORDING.raw LONG.wav
// FILE.wav: 16-bit stereo noise at 44100 Hz, at least 40 s. LONG.wav: a 60-minute wave.
// Prints "name value" lines:
//   latency_ms        Play to the first selection sample in the recording (median of 5)
//   paplay_latency_ms the same for paplay started on the same bytes (reference)
//   early_sound_ms    the most sound heard before the selection's first sample (other audio)
//   cursor_mean_ms, cursor_max_ms  the output's position against the selection frame the
//                     sink had reached (found by content: what the recording held last),
//                     every 50 ms over a 30 s selection (positive: the position is ahead)
//   dropout_ms        silence the sink inserted inside those 30 s (the stream ran dry)
//   cpu_percent       process CPU time over wall time while those 30 s play
//   rss_first_mb, rss_max_mb, rss_last_mb  resident memory while LONG.wav plays through on
//                     the virtual device at 100 times real time
// Links: tessivo_waveout tessivo_audio
#include "audio/MMWavOut.h"
#include "audio/MMWave.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kBytesPerSecond = 44100.0 * 4;

int64_t fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

std::string readAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Runs the event loop as the window does (idle between events) until the condition holds,
// looked at every 5 ms, or maxMs have passed.
void pump(const std::function<bool()>& until, int maxMs) {
    if (until()) return;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (until()) loop.quit();
    });
    check.start(5);
    QTimer::singleShot(maxMs, &loop, &QEventLoop::quit);
    loop.exec();
}

// First 4-aligned offset at or after from of a frame that is not silence.
int64_t firstSound(const std::string& recording, int64_t from) {
    for (size_t at = size_t(std::max<int64_t>(from, 0)); at + 4 <= recording.size(); at += 4)
        if (recording.compare(at, 4, std::string(4, '\0')) != 0) return int64_t(at);
    return -1;
}

// First 4-aligned offset at or after from where the bytes of frames begin.
int64_t find(const std::string& recording, const std::string& frames, int64_t from) {
    const std::string head = frames.substr(0, 256);
    for (size_t at = recording.find(head, size_t(std::max<int64_t>(from, 0))); at != std::string::npos;
         at = recording.find(head, at + 1))
        if (at % 4 == 0) return int64_t(at);
    return -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

double rssMb() {
    std::ifstream f("/proc/self/statm");
    long pages = 0, resident = 0;
    f >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Player {
    TMMWaveFile file;
    TMMWaveOut out;
    bool stopped = false;
    Player() {
        out.SetInput(&file);
        out.SetBufferSize(4096);
        out.SetNumBuffers(50);
        out.SetTimeFormat(tfSample);
        // As the window's stop handler: the next play opens the file afresh, so its range
        // is not clamped against the previous one.
        out.OnStop = [this](TMMComponent*) {
            stopped = true;
            out.Close();
            file.Wave()->Clear();
        };
    }
    void play(const std::string& path, int32_t start, int32_t end) {
        stopped = false;
        file.Wave()->SetFileName(path);
        file.Wave()->SetStartPosition(start);
        file.Wave()->SetEndPosition(end);
        file.Wave()->SetPosition(0);
        out.Start();
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_playback FILE.wav RECORDING.raw LONG.wav\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    const std::string wav = argv[1], rec = argv[2], longWav = argv[3];
    const std::string data = readAll(wav).substr(44);

    {
        Player p;
        if (p.out.NumDevs() == 0) {
            std::fprintf(stderr, "no output device\n");
            return 1;
        }
        // --- Play to the first sample at the sink ---------------------------------------
        std::vector<double> ours, theirs, early;
        for (int i = 0; i < 5; ++i) {
            const int32_t start = 44100 * (2 + i);
            pump([] { return false; }, 400);
            const int64_t before = fileSize(rec);
            p.play(wav, start, start + 22050);
            pump([&] { return p.stopped; }, 3000);
            pump([] { return false; }, 300);
            const std::string recording = readAll(rec);
            const int64_t at = find(recording, data.substr(size_t(start) * 4, 4096), before);
            if (at < 0) continue;
            ours.push_back(double(at - before) / kBytesPerSecond * 1000.0);
            early.push_back(double(at - firstSound(recording, before)) / kBytesPerSecond * 1000.0);
        }
        // paplay on the same bytes, started the same way (a new process: its start counts).
        const std::string piece = rec + ".piece.wav";
        for (int i = 0; i < 5; ++i) {
            const int32_t start = 44100 * (10 + i);
            {
                std::ofstream f(piece, std::ios::binary);
                f.write(readAll(wav).data(), 44);
                f.write(data.data() + size_t(start) * 4, 88200);
            }
            pump([] { return false; }, 400);
            const int64_t before = fileSize(rec);
            pid_t pid = 0;
            const char* args[] = {"paplay", piece.c_str(), nullptr};
            if (posix_spawnp(&pid, "paplay", nullptr, nullptr, const_cast<char**>(args), environ) != 0) break;
            int status = 0;
            waitpid(pid, &status, 0);
            pump([] { return false; }, 300);
            const int64_t at = find(readAll(rec), data.substr(size_t(start) * 4, 4096), before);
            if (at >= 0) theirs.push_back(double(at - before) / kBytesPerSecond * 1000.0);
        }
        std::printf("latency_ms %.1f\n", median(ours));
        std::printf("paplay_latency_ms %.1f\n", median(theirs));
        std::printf("early_sound_ms %.1f\n", early.empty() ? -1 : *std::max_element(early.begin(), early.end()));

        // --- The cursor against the sink over 30 s, and the CPU it costs ------------------
        struct Sample {
            int64_t position, recorded;
        };
        std::vector<Sample> samples;
        const int32_t start = 44100 * 5;
        const int64_t before = fileSize(rec);
        const double cpu0 = cpuSeconds();
        const auto t0 = Clock::now();
        p.play(wav, start, start + 44100 * 30);
        while (!p.stopped) {
            pump([] { return false; }, 50);
            if (!p.stopped) samples.push_back({p.out.Position(), fileSize(rec)});
        }
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = cpuSeconds() - cpu0;
        pump([] { return false; }, 300);
        const std::string recording = readAll(rec);
        const std::string selection = data.substr(size_t(start) * 4, size_t(44100) * 30 * 4);
        const int64_t first = find(recording, selection.substr(0, 4096), before);
        const int64_t last = find(recording, selection.substr(selection.size() - 4096), first);
        double sum = 0, worst = 0;
        int n = 0;
        for (const Sample& s : samples) {
            // The frame of the selection the sink had played when the sample was taken: where
            // the last recorded bytes stand in it, looked for within 2 s of the bytes' count
            // (silence the sink inserted makes the two differ).
            const int64_t end = s.recorded - s.recorded % 4;
            if (first < 0 || end - first < 1024 || s.position <= 0) continue;  // not started yet
            const std::string tail = recording.substr(size_t(end - 1024), 1024);
            if (tail.find_first_not_of('\0') == std::string::npos) continue;  // a gap is playing
            const int64_t from = std::max<int64_t>(0, end - first - 1024 - 2 * int64_t(kBytesPerSecond));
            const int64_t at = find(selection, tail, from);
            if (at < 0 || at - from > 4 * int64_t(kBytesPerSecond)) continue;
            const double diff = double(s.position - (at + 1024) / 4) / 44.1;
            sum += diff;
            worst = std::max(worst, std::abs(diff));
            ++n;
        }
        std::printf("cursor_samples %d\n", n);
        std::printf("cursor_mean_ms %.1f\n", n ? sum / n : -1.0);
        std::printf("cursor_max_ms %.1f\n", n ? worst : -1.0);
        std::printf("dropout_ms %.1f\n", first >= 0 && last >= 0
                                              ? double(last + 4096 - first - int64_t(selection.size())) / kBytesPerSecond * 1000.0
                                              : -1.0);
        std::printf("cpu_percent %.2f\n", cpu / wall * 100.0);
    }

    // --- Memory while a 60-minute file plays through (virtual device, 100 x) --------------
    setenv("TESSIVO_AUDIO_DEVICE", "virtual", 1);
    setenv("TESSIVO_AUDIO_SPEED", "100", 1);
    {
        Player p;
        TMMWave probe;
        probe.SetFileName(longWav);
        const int32_t frames = probe.DataSize();
        p.play(longWav, 0, frames);
        std::vector<double> rss;
        while (!p.stopped) {
            pump([&] { return p.stopped; }, 1000);
            rss.push_back(rssMb());
        }
        std::printf("long_file_minutes %.1f\n", frames / 44100.0 / 60.0);
        std::printf("rss_first_mb %.1f\n", rss.empty() ? -1 : rss.front());
        std::printf("rss_max_mb %.1f\n", rss.empty() ? -1 : *std::max_element(rss.begin(), rss.end()));
        std::printf("rss_last_mb %.1f\n", rss.empty() ? -1 : rss.back());
    }
    return 0;
}
