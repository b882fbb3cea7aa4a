// Time, format and sample arithmetic shared by the wave objects, the chain, the wave output
// and the main window, so that all of them round the same way; plus the small platform
// utilities of the audio library (waiting with messages, thread priorities, free disk
// space, zero-filled blocks, numbered library messages, platform facts).
//
// A "sample" here is one frame: one value for every channel, nBlockAlign bytes of PCM.
// The conversions never get a format with a zero nSamplesPerSec, nAvgBytesPerSec or
// nBlockAlign from their callers; they return 0 for such a format instead of dividing by it.
#pragma once

#include "common/MMErrors.h"
#include "common/MMTypes.h"
#include "platform/MMSystem.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

// ---------------------------------------------------------------------------------------
// Arithmetic

// a * b / c with a 64-bit product, rounded to the nearest integer, halves away from zero
// ((3, 1, 2) = 2, (-3, 1, 2) = -2). A zero divisor gives 0; a quotient beyond 32 bits is
// clamped to the 32-bit range.
int32_t MulDivRound(int32_t a, int32_t b, int32_t c);

// a * b / c in extended floating point, truncated toward zero. A zero divisor gives 0.
int64_t MulDiv64(int64_t a, int64_t b, int64_t c);

// ---------------------------------------------------------------------------------------
// Conversions for a wave format. The 32-bit ones round to nearest (MulDivRound); the 64-bit
// ones truncate (MulDiv64). Every byte count a conversion returns is a whole number of blocks.

int32_t BytesToSamples(const WAVEFORMATEX* fmt, int32_t bytes);
int32_t SamplesToBytes(const WAVEFORMATEX* fmt, int32_t samples);
// Bytes of one frame (the block alignment for PCM).
int32_t SampleSize(const WAVEFORMATEX* fmt);
int32_t SamplesToMs(const WAVEFORMATEX* fmt, int32_t samples);
int32_t MsToSamples(const WAVEFORMATEX* fmt, int32_t ms);
int32_t BytesToMs(const WAVEFORMATEX* fmt, int32_t bytes);
int32_t MsToBytes(const WAVEFORMATEX* fmt, int32_t ms);

int64_t BytesToSamples64(const WAVEFORMATEX* fmt, int64_t bytes);
int64_t SamplesToBytes64(const WAVEFORMATEX* fmt, int64_t samples);
int64_t SamplesToMs64(const WAVEFORMATEX* fmt, int64_t samples);
int64_t MsToSamples64(const WAVEFORMATEX* fmt, int64_t ms);
int64_t BytesToMs64(const WAVEFORMATEX* fmt, int64_t bytes);
int64_t MsToBytes64(const WAVEFORMATEX* fmt, int64_t ms);

// ---------------------------------------------------------------------------------------
// Time text

// "m:ss.mmm" below one hour, "h:mm:ss.mmm" below one day, "d:hh:mm:ss.mmm" from one day on;
// without showMs the same forms without the milliseconds (seconds truncated). Fields of a
// negative value each carry their own minus sign.
std::string FormatTime(int64_t ms, bool showMs);
// FormatTime(ms, true): the form of every marker position and of the status panel.
std::string FormatTimeMs(int64_t ms);

// ---------------------------------------------------------------------------------------
// Small integer and memory utilities

constexpr int32_t Min(int32_t a, int32_t b) { return a < b ? a : b; }
constexpr int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }
// lo when x < lo, otherwise hi when x > hi, otherwise x. The lower bound is tested first and
// the bounds are not reordered: MinMax(5, 0, -1) is -1, MinMax(-5, 0, -1) is 0.
constexpr int32_t MinMax(int32_t x, int32_t lo, int32_t hi) {
    return x < lo ? lo : (x > hi ? hi : x);
}
// x clamped into the interval between a and b, whichever of them is smaller.
constexpr int32_t MinMaxUnordered(int32_t x, int32_t a, int32_t b) {
    return a <= b ? MinMax(x, a, b) : MinMax(x, b, a);
}
constexpr bool InRange(int32_t x, int32_t lo, int32_t hi) { return lo <= x && x <= hi; }
constexpr bool InRangeUnordered(int32_t x, int32_t a, int32_t b) {
    return a <= b ? InRange(x, a, b) : InRange(x, b, a);
}
constexpr void IncBy(int32_t& x, int32_t n) { x += n; }
constexpr void Swap16(uint16_t& a, uint16_t& b) { const uint16_t t = a; a = b; b = t; }
constexpr void Swap32(uint32_t& a, uint32_t& b) { const uint32_t t = a; a = b; b = t; }

