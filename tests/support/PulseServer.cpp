#include "support/PulseServer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

extern char** environ;

namespace testutil {

namespace {

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

PulseServer::PulseServer() {
    std::filesystem::create_directories(dir_.path() / "run");
    std::filesystem::create_directories(dir_.path() / "home");
    writeFile(dir_.file("client.conf"), "autospawn = no\n");
    const std::string runDir = dir_.file("run");
    const std::string server = "unix:" + dir_.file("run/pulse/native");
    const std::string clientConf = dir_.file("client.conf");
    env_ = std::make_unique<ScopedEnv>(std::initializer_list<std::pair<const char*, const char*>>{
        {"XDG_RUNTIME_DIR", runDir.c_str()},
        {"PULSE_SERVER", server.c_str()},
        {"PULSE_CLIENTCONFIG", clientConf.c_str()}});
}

PulseServer::~PulseServer() {
    StopRecording();
    Kill();
}

bool PulseServer::Available() { return haveTool("pulseaudio") && haveTool("pactl") && haveTool("parec"); }

bool PulseServer::Start() {
    // norewinds: without it the null sink stalls for up to two seconds when a stream starts.
    const std::string cmd = "HOME=" + shellQuote(dir_.file("home")) +
                            " pulseaudio -D -n --exit-idle-time=-1 --disallow-exit --log-target=file:" +
                            shellQuote(dir_.file("pulse.log")) +
                            " --load='module-null-sink sink_name=ci norewinds=1 format=s16le rate=44100 channels=2'"
                            " --load='module-native-protocol-unix auth-anonymous=1'";
    if (run(cmd) != 0) return false;
    for (int i = 0; i < 100; ++i) {
        if (run("pactl info >/dev/null 2>&1") == 0) return true;
        sleepMs(100);
    }
    return false;
}

bool PulseServer::Running() const { return run("pactl info >/dev/null 2>&1") == 0; }

void PulseServer::Kill() {
    const std::string pidFile = dir_.file("run/pulse/pid");
    if (!std::filesystem::exists(pidFile)) return;
    const pid_t pid = pid_t(std::atol(readFile(pidFile).c_str()));
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    for (int i = 0; i < 200 && ::kill(pid, 0) == 0; ++i) sleepMs(10);
    std::filesystem::remove(pidFile);
}

bool PulseServer::StartRecording() {
    const std::string out = dir_.file("recording.raw");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const char* argv[] = {"parec", "--device=ci.monitor", "--format=s16le", "--rate=44100", "--channels=2",
                          "--raw", "--latency-msec=10", nullptr};
    const int r = posix_spawnp(&recorder_, "parec", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) {
        recorder_ = -1;
        return false;
    }
    // Wait until the recorder is connected and writing.
    for (int i = 0; i < 100; ++i) {
        std::error_code ec;
        if (std::filesystem::file_size(out, ec) > 0) return true;
        sleepMs(20);
    }
    return false;
}

uint64_t PulseServer::RecordedBytes() const {
    std::error_code ec;
    const auto n = std::filesystem::file_size(dir_.file("recording.raw"), ec);
    return ec ? 0 : uint64_t(n);
}

std::string PulseServer::StopRecording() {
    if (recorder_ <= 0) return {};
    ::kill(recorder_, SIGINT);
    int status = 0;
    waitpid(recorder_, &status, 0);
    recorder_ = -1;
    return readFile(dir_.file("recording.raw"));
}

long FindFrames(const std::string& recording, const std::string& frames) {
    for (size_t at = recording.find(frames.substr(0, 64)); at != std::string::npos;
         at = recording.find(frames.substr(0, 64), at + 1)) {
        if (at % 4 == 0) return long(at);
    }
    return -1;
}

}  // namespace testutil
