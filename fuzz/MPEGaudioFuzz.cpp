// The MPEG analyser (with its ID3v2 and ID3v1 readers) on arbitrary file contents.
// Links: tags/MPEGaudio.cpp tags/ID3v2.cpp tags/ID3v1.cpp
#include "tags/ID3v1.h"
#include "tags/ID3v2.h"
#include "tags/MPEGaudio.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

// The readers take file names, so every input goes through one file in memory-backed /dev/shm
// (the system's temporary folder when that is missing).
const std::string& InputPath() {
    static const std::string path = [] {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : P_tmpdir;
        return std::string(dir) + "/tessivo-fuzz-mpeg-" + std::to_string(getpid()) + ".mp3";
    }();
    return path;
}

// Builds the path first, so that the path outlives this object at exit.
struct RemoveAtExit {
    RemoveAtExit() { InputPath(); }
    ~RemoveAtExit() { std::remove(InputPath().c_str()); }
} removeAtExit;

bool WriteInput(const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(InputPath().c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!WriteInput(data, size)) return 0;
    TMPEGaudio mpeg;
    mpeg.ReadFromFile(InputPath());
    // Every derived value, so that each arithmetic path runs on what was read.
    volatile double sink = mpeg.Duration() + mpeg.BitRate() + mpeg.SampleRate() + double(mpeg.FrameCount()) +
                           mpeg.EncoderID() + mpeg.Valid();
    sink = sink + double(mpeg.Version().size() + mpeg.Layer().size() + mpeg.ChannelMode().size() +
                         mpeg.Emphasis().size() + mpeg.Encoder().size() + mpeg.Id3v2Tag().Title().size() +
                         mpeg.Id3v1Tag().Genre().size());
    (void)sink;
    return 0;
}