// count bytes at p set to value; nothing for a null p or a count <= 0.
void FillBytes(void* p, int32_t count, uint8_t value);
// count div 4 32-bit words set to value (native byte order), then count mod 4 bytes set to
// its low byte; nothing for a null p or a count <= 0. p need not be aligned.
void FillLongs(void* p, int32_t count, uint32_t value);
// Copies count bytes from src to dst, correctly when the areas overlap; nothing for count <= 0.
void MoveMem(const void* src, void* dst, int32_t count);
// True when the count bytes are equal (always for count <= 0).
bool CompareMem(const void* a, const void* b, int32_t count);

// ---------------------------------------------------------------------------------------
// Wave-format utilities

// Releases a format made by CopyFormat.
struct TMMFormatDeleter {
    void operator()(WAVEFORMATEX* p) const noexcept { std::free(p); }
};
// An owned format: the 18 bytes of WAVEFORMATEX followed by its extra bytes.
using TMMWaveFormatPtr = std::unique_ptr<WAVEFORMATEX, TMMFormatDeleter>;

// Fills fmt as PCM: tag 1, the channels, rate and bits given, nBlockAlign
// (channels * bits) / 8, nAvgBytesPerSec nBlockAlign * rate, cbSize 0. Nothing for null.
void SetPCMFormat(WAVEFORMATEX* fmt, int32_t bits, int32_t channels, int32_t rate);
// True for tag 1 with 8 or 16 bits, 1 or 2 channels and 4000..100000 samples per second.
bool IsPCMFormat(const WAVEFORMATEX* fmt);
// Bytes a format occupies: 0 for null, 18 for PCM, 18 + cbSize otherwise.
int32_t FormatSize(const WAVEFORMATEX* fmt);
// A new zero-filled copy of FormatSize(fmt) bytes (cbSize set to 0 for PCM); null for null.
TMMWaveFormatPtr CopyFormat(const WAVEFORMATEX* fmt);
// Converts count source bytes between 8-bit unsigned and 16-bit signed PCM (equal widths
// copy) and returns the bytes written: count, count / 2 (16 to 8) or count * 2 (8 to 16).
// dst must have room for the result; unknown widths write nothing and return 0.
int32_t Convert8And16(int32_t dstBits, void* dst, int32_t srcBits, int32_t count, const void* src);

// ---------------------------------------------------------------------------------------
// Platform utilities

// Waits ms milliseconds. With processMessages the calling (main) thread keeps running the
// Qt event loop meanwhile and returns early when the application quits; without it, or from
// a thread other than the application's, it just sleeps. ms <= 0 returns at once.
void WaitWithMessages(int32_t ms, bool processMessages);

enum TThreadPriority : int32_t {
    tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical
};
// The priority scale's values: tpIdle -15, tpLowest -2, tpLower -1, tpNormal 0, tpHigher 1,
// tpHighest 2, tpTimeCritical 15.
int32_t ThreadPriorityValue(TThreadPriority priority);
// Applies a priority to a thread: tpIdle runs it only when the processor is idle, tpLowest
// and tpLower as a batch thread, tpNormal..tpHighest as a normal thread (Linux grants no
// higher share to an unprivileged process), tpTimeCritical as a real-time thread when the
// process may, else normal. Returns false when the scheduler refused the exact request.
bool SetPriority(std::thread::native_handle_type thread, TThreadPriority priority);

// True when the volume holding the file's folder has at least bytes free for this user;
// false when the query fails (missing folder).
bool DiskHasRoom(const std::string& fileName, int64_t bytes);

// A zero-filled block of size bytes (size 0 gives a valid, unique block); out of memory
// throws std::bad_alloc. Pair every block with FreeBlock.
void* AllocBlock(size_t size);
// Releases a block of AllocBlock and sets p to null; nothing for null.
void FreeBlock(void*& p);

// Facts about the running platform, determined once on first use.
struct TMMPlatformInfo {
    std::string System;     // "Linux"
    std::string Release;    // kernel release, e.g. "6.1.0-18-amd64"
    std::string Processor;  // machine name, e.g. "x86_64"
    bool Is9xFamily = false;  // never on Linux
    bool IsNTFamily = false;  // never on Linux
    bool HasMMX = false;
};
const TMMPlatformInfo& PlatformInfo();
