// The WAV header reader on arbitrary file contents.
// Links: tags/WAVfile.cpp
#include "tags/WAVfile.h"

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
        return std::string(dir) + "/tessivo-fuzz-wav-" + std::to_string(getpid()) + ".wav";
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
    TWAVfile wav;
    wav.ReadFromFile(InputPath());
    volatile double sink = wav.Duration() + double(wav.ChannelMode().size()) + wav.HeaderSize() + wav.FileSize();
    (void)sink;
    return 0;
}
