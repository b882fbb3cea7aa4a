// Tag bench: the file-information record of an MP3, an in-place marker write, and a whole-file
// rewrite against `cp` (and `cp` followed by a flush of the copy, which the safe rewrite also does)
// of the same file in the same run. Prints "name value" lines; bench/tags.sh turns them into ratios.
//
// Usage: bench_tags MP3 BIGFILE ROUNDS [PICTURE_MP3]
//   MP3          an MP3 file with a 4096-byte ID3v2 tag (written in place, copied first)
//   BIGFILE      a file of about 10 MB without an ID3v2 tag (copied before each rewrite)
//   PICTURE_MP3  an MP3 file whose tag holds a 1 MB picture ahead of the markers: marker saves
//                there are in place only when the changed bytes lie in one page, otherwise the
//                file is replaced; timed against cp + sync of the same file
// Links: tessivo_tags
#include "tags/ID3v2.h"
#include "tags/U_Funcoes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs a program (found on PATH) and waits for it; true when it exits 0.
bool Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Copy(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_tags MP3 BIGFILE ROUNDS\n");
        return 2;
    }
    const std::string mp3 = argv[1], big = argv[2];
    const int rounds = std::max(1, std::atoi(argv[3]));
    const std::string work = std::filesystem::path(big).parent_path().string();

    // FileInfo of an MP3, warm: the analysers are opened once, as the editor does per file.
    OpenAudioInfo("MP3");
    ReadAudioInfo(mp3);  // warms the page cache
    if (FileInfo.MpegValid != "Sim") {
        std::fprintf(stderr, "not a valid MP3: %s\n", mp3.c_str());
        return 1;
    }
    {
        const int n = 2000;
        const auto t0 = Clock::now();
        for (int i = 0; i < n; ++i) ReadAudioInfo(mp3);
        std::printf("fileinfo_warm_ms %.4f\n", Ms(Clock::now() - t0) / n);
    }
    FreeAudioInfo("MP3");

    // In-place marker writes (each one flushed to disk).
    {
        const std::string copy = work + "/inplace.mp3";
        Copy(mp3, copy);
        TID3v2 tag;
        tag.ReadFromFile(copy);
        const int32_t size = tag.TagTotalSize();
        std::vector<double> times;
        for (int i = 0; i < std::max(20, rounds * 4); ++i) {
            tag.SetIntroMark(i % 2 ? "0:12.345" : "1:02.500");
            const auto t0 = Clock::now();
            if (!tag.SaveToFile(copy)) return 1;
            times.push_back(Ms(Clock::now() - t0));
        }
        TID3v2 check;
        check.ReadFromFile(copy);
        if (check.TagTotalSize() != size) {
            std::fprintf(stderr, "the marker write was not in place\n");
            return 1;
        }
        std::printf("inplace_write_ms %.3f\n", Median(times));
    }

    // Whole-file rewrite of the big file against cp of it, interleaved so both meet the same cache
    // and disk state.
    {
        const std::string target = work + "/rewrite.bin", cpTarget = work + "/cp.bin";
        std::vector<double> rewrite, cp, cpSync;
        TID3v2 tag;
        tag.SetIntroMark("0:12.345");
        for (int i = 0; i < rounds; ++i) {
            Copy(big, target);
            std::filesystem::remove(cpTarget);
            Spawn({"sync"});
            auto t0 = Clock::now();
            if (!tag.SaveToFile(target)) return 1;
            rewrite.push_back(Ms(Clock::now() - t0));

            Spawn({"sync"});
            t0 = Clock::now();
            if (!Spawn({"cp", big, cpTarget})) return 1;
            cp.push_back(Ms(Clock::now() - t0));

            std::filesystem::remove(cpTarget);
            Spawn({"sync"});
            t0 = Clock::now();
            if (!Spawn({"cp", big, cpTarget}) || !Spawn({"sync", cpTarget})) return 1;
            cpSync.push_back(Ms(Clock::now() - t0));
        }
        std::printf("rewrite_ms %.3f\n", Median(rewrite));
        std::printf("cp_ms %.3f\n", Median(cp));
        std::printf("cp_sync_ms %.3f\n", Median(cpSync));
        std::filesystem::remove(target);
        std::filesystem::remove(cpTarget);
    }

    // Marker saves on the picture file, as an operator makes them one after another.
    if (argc > 4) {
        const std::string copy = work + "/picture-save.mp3", cpTarget = work + "/cp.mp3";
        Copy(argv[4], copy);
        TID3v2 tag;
        tag.ReadFromFile(copy);
        tag.SetIntroMark("0:01.000");
        if (!tag.SaveToFile(copy)) return 1;  // the first save gives the tag its padding
        std::vector<double> saves, cpSync;
        int inPlace = 0;
        const int n = std::max(20, rounds * 4);
        for (int i = 0; i < n; ++i) {
            tag.SetIntroMark(std::to_string(i % 10) + ":" + std::to_string(10 + i % 50) + "." + std::to_string(100 + i));
            tag.SetComment(std::string(static_cast<size_t>(i * 37 % 200), 'c'));
            struct stat a {}, b {};
            ::stat(copy.c_str(), &a);
            const auto t0 = Clock::now();
            if (!tag.SaveToFile(copy)) return 1;
            saves.push_back(Ms(Clock::now() - t0));
            ::stat(copy.c_str(), &b);
            inPlace += a.st_ino == b.st_ino;
        }
        for (int i = 0; i < rounds; ++i) {
            std::filesystem::remove(cpTarget);
            Spawn({"sync"});
            const auto t0 = Clock::now();
            if (!Spawn({"cp", copy, cpTarget}) || !Spawn({"sync", cpTarget})) return 1;
            cpSync.push_back(Ms(Clock::now() - t0));
        }
        std::printf("picture_save_ms %.3f\n", Median(saves));
        std::printf("picture_save_max_ms %.3f\n", *std::max_element(saves.begin(), saves.end()));
        std::printf("picture_inplace_share %.2f\n", double(inPlace) / n);
        std::printf("picture_cp_sync_ms %.3f\n", Median(cpSync));
        std::filesystem::remove(copy);
        std::filesystem::remove(cpTarget);
    }
    return 0;
}
