// The ID3v1 reader on arbitrary file contents.
// Links: tags/ID3v1.cpp
#include "tags/ID3v1.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

const std::string& InputPath() {
    static const std::string path = [] {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : P_tmpdir;
        return std::string(dir) + "/tessivo-fuzz-id3v1-" + std::to_string(getpid()) + ".mp3";
    }();
    return path;
}

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
    TID3v1 tag;
    const bool read = tag.ReadFromFile(InputPath());
    if (read != (size >= 128)) __builtin_trap();
    volatile size_t sink = tag.Title().size() + tag.Artist().size() + tag.Album().size() + tag.Year().size() +
                           tag.Comment().size() + tag.Genre().size() + tag.TrackNumber() + tag.TagVersion();
    (void)sink;
    return 0;
}
