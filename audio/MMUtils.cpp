#include "audio/MMUtils.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <pthread.h>
#include <sched.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>

// ---------------------------------------------------------------------------------------
// Arithmetic

int32_t MulDivRound(int32_t a, int32_t b, int32_t c) {
    if (c == 0)
        return 0;
    const int64_t p = int64_t(a) * int64_t(b);
    const int64_t q = p / c;  // both truncate toward zero; r has the sign of p
    const int64_t r = p % c;
    // 2 * r in 64 bits: with a divisor above 2^30 it would not fit in 32.
    const int64_t result = q + (2 * r) / c;
    if (result > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (result < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return int32_t(result);
}

int64_t MulDiv64(int64_t a, int64_t b, int64_t c) {
    if (c == 0)
        return 0;
    const long double v = static_cast<long double>(a) * static_cast<long double>(b) /
                          static_cast<long double>(c);
    if (v >= 9223372036854775807.0L)
        return std::numeric_limits<int64_t>::max();
    if (v <= -9223372036854775808.0L)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);  // truncates toward zero
}

// ---------------------------------------------------------------------------------------
// Conversions

namespace {

bool usable(const WAVEFORMATEX* fmt) {
    return fmt && fmt->nSamplesPerSec != 0 && fmt->nAvgBytesPerSec != 0 && fmt->nBlockAlign != 0;
}

// Rounds a byte count up to whole blocks; the division is unsigned as in the platform's
// own arithmetic, so only non-negative counts are meaningful.
int32_t wholeBlocks(int32_t x, uint16_t align) {
    const uint32_t a = align;
    return int32_t(((uint32_t(x) + a - 1) / a) * a);
}

int64_t wholeBlocks64(int64_t x, uint16_t align) {
    const int64_t a = align;
    if (x < 0)
        return -((-x) / a) * a;  // toward zero, which is upward for a negative count
    return ((x + a - 1) / a) * a;
}

int32_t i32(uint32_t v) { return int32_t(v); }

}  // namespace

int32_t BytesToSamples(const WAVEFORMATEX* fmt, int32_t bytes) {
    if (!usable(fmt))
        return 0;
    return MulDivRound(bytes, i32(fmt->nSamplesPerSec), i32(fmt->nAvgBytesPerSec));
}

int32_t SamplesToBytes(const WAVEFORMATEX* fmt, int32_t samples) {
    if (!usable(fmt))
        return 0;
    const int32_t x = MulDivRound(samples, i32(fmt->nAvgBytesPerSec), i32(fmt->nSamplesPerSec));
    return wholeBlocks(x, fmt->nBlockAlign);
}

int32_t SampleSize(const WAVEFORMATEX* fmt) { return SamplesToBytes(fmt, 1); }

int32_t SamplesToMs(const WAVEFORMATEX* fmt, int32_t samples) {
    if (!usable(fmt))
        return 0;
    return MulDivRound(samples, 1000, i32(fmt->nSamplesPerSec));
}

int32_t MsToSamples(const WAVEFORMATEX* fmt, int32_t ms) {
    if (!usable(fmt))
        return 0;
    return MulDivRound(ms, i32(fmt->nSamplesPerSec), 1000);
}

int32_t BytesToMs(const WAVEFORMATEX* fmt, int32_t bytes) {
    if (!usable(fmt))
        return 0;
    return MulDivRound(bytes, 1000, i32(fmt->nAvgBytesPerSec));
}

int32_t MsToBytes(const WAVEFORMATEX* fmt, int32_t ms) {
    if (!usable(fmt))
        return 0;
    return wholeBlocks(MulDivRound(ms, i32(fmt->nAvgBytesPerSec), 1000), fmt->nBlockAlign);
}

int64_t BytesToSamples64(const WAVEFORMATEX* fmt, int64_t bytes) {
    if (!usable(fmt))
        return 0;
    return MulDiv64(bytes, fmt->nSamplesPerSec, fmt->nAvgBytesPerSec);
}

int64_t SamplesToBytes64(const WAVEFORMATEX* fmt, int64_t samples) {
    if (!usable(fmt))
        return 0;
    return wholeBlocks64(MulDiv64(samples, fmt->nAvgBytesPerSec, fmt->nSamplesPerSec),
                         fmt->nBlockAlign);
}

int64_t SamplesToMs64(const WAVEFORMATEX* fmt, int64_t samples) {
    if (!usable(fmt))
        return 0;
    return MulDiv64(samples, 1000, fmt->nSamplesPerSec);
}

int64_t MsToSamples64(const WAVEFORMATEX* fmt, int64_t ms) {
    if (!usable(fmt))
        return 0;
    return MulDiv64(ms, fmt->nSamplesPerSec, 1000);
}

int64_t BytesToMs64(const WAVEFORMATEX* fmt, int64_t bytes) {
    if (!usable(fmt))
        return 0;
    return MulDiv64(bytes, 1000, fmt->nAvgBytesPerSec);
}

int64_t MsToBytes64(const WAVEFORMATEX* fmt, int64_t ms) {
    if (!usable(fmt))
        return 0;
    return wholeBlocks64(MulDiv64(ms, fmt->nAvgBytesPerSec, 1000), fmt->nBlockAlign);
}

// ---------------------------------------------------------------------------------------
// Time text

std::string FormatTime(int64_t v, bool showMs) {
    constexpr int64_t kMinute = 60000, kHour = 3600000, kDay = 86400000;
    char text[96];
    const long long ms = v % 1000;
    const long long secs = (v % kMinute) / 1000;
    if (v < kHour) {
        const long long mins = v / kMinute;
        if (showMs)
            std::snprintf(text, sizeof text, "%lld:%2.2lld.%3.3lld", mins, secs, ms);
        else
            std::snprintf(text, sizeof text, "%lld:%2.2lld", mins, secs);
    } else if (v < kDay) {
        const long long hours = v / kHour, mins = (v % kHour) / kMinute;
        if (showMs)
            std::snprintf(text, sizeof text, "%lld:%2.2lld:%2.2lld.%3.3lld", hours, mins, secs, ms);
        else
            std::snprintf(text, sizeof text, "%lld:%2.2lld:%2.2lld", hours, mins, secs);
    } else {
        const long long days = v / kDay, hours = (v % kDay) / kHour, mins = (v % kHour) / kMinute;
        if (showMs)
            std::snprintf(text, sizeof text, "%lld:%2.2lld:%2.2lld:%2.2lld.%3.3lld", days, hours, mins,
                          secs, ms);
        else
            std::snprintf(text, sizeof text, "%lld:%2.2lld:%2.2lld:%2.2lld", days, hours, mins, secs);
    }
    return text;
}

std::string FormatTimeMs(int64_t ms) { return FormatTime(ms, true); }

// ---------------------------------------------------------------------------------------
// Memory utilities

void FillBytes(void* p, int32_t count, uint8_t value) {
    if (p && count > 0)
        std::memset(p, value, size_t(count));
}

void FillLongs(void* p, int32_t count, uint32_t value) {
    if (!p || count <= 0)
        return;
    auto* out = static_cast<uint8_t*>(p);
    const int32_t words = count / 4;
    for (int32_t i = 0; i < words; ++i)
        std::memcpy(out + 4 * i, &value, 4);
    std::memset(out + 4 * words, int(value & 0xFF), size_t(count % 4));
}

void MoveMem(const void* src, void* dst, int32_t count) {
    if (src && dst && count > 0)
        std::memmove(dst, src, size_t(count));
}

bool CompareMem(const void* a, const void* b, int32_t count) {
    if (count <= 0)
        return true;
    if (!a || !b)
        return a == b;
    return std::memcmp(a, b, size_t(count)) == 0;
}

// ---------------------------------------------------------------------------------------
// Wave-format utilities

void SetPCMFormat(WAVEFORMATEX* fmt, int32_t bits, int32_t channels, int32_t rate) {
    if (!fmt)
        return;
    fmt->wFormatTag = WAVE_FORMAT_PCM;
    fmt->nChannels = uint16_t(channels);
    fmt->nSamplesPerSec = uint32_t(rate);
    fmt->wBitsPerSample = uint16_t(bits);
    fmt->nBlockAlign = uint16_t((channels * bits) / 8);
    fmt->nAvgBytesPerSec = uint32_t(fmt->nBlockAlign) * uint32_t(rate);
    fmt->cbSize = 0;
}

bool IsPCMFormat(const WAVEFORMATEX* fmt) {
    return fmt && fmt->wFormatTag == WAVE_FORMAT_PCM &&
           (fmt->wBitsPerSample == 8 || fmt->wBitsPerSample == 16) &&
           (fmt->nChannels == 1 || fmt->nChannels == 2) && fmt->nSamplesPerSec >= 4000 &&
           fmt->nSamplesPerSec <= 100000;
}

int32_t FormatSize(const WAVEFORMATEX* fmt) {
    if (!fmt)
        return 0;
    if (fmt->wFormatTag == WAVE_FORMAT_PCM)
        return int32_t(sizeof(WAVEFORMATEX));
    return int32_t(sizeof(WAVEFORMATEX)) + fmt->cbSize;
}

TMMWaveFormatPtr CopyFormat(const WAVEFORMATEX* fmt) {
    const int32_t size = FormatSize(fmt);
    if (size == 0)
        return nullptr;
    auto* copy = static_cast<WAVEFORMATEX*>(std::calloc(1, size_t(size)));
    if (!copy)
        throw std::bad_alloc();
    std::memcpy(copy, fmt, size_t(size));
    if (copy->wFormatTag == WAVE_FORMAT_PCM)
        copy->cbSize = 0;
    return TMMWaveFormatPtr(copy);
}

int32_t Convert8And16(int32_t dstBits, void* dst, int32_t srcBits, int32_t count, const void* src) {
    if (!dst || !src || count <= 0)
        return 0;
    if (dstBits == srcBits) {
        std::memmove(dst, src, size_t(count));
        return count;
    }
    if (dstBits == 8 && srcBits == 16) {
        const auto* in = static_cast<const uint8_t*>(src);
        auto* out = static_cast<uint8_t*>(dst);
        const int32_t n = count / 2;
        for (int32_t i = 0; i < n; ++i) {
            const int16_t v = int16_t(uint16_t(in[2 * i] | (in[2 * i + 1] << 8)));
            out[i] = uint8_t(v / 256 - 128);
        }
        return n;
    }
    if (dstBits == 16 && srcBits == 8) {
        const auto* in = static_cast<const uint8_t*>(src);
        auto* out = static_cast<uint8_t*>(dst);
        for (int32_t i = 0; i < count; ++i) {
            const uint16_t v = uint16_t((int32_t(in[i]) - 128) * 256);
            out[2 * i] = uint8_t(v & 0xFF);
            out[2 * i + 1] = uint8_t(v >> 8);
        }
        return count * 2;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Platform utilities

void WaitWithMessages(int32_t ms, bool processMessages) {
    if (ms <= 0)
        return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!processMessages || !app || QThread::currentThread() != app->thread()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    if (QCoreApplication::closingDown())
        return;
    // A nested loop that runs until the time is up or the application starts to quit.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(app, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec();
}

int32_t ThreadPriorityValue(TThreadPriority priority) {
    switch (priority) {
    case tpIdle: return -15;
    case tpLowest: return -2;
    case tpLower: return -1;
    case tpNormal: return 0;
    case tpHigher: return 1;
    case tpHighest: return 2;
    case tpTimeCritical: return 15;
    }
    return 0;
}

bool SetPriority(std::thread::native_handle_type thread, TThreadPriority priority) {
    sched_param param{};
    int policy = SCHED_OTHER;
    switch (priority) {
    case tpIdle: policy = SCHED_IDLE; break;
    case tpLowest:
    case tpLower: policy = SCHED_BATCH; break;
    case tpNormal:
    case tpHigher:
    case tpHighest: policy = SCHED_OTHER; break;
    case tpTimeCritical:
        policy = SCHED_FIFO;
        param.sched_priority = sched_get_priority_min(SCHED_FIFO);
        break;
    }
    if (pthread_setschedparam(thread, policy, &param) == 0)
        return priority != tpHigher && priority != tpHighest;
    if (priority == tpTimeCritical) {
        sched_param normal{};
        pthread_setschedparam(thread, SCHED_OTHER, &normal);
    }
    return false;
}

bool DiskHasRoom(const std::string& fileName, int64_t bytes) {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(fileName, ec).parent_path();
    if (ec || folder.empty())
        return false;
    struct statvfs vfs {};
    if (statvfs(folder.c_str(), &vfs) != 0)
        return false;
    const unsigned long long freeBytes =
        static_cast<unsigned long long>(vfs.f_bavail) * static_cast<unsigned long long>(vfs.f_frsize);
    if (bytes <= 0)
        return true;
    return freeBytes >= static_cast<unsigned long long>(bytes);
}

void* AllocBlock(size_t size) {
    void* p = std::calloc(1, size == 0 ? 1 : size);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void FreeBlock(void*& p) {
    std::free(p);
    p = nullptr;
}

const TMMPlatformInfo& PlatformInfo() {
    static const TMMPlatformInfo info = [] {
        TMMPlatformInfo i;
        i.System = "Linux";
        struct utsname u {};
        if (uname(&u) == 0) {
            i.Release = u.release;
            i.Processor = u.machine;
        }
#if defined(__i386__) || defined(__x86_64__)
        i.HasMMX = __builtin_cpu_supports("mmx");
#endif
        return i;
    }();
    return info;
}
