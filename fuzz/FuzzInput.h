// The readers take file names, so every fuzz input goes through one file in memory-backed
// /dev/shm (the system's temporary folder when that is missing), removed at exit together
// with the writer's "~" file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

class FuzzInput {
public:
    // name and extension make the file's name: tessivo-fuzz-<name>-<pid><extension>.
    FuzzInput(const char* name, const char* extension) {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : P_tmpdir;
        path_ = std::string(dir) + "/tessivo-fuzz-" + name + "-" + std::to_string(getpid()) + extension;
    }
    ~FuzzInput() {
        std::remove(path_.c_str());
        std::remove((path_ + "~").c_str());
    }
    FuzzInput(const FuzzInput&) = delete;
    FuzzInput& operator=(const FuzzInput&) = delete;

    const std::string& Path() const { return path_; }

    // Replaces the file's contents with the input; false when it cannot be written.
    bool Write(const uint8_t* data, size_t size) const {
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        if (!f) return false;
        const bool ok = std::fwrite(data, 1, size, f) == size;
        return std::fclose(f) == 0 && ok;
    }

private:
    std::string path_;
};
