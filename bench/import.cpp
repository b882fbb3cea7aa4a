// Times the import of one MP3 into a PCM wave the way the operator waits for it, against the
// reference decoders writing the same wave in the same run:
//   tessivo-tool import --quiet IN OUT.wav     (the editor's import chain)
//   mpg123 -q -w OUT.wav IN
//   ffmpeg -v quiet -y -i IN OUT.wav
// Each command runs once untimed (page cache warm), then ROUNDS times in turn; the medians of
// the wall times and the peak resident memory of each (the child's maximum RSS) are printed.
//
// Usage: bench_import TOOL IN.mp3 WORKDIR [ROUNDS]   prints one "name value" line per result.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double ms = -1;
    long maxRssKb = 0;
};

// Runs argv with its output streams on /dev/null; exits the bench when the command fails.
Run spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    pid_t pid;
    Run r;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        std::exit(2);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    r.ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    r.maxRssKb = usage.ru_maxrss;
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", argv[0], status);
        std::exit(3);
    }
    return r;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s TOOL IN.mp3 WORKDIR [ROUNDS]\n", argv[0]);
        return 1;
    }
    const std::string tool = argv[1], in = argv[2], work = argv[3];
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
    struct Command {
        const char* name;
        std::vector<std::string> args;
        std::vector<double> times;
        long maxRssKb = 0;
    };
    std::vector<Command> commands = {
        {"tessivo", {tool, "import", "--quiet", in, work + "/tessivo.wav"}, {}},
        {"mpg123", {"mpg123", "-q", "-w", work + "/mpg123.wav", in}, {}},
        {"ffmpeg", {"ffmpeg", "-v", "quiet", "-y", "-i", in, work + "/ffmpeg.wav"}, {}},
    };
    for (Command& c : commands) spawn(c.args);  // warm-up
    for (int i = 0; i < rounds; ++i)
        for (Command& c : commands) {
            const Run r = spawn(c.args);
            c.times.push_back(r.ms);
            c.maxRssKb = std::max(c.maxRssKb, r.maxRssKb);
        }
    for (const Command& c : commands) {
        std::printf("%s_median_ms %.1f\n", c.name, median(c.times));
        std::printf("%s_peak_kb %ld\n", c.name, c.maxRssKb);
    }
    std::printf("ratio_mpg123 %.3f\n", median(commands[0].times) / median(commands[1].times));
    std::printf("ratio_ffmpeg %.3f\n", median(commands[0].times) / median(commands[2].times));
    return 0;
}
