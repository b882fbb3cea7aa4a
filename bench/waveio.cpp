// Reads a wave file the two ways the editor does, through the wave I/O layer with the
// display wave's 100000-byte buffer, and compares with plain reads of the same file:
//   1. the overview pass: the whole data in 65532-byte reads;
//   2. the detail pass at high zoom: 537 seeks, each followed by a 4-byte read (one frame per
//      pixel column), spread evenly over the file; warm (file in the page cache) and cold
//      (dropped from the page cache with posix_fadvise first).
// The references run in the same process on the same file: `cat FILE > /dev/null` (started
// as a process, so its time includes its start-up) and an in-process read() loop in 128 KiB
// pieces (what cat does without the start-up).
//
// Wall times suffer on a busy machine, so the warm passes are also measured in processor time
// (user + system) of this thread and of the cat process, which other load disturbs far less.
//
// Usage: bench_waveio FILE [ROUNDS]   prints one "name value" line per measurement.
// Links: tessivo_audio
#include "audio/MMWaveIO.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
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

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double rusageMs(const rusage& r) {
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
}

// Wall and processor time of one measurement.
struct Times {
    double wall = 0;
    double cpu = 0;
};

void dropFromCache(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

Times timeCat(const std::string& path) {
    Times t;
    const auto t0 = Clock::now();
    pid_t pid;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>("cat"), const_cast<char*>(path.c_str()), nullptr};
    if (posix_spawnp(&pid, "cat", &actions, nullptr, argv, environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return {-1, -1};
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    posix_spawn_file_actions_destroy(&actions);
    t.wall = msSince(t0);
    t.cpu = rusageMs(usage);
    return t;
}

Times timePlainReads(const std::string& path, uint64_t& sum) {
    const double c0 = threadCpuMs();
    const auto t0 = Clock::now();
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::vector<char> buf(131072);
    ssize_t r;
    while ((r = ::read(fd, buf.data(), buf.size())) > 0)
        sum += uint8_t(buf[size_t(r) - 1]);
    ::close(fd);
    return {msSince(t0), threadCpuMs() - c0};
}

struct Wave {
    TWaveIORecordPtr rec;
    explicit Wave(const std::string& path) {
        if (WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec) != WIOERR_NOERROR ||
            WaveIOReopen(rec.get()) != WIOERR_NOERROR || WaveIOSetBuffer(rec.get(), 100000) != 0) {
            std::fprintf(stderr, "cannot open %s as a wave file\n", path.c_str());
            std::exit(2);
        }
    }
};

// Opening included: the editor opens the file for each pass.
Times timeSequential(const std::string& path, uint64_t& sum, int64_t& bytes) {
    const double c0 = threadCpuMs();
    const auto t0 = Clock::now();
    Wave w(path);
    std::vector<char> buf(65532);
    bytes = 0;
    int32_t r;
    while ((r = WaveIORead(w.rec.get(), buf.data(), int32_t(buf.size()))) > 0) {
        bytes += r;
        sum += uint8_t(buf[size_t(r) - 1]);
    }
    return {msSince(t0), threadCpuMs() - c0};
}

double timeSparse(Wave& w, int columns, uint64_t& sum) {
    const uint32_t frames = w.rec->DataSamples;
    char frame[4];
    const auto t0 = Clock::now();
    for (int i = 0; i < columns; ++i) {
        const int32_t target = int32_t(int64_t(frames) * i / columns);
        if (WaveIOSeek(w.rec.get(), target) != WIOERR_NOERROR || WaveIORead(w.rec.get(), frame, 4) != 4) {
            std::fprintf(stderr, "sparse read failed at frame %d\n", target);
            std::exit(3);
        }
        sum += uint8_t(frame[0]);
    }
    return msSince(t0);
}

double best(std::vector<double> v) { return *std::min_element(v.begin(), v.end()); }
double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [ROUNDS]\n", argv[0]);
        return 1;
    }
    const std::string path = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    constexpr int kColumns = 537;
    uint64_t sum = 0;
    int64_t bytes = 0;

    // Warm: read once so that every measurement finds the file in the page cache.
    timePlainReads(path, sum);
    std::vector<double> seq, cat, plain, seqCpu, catCpu, plainCpu, sparse, sparseCold, seqCold, catCold;
    for (int i = 0; i < rounds; ++i) {
        const Times s = timeSequential(path, sum, bytes);
        const Times c = timeCat(path);
        const Times p = timePlainReads(path, sum);
        seq.push_back(s.wall);
        seqCpu.push_back(s.cpu);
        cat.push_back(c.wall);
        catCpu.push_back(c.cpu);
        plain.push_back(p.wall);
        plainCpu.push_back(p.cpu);
    }
    {
        Wave w(path);
        for (int i = 0; i < rounds; ++i)
            sparse.push_back(timeSparse(w, kColumns, sum));
    }
    for (int i = 0; i < std::min(rounds, 3); ++i) {
        Wave w(path);
        dropFromCache(path);
        sparseCold.push_back(timeSparse(w, kColumns, sum));
        dropFromCache(path);
        seqCold.push_back(timeSequential(path, sum, bytes).wall);
        dropFromCache(path);
        catCold.push_back(timeCat(path).wall);
    }

    std::printf("file_bytes %lld\n", static_cast<long long>(bytes));
    std::printf("sequential_warm_ms %.2f\n", best(seq));
    std::printf("cat_warm_ms %.2f\n", best(cat));
    std::printf("read_loop_warm_ms %.2f\n", best(plain));
    std::printf("sequential_warm_cpu_ms %.2f\n", best(seqCpu));
    std::printf("cat_warm_cpu_ms %.2f\n", best(catCpu));
    std::printf("read_loop_warm_cpu_ms %.2f\n", best(plainCpu));
    std::printf("sparse537_warm_ms %.3f\n", median(sparse));
    std::printf("sparse537_cold_ms %.3f\n", median(sparseCold));
    std::printf("sequential_cold_ms %.2f\n", median(seqCold));
    std::printf("cat_cold_ms %.2f\n", median(catCold));
    std::printf("checksum %llu\n", static_cast<unsigned long long>(sum));
    return 0;
}
