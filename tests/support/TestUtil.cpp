#include "TestUtil.h"

#include <QCryptographicHash>
#include <QByteArray>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testutil {

std::string be16(uint16_t v) { return {char(v >> 8), char(v)}; }
std::string be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string le16(uint16_t v) { return {char(v), char(v >> 8)}; }
std::string le32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string syncsafe(uint32_t v) {
    return {char((v >> 21) & 0x7F), char((v >> 14) & 0x7F), char((v >> 7) & 0x7F), char(v & 0x7F)};
}

TempDir::TempDir() : TempDir(fs::temp_directory_path()) {}

TempDir::TempDir(const fs::path& under) {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = under / ("tessivo-test-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Files made read-only by a test must not keep the folder alive.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("cannot write " + path);
    f.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return {};
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

int run(const std::string& command, std::string* out) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::array<char, 4096> buf;
    std::string text;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
    int status = pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool haveTool(const std::string& program) {
    return run("command -v " + shellQuote(program) + " >/dev/null 2>&1") == 0;
}

std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

SmallVolume::SmallVolume(const std::string& path, const char* size) : path_(path) {
    fs::create_directories(path);
    const std::string opts = std::string("size=") + size;
    mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, opts.c_str()) == 0;
}

SmallVolume::~SmallVolume() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
    rlimit lim{};
    getrlimit(RLIMIT_FSIZE, &lim);
    savedCur_ = lim.rlim_cur;
    savedMax_ = lim.rlim_max;
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    lim.rlim_cur = rlim_t(bytes);
    setrlimit(RLIMIT_FSIZE, &lim);
}

FileSizeLimit::~FileSizeLimit() {
    const rlimit lim{rlim_t(savedCur_), rlim_t(savedMax_)};
    setrlimit(RLIMIT_FSIZE, &lim);
    std::signal(SIGXFSZ, oldHandler_);
}

std::string sha256(const std::string& bytes) {
    return QCryptographicHash::hash(QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size())),
                                    QCryptographicHash::Sha256).toHex().toStdString();
}

fs::path binDir() { return TESSIVO_PROGRAM_DIR; }

fs::path sourceDir() {
    if (const char* d = std::getenv("TESSIVO_SOURCE_DIR")) return d;
    return TESSIVO_SOURCE_DIR;
}

bool makeToneWav(const std::string& path, double seconds, int rate, int channels, int bits) {
    // Two detuned chords with a tremolo: enough movement for encoders and peak displays. The
    // same bytes at every run (sox dithers from a fixed seed), so no test depends on luck.
    std::ostringstream cmd;
    cmd << "sox -R -n -r " << rate << " -c " << channels << " -b " << bits << " " << shellQuote(path)
        << " synth " << seconds << " sine 220 sine 331 sine 442 tremolo 3 60 gain -6 2>/dev/null";
    return run(cmd.str()) == 0;
}

bool makeMp3(const std::string& path, double seconds, const std::string& lameOptions, int rate,
             int channels) {
    const std::string wav = path + ".src.wav";
    if (!makeToneWav(wav, seconds, rate, channels)) return false;
    const int rc = run("lame --quiet " + lameOptions + " " + shellQuote(wav) + " " + shellQuote(path));
    std::remove(wav.c_str());
    return rc == 0;
}

std::string makeCatalogue(const std::string& path, const std::string& rowsSql) {
    // Creating a database writes every page through to the disk and takes seconds; the
    // catalogues are kept by content under the temporary folder and copied from there.
    const std::string schema = readFile((sourceDir() / "db" / "schema.sql").string());
    const fs::path cache = fs::temp_directory_path() / "tessivo-catalogues";
    const fs::path cached = cache / (sha256(schema + '\0' + rowsSql).substr(0, 32) + ".fdb");
    std::error_code ec;
    if (!fs::exists(cached)) {
        fs::create_directories(cache, ec);
        const std::string made = cached.string() + "." + std::to_string(getpid()) + ".new";
        const std::string script = made + ".sql";
        writeFile(script, "SET SQL DIALECT 1;\nCREATE DATABASE '" + made +
                              "' USER 'SYSDBA' DEFAULT CHARACTER SET UTF8;\nINPUT '" +
                              (sourceDir() / "db" / "schema.sql").string() + "';\n" + rowsSql + "\nCOMMIT;\n");
        std::string out;
        const int rc = run("isql-fb -q -bail -ch UTF8 -i " + shellQuote(script) + " 2>&1", &out);
        fs::remove(script, ec);
        if (rc != 0) {
            fs::remove(made, ec);
            return out.empty() ? "isql-fb failed" : out;
        }
        fs::rename(made, cached, ec);  // another process may have made the same one meanwhile
        if (ec) fs::remove(made, ec);
    }
    fs::copy_file(cached, path, fs::copy_options::overwrite_existing, ec);
    return ec ? "cannot copy " + cached.string() + ": " + ec.message() : std::string();
}

}  // namespace testutil

namespace testutil {

ScopedEnv::ScopedEnv(std::initializer_list<std::pair<const char*, const char*>> vars) {
    for (const auto& [name, value] : vars) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old ? old : "", old != nullptr});
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->had) setenv(it->name.c_str(), it->value.c_str(), 1);
        else unsetenv(it->name.c_str());
    }
}

}  // namespace testutil
