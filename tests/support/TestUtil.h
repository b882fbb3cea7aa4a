// Helpers shared by every test executable: byte builders, temporary folders and files,
// running outside tools (lame, sox, mpg123, ffprobe, mutagen) and reading files back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace testutil {

// How many times slower the code runs in this build: the deep check's sanitized builds widen the
// few limits that time the program's own reactions by it.
#if defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 5;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 2;
#else
constexpr int kSlowdown = 1;
#endif

// Big- and little-endian integers and the ID3v2 synch-safe size, as byte strings.
std::string be16(uint16_t v);
std::string be32(uint32_t v);
std::string le16(uint16_t v);
std::string le32(uint32_t v);
std::string syncsafe(uint32_t v);

// A folder under the system's temporary folder, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    // The same under another folder (/dev/shm, for instance).
    explicit TempDir(const std::filesystem::path& under);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

// Runs a shell command; returns its exit status and, when out is given, its standard output.
int run(const std::string& command, std::string* out = nullptr);
// True when the program is on PATH (the outside tools are installed by scripts/).
bool haveTool(const std::string& program);
// Single-quotes a path for the shell.
std::string shellQuote(const std::string& s);

// A small tmpfs mounted at path for the full-disk cases; needs the right to mount (root), so
// callers skip when mounted() is false. Unmounted on destruction.
class SmallVolume {
public:
    SmallVolume(const std::string& path, const char* size);
    ~SmallVolume();
    SmallVolume(const SmallVolume&) = delete;
    SmallVolume& operator=(const SmallVolume&) = delete;
    bool mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_ = false;
};

// Lowers the process's file-size limit for one scope (a full disk for every write beyond it)
// and ignores the signal that comes with it.
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    uint64_t savedCur_ = 0;
    uint64_t savedMax_ = 0;
    void (*oldHandler_)(int) = nullptr;
};

// Sets environment variables for one scope and restores what was there before.
class ScopedEnv {
public:
    ScopedEnv(std::initializer_list<std::pair<const char*, const char*>> vars);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    struct Saved {
        std::string name, value;
        bool had;
    };
    std::vector<Saved> saved_;
};

// Hex SHA-256 of a byte string (for comparing audio bytes before and after a write).
std::string sha256(const std::string& bytes);

// The folder the build puts the executables in (tessivo, tessivo-tool, the decoder library),
// wherever the tests run.
std::filesystem::path binDir();
// The source tree root.
std::filesystem::path sourceDir();

// A few seconds of music-like 16-bit stereo sound written by sox; returns false if sox failed.
bool makeToneWav(const std::string& path, double seconds, int rate = 44100, int channels = 2, int bits = 16);
// The same sound encoded by lame with the extra lame options given (e.g. "-b 128", "-V 2 --vbr-new").
bool makeMp3(const std::string& path, double seconds, const std::string& lameOptions = "-b 128",
             int rate = 44100, int channels = 2);

// A jingle catalogue database (the catalogue's tables, UTF8, SQL dialect 1) at path, holding the
// rows the SQL statements insert: made once with isql-fb through the embedded engine, then
// copied from a cache under the temporary folder. Returns isql's output when it fails, empty on
// success.
std::string makeCatalogue(const std::string& path, const std::string& rowsSql);

}  // namespace testutil
