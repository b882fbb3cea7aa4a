// The real tessivo executable at start-up: the argument check, BaseQuelt.ini beside the
// executable and the connection to the catalogue, each run under the offscreen platform.
//
// Each run gets a private folder holding (a link to) the executable and its shared libraries,
// so that BaseQuelt.ini can be written beside it. TESSIVO_MESSAGE_LOG collects the texts of the
// message boxes and TESSIVO_CLOSE_AFTER_MS closes the window once it has opened.
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

using testutil::TempDir;

const std::string kNoAudio = "message: Nenhum áudio foi informado.\n";
const std::string kNoConnection = "message: Não foi possível conectar com a base de dados.\n";
const std::string kShown = "tessivo: window shown";

struct ProgramRun {
    int exitCode = -1;
    std::string messages;  // one "message: ..." line per message box
    std::string stderrText;
    bool windowShown() const { return stderrText.find(kShown) != std::string::npos; }
};

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path bin = testutil::binDir();
        ASSERT_TRUE(fs::exists(bin / "tessivo")) << "build the tessivo target first: " << bin;
        std::error_code ec;
        fs::create_hard_link(bin / "tessivo", dir_.path() / "tessivo", ec);
        if (ec) fs::copy_file(bin / "tessivo", dir_.path() / "tessivo");
        // The shared libraries the program loads from its own folder.
        for (const auto& entry : fs::directory_iterator(bin)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("lib", 0) == 0 && name.find(".so") != std::string::npos)
                fs::create_symlink(entry.path(), dir_.path() / name);
        }
    }

    // A short MP3 made once for the suite: the window opens on it after the import.
    static std::string songPath() {
        static testutil::TempDir* folder = new testutil::TempDir;
        static const bool made = testutil::makeMp3(folder->file("song.mp3"), 0.5);
        EXPECT_TRUE(made) << "sox and lame are needed to make the test song";
        return folder->file("song.mp3");
    }
    static std::string song() { return testutil::shellQuote(songPath()); }

    // Starts the program on the song with SIGINT and SIGTERM at their defaults (as a terminal
    // or a session starts it), sends it signo once its window is shown and returns its wait
    // status; -1 when it did not end within 20 s (it is then killed).
    int runAndSignal(int signo) {
        const std::string program = (dir_.path() / "tessivo").string(), err = dir_.file("stderr.txt");
        const std::string audio = songPath();
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t defaults, none;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "TESSIVO_MESSAGE_LOG=" + dir_.file("messages.txt"),
                                        "TESSIVO_CLOSE_AFTER_MS=60000"};
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        std::vector<char*> envp, argv = {const_cast<char*>(program.c_str()), const_cast<char*>(audio.c_str()), nullptr};
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, program.c_str(), &files, &attr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&files);
        posix_spawnattr_destroy(&attr);
        if (rc != 0) return -2;
        using namespace std::chrono;
        for (auto until = steady_clock::now() + seconds(60);
             testutil::readFile(err).find(kShown) == std::string::npos && steady_clock::now() < until;)
            std::this_thread::sleep_for(milliseconds(20));
        ::kill(pid, signo);
        int status = 0;
        for (auto until = steady_clock::now() + seconds(20); steady_clock::now() < until;) {
            if (::waitpid(pid, &status, WNOHANG) == pid) return status;
            std::this_thread::sleep_for(milliseconds(20));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }

    void writeIni(const std::string& text) { testutil::writeFile(dir_.file("BaseQuelt.ini"), text); }

    // Runs the program with the given shell-quoted argument text; the window, when it opens,
    // closes itself after 300 ms. The outer timeout only stops a hung program.
    ProgramRun run(const std::string& arguments, const std::string& env = "") {
        const std::string log = dir_.file("messages.txt");
        const std::string err = dir_.file("stderr.txt");
        std::remove(log.c_str());
        const std::string command = "cd " + testutil::shellQuote(dir_.path().string()) +
                                    " && env QT_QPA_PLATFORM=offscreen TESSIVO_MESSAGE_LOG=" +
                                    testutil::shellQuote(log) +
                                    " TESSIVO_CLOSE_AFTER_MS=300 " + env + " timeout -k 5 60 ./tessivo " + arguments +
                                    " 2>" + testutil::shellQuote(err) + " </dev/null";
        ProgramRun r;
        r.exitCode = testutil::run(command);
        r.messages = testutil::readFile(log);
        r.stderrText = testutil::readFile(err);
        return r;
    }

    TempDir dir_;
};

TEST_F(StartupTest, NoArgumentOrEmptyFirstArgumentShowsTheMessageAndEnds) {
    for (const std::string& args : {std::string(), std::string("''"), "'' " + song()}) {
        SCOPED_TRACE("arguments: " + args);
        const ProgramRun r = run(args);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.messages, kNoAudio);
        EXPECT_FALSE(r.windowShown()) << r.stderrText;
    }
    // Also with an INI file present: the argument is checked before any connection.
    writeIni("[BANCO]\nCAMINHO=\n");
    const ProgramRun r = run("");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.messages, kNoAudio);
}

TEST_F(StartupTest, WithoutIniTheWindowOpensWithoutAnyMessage) {
    const ProgramRun r = run(song());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.messages, "");
    EXPECT_TRUE(r.windowShown()) << r.stderrText;
}

