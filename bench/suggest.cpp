// Times the suggested-marker analysis of a wave file as the editor's worker runs it, and the
// import of an audio file into a wave by `tessivo-tool import` in the same run: median wall
// time and median processor time (user + system) of each, over ROUNDS rounds.
//
// Usage: bench_suggest TOOL AUDIO OUT.wav [ROUNDS]   prints one "name value" line per figure.
// Links: tessivo_analysis
#include "analysis/MarkerSuggest.h"
#include "bench/BenchTiming.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

double Seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

double OwnCpu() { return bench::CpuMs(RUSAGE_SELF) / 1000.0; }

double Median(std::vector<double> v) { return bench::Percentile(std::move(v), 0.5); }

// One run of the tool: its wall and processor seconds.
bool RunTool(const std::vector<std::string>& args, double& wall, double& cpu) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto t0 = std::chrono::steady_clock::now();
    // The tool's own report stays out of the bench's lines.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) return false;
    int status = 0;
    rusage u{};
    if (wait4(pid, &status, 0, &u) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu = Seconds(u.ru_utime) + Seconds(u.ru_stime);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_suggest TOOL AUDIO OUT.wav [ROUNDS]\n");
        return 2;
    }
    const std::string tool = argv[1], audio = argv[2], wave = argv[3];
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
    std::vector<double> importWall, importCpu, analysisWall, analysisCpu;
    TMarkerSuggestions s;
    for (int i = 0; i < rounds; ++i) {
        double wall = 0, cpu = 0;
        if (!RunTool({tool, "import", "--quiet", audio, wave}, wall, cpu)) {
            std::fprintf(stderr, "the import failed\n");
            return 1;
        }
        importWall.push_back(wall);
        importCpu.push_back(cpu);

        const double c0 = OwnCpu();
        const auto t0 = std::chrono::steady_clock::now();
        if (SuggestMarkers(wave, s) != TSuggestResult::Ok) {
            std::fprintf(stderr, "the analysis failed\n");
            return 1;
        }
        analysisWall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        analysisCpu.push_back(OwnCpu() - c0);
    }
    std::printf("import_wall_ms %.1f\nimport_cpu_ms %.1f\nanalysis_wall_ms %.1f\nanalysis_cpu_ms %.1f\n",
                Median(importWall) * 1e3, Median(importCpu) * 1e3, Median(analysisWall) * 1e3,
                Median(analysisCpu) * 1e3);
    std::printf("start_s %.3f\nend_s %.3f\nmix_s %.3f\nending %s\n", s.Start.value_or(-1), s.End.value_or(-1),
                s.Mix.value_or(-1), EndingName(s.Ending));
    return 0;
}
