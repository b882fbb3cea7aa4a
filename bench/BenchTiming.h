// Timing helpers shared by the benches.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

#include <sys/resource.h>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Processor time in ms of the process (RUSAGE_SELF) or of the calling thread (RUSAGE_THREAD): on a
// shared machine it shows the work apart from the waiting for a processor.
inline double CpuMs(int who) {
    rusage u{};
    getrusage(who, &u);
    return (double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec)) /
           1000.0;
}

inline double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

}  // namespace bench