TEST_F(StartupTest, UnusableDatabasePathGivesOneMessageThenTheWindow) {
    testutil::writeFile(dir_.file("not-a-database.fdb"), std::string(8192, 'x'));
    const std::string cases[] = {
        "[BANCO]\r\nCAMINHO=\r\n",                                          // empty
        "[BANCO]\nCAMINHO=" + dir_.file("missing.fdb") + "\n",              // missing file
        "[BANCO]\nCAMINHO=" + dir_.file("not-a-database.fdb") + "\n",       // not a database
        "[OUTRA]\nCAMINHO=" + dir_.file("not-a-database.fdb") + "\n",       // no section
        std::string("\x7f\x45\x4c\x46\x00\x01\xff\xfe", 8),                 // not an INI file
        "[BANCO]\nCAMINHO=127.0.0.1/1:" + dir_.file("x.fdb") + "\n",        // nothing listens
    };
    for (const std::string& ini : cases) {
        SCOPED_TRACE(ini);
        writeIni(ini);
        const ProgramRun r = run(song());
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.messages, kNoConnection);
        EXPECT_TRUE(r.windowShown()) << r.stderrText;
    }
}

TEST_F(StartupTest, SilentServerDoesNotHoldTheWindow) {
    // A loopback port that accepts connections (the kernel completes them from the backlog)
    // but never answers.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 8), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const int port = ntohs(addr.sin_port);

    writeIni("[BANCO]\nCAMINHO=127.0.0.1/" + std::to_string(port) + ":/srv/quelt.fdb\n");
    const ProgramRun r = run(song());
    ::close(fd);
    EXPECT_EQ(r.exitCode, 0);  // 124 would mean the outer timeout stopped a hung program
    EXPECT_EQ(r.messages, kNoConnection);
    EXPECT_TRUE(r.windowShown()) << r.stderrText;
}

TEST_F(StartupTest, GoodCatalogueConnectsSilently) {
    const fs::path maker = testutil::sourceDir() / "db" / "make-catalogue.sh";
    if (!fs::exists(maker) || !testutil::haveTool("isql-fb")) GTEST_SKIP() << "no catalogue maker";
    const std::string db = dir_.file("catalogue.fdb");
    ASSERT_EQ(testutil::run(testutil::shellQuote(maker.string()) + " " + testutil::shellQuote(db) + " >/dev/null 2>&1"),
              0);
    writeIni("[BANCO]\r\nCAMINHO=" + db + "\r\n");
    const ProgramRun r = run(song());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.messages, "");
    EXPECT_TRUE(r.windowShown()) << r.stderrText;
}

// A named audio file that does not exist: its message, then the process ends with code 0
// before the window is shown, and no Temp.wav is made.
TEST_F(StartupTest, MissingAudioFileShowsItsMessageAndEndsWithCodeZero) {
    const ProgramRun r = run("/nonexistent/song.mp3");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.messages, "message: O arquivo do áudio selecionado não foi encontrado.\n");
    EXPECT_FALSE(r.windowShown()) << r.stderrText;
    EXPECT_FALSE(fs::exists(dir_.path() / "Temp.wav"));
}

// The song is imported beside the program and shown.
TEST_F(StartupTest, SongIsImportedBesideTheProgram) {
    const ProgramRun r = run(song());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.messages, "");
    EXPECT_TRUE(r.windowShown()) << r.stderrText;
    EXPECT_GT(fs::file_size(dir_.path() / "Temp.wav"), 0.45 * 44100 * 4);  // the half-second song
}

// Closed while playing (on the virtual output device): the output is closed on the way out
// and the program ends normally.
TEST_F(StartupTest, ClosingWhilePlayingEndsWithCodeZero) {
    const ProgramRun r = run(song(), "TESSIVO_AUDIO_DEVICE=virtual TESSIVO_PLAY=1");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.messages, "");
    EXPECT_NE(r.stderrText.find("tessivo: playing"), std::string::npos) << r.stderrText;
}

// SIGTERM and SIGINT end the program as they end any program (the shell sees 128 + the
// signal), also once the catalogue's client library has set up handlers of its own.
TEST_F(StartupTest, TerminationSignalsEndTheProgramWithOrWithoutTheCatalogue) {
    const fs::path maker = testutil::sourceDir() / "db" / "make-catalogue.sh";
    const std::string db = dir_.file("catalogue.fdb");
    ASSERT_EQ(testutil::run(testutil::shellQuote(maker.string()) + " " + testutil::shellQuote(db) + " >/dev/null 2>&1"),
              0);
    for (const bool catalogue : {false, true}) {
        if (catalogue) writeIni("[BANCO]\nCAMINHO=" + db + "\n");
        for (const int signo : {SIGTERM, SIGINT}) {
            SCOPED_TRACE(std::string(catalogue ? "with" : "without") + " the catalogue, signal " + std::to_string(signo));
            const int status = runAndSignal(signo);
            ASSERT_NE(status, -1) << "the program did not end";
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signo) << status;
            EXPECT_EQ(testutil::readFile(dir_.file("messages.txt")), "");
        }
    }
}

}  // namespace

namespace {

// A file name that is no valid UTF-8 (a Latin-1 name copied from another system) is opened and
// imported as it was given.
TEST_F(StartupTest, ALatin1FileNameIsOpenedAsGiven) {
    TempDir folder;
    const std::string latin1 = folder.file("can\xE7\xE3o.mp3");
    ASSERT_TRUE(testutil::makeMp3(latin1, 0.5));
    const ProgramRun r = run(testutil::shellQuote(latin1));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.messages, "");
    EXPECT_TRUE(r.windowShown()) << r.stderrText;
    EXPECT_GT(fs::file_size(dir_.path() / "Temp.wav"), 0.45 * 44100 * 4);
}

}  // namespace
