// The wave output operations on the virtual device: reports in order and only once consumed,
// the heard position, pause, reset, a device that stops consuming, and the error texts.
#include "platform/MessageWindow.h"
#include "platform/WaveOut.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Report {
    uint32_t msg;
    uintptr_t handle;
    WAVEHDR* hdr;
};

using Env = testutil::ScopedEnv;

WAVEFORMATEX stereo16() {
    return WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0};
}

class WaveOutTest : public ::testing::Test {
protected:
    WaveOutTest() : window_([this](uint32_t msg, uintptr_t w, intptr_t l) {
        reports_.push_back({msg, w, reinterpret_cast<WAVEHDR*>(l)});
    }) {}

    HWAVEOUT open() {
        const WAVEFORMATEX f = stereo16();
        HWAVEOUT h = nullptr;
        EXPECT_EQ(waveOutOpen(&h, 0, &f, reinterpret_cast<uintptr_t>(&window_), 0, CALLBACK_WINDOW),
                  MMSYSERR_NOERROR);
        return h;
    }
    // A prepared header of frames frames, all samples set to value.
    WAVEHDR* buffer(HWAVEOUT h, uint32_t frames, int16_t value = 1000) {
        data_.emplace_back(size_t(frames) * 2, value);
        headers_.push_back(std::make_unique<WAVEHDR>());
        WAVEHDR* hdr = headers_.back().get();
        hdr->lpData = reinterpret_cast<char*>(data_.back().data());
        hdr->dwBufferLength = frames * 4;
        EXPECT_EQ(waveOutPrepareHeader(h, hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        return hdr;
    }
    size_t done() const {
        size_t n = 0;
        for (const Report& r : reports_) n += r.msg == MM_WOM_DONE;
        return n;
    }
    // Runs the event loop until pred holds or ms have passed.
    template <typename Pred>
    bool waitFor(Pred pred, int ms = 3000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    uint32_t samples(HWAVEOUT h) {
        MMTIME t{TIME_SAMPLES, {0}};
        EXPECT_EQ(waveOutGetPosition(h, &t, sizeof t), MMSYSERR_NOERROR);
        EXPECT_EQ(t.wType, TIME_SAMPLES);
        return t.u.sample;
    }

    MessageWindow window_;
    std::vector<Report> reports_;
    std::vector<std::vector<int16_t>> data_;
    std::vector<std::unique_ptr<WAVEHDR>> headers_;
};

TEST_F(WaveOutTest, BuffersComeBackInOrderOnceConsumedAndThePositionCountsThem) {
    Env env{{"TESSIVO_AUDIO_DEVICE", "virtual"}, {"TESSIVO_AUDIO_SPEED", "4"}};
    ASSERT_EQ(waveOutGetNumDevs(), 1u);
    WAVEOUTCAPS caps{};
    ASSERT_EQ(waveOutGetDevCaps(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Tessivo virtual output");
    EXPECT_EQ(waveOutGetDevCaps(1, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    const WAVEFORMATEX f = stereo16();
    EXPECT_EQ(waveOutOpen(nullptr, 0, &f, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    WAVEFORMATEX adpcm = f;
    adpcm.wFormatTag = WAVE_FORMAT_ADPCM;
    EXPECT_EQ(waveOutOpen(nullptr, 0, &adpcm, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);

    HWAVEOUT h = open();
    ASSERT_TRUE(waitFor([&] { return !reports_.empty(); }));
    EXPECT_EQ(reports_[0].msg, MM_WOM_OPEN);
    EXPECT_EQ(reports_[0].handle, reinterpret_cast<uintptr_t>(h));

    // Odd sizes, one of a single frame: the clock consumes across buffer boundaries.
    const std::vector<uint32_t> frames = {4410, 1, 22050, 977};
    std::vector<WAVEHDR*> hdrs;
    for (uint32_t n : frames) hdrs.push_back(buffer(h, n));
    WAVEHDR unprepared{};
    unprepared.lpData = hdrs[0]->lpData;
    unprepared.dwBufferLength = 4;
    EXPECT_EQ(waveOutWrite(h, &unprepared, sizeof unprepared), WAVERR_UNPREPARED);
    const auto start = std::chrono::steady_clock::now();
    for (WAVEHDR* hdr : hdrs) ASSERT_EQ(waveOutWrite(h, hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutUnprepareHeader(h, hdrs[3], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(h), WAVERR_STILLPLAYING);

    ASSERT_TRUE(waitFor([&] { return done() == frames.size(); }));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // 27438 frames at 4 x 44100 per second: about 156 ms.
    EXPECT_GT(seconds, 0.14);
    EXPECT_LT(seconds, 1.0);
    for (size_t i = 0; i < hdrs.size(); ++i) {
        EXPECT_EQ(reports_[1 + i].hdr, hdrs[i]);
        EXPECT_TRUE(hdrs[i]->dwFlags & WHDR_DONE);
        EXPECT_FALSE(hdrs[i]->dwFlags & WHDR_INQUEUE);
    }
    EXPECT_EQ(samples(h), 4410u + 1 + 22050 + 977);
    MMTIME bytes{TIME_BYTES, {0}};
    ASSERT_EQ(waveOutGetPosition(h, &bytes, sizeof bytes), MMSYSERR_NOERROR);
    EXPECT_EQ(bytes.u.cb, (4410u + 1 + 22050 + 977) * 4);

    EXPECT_EQ(waveOutUnprepareHeader(h, hdrs[3], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_FALSE(hdrs[3]->dwFlags & WHDR_PREPARED);
    ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(waitFor([&] { return reports_.back().msg == MM_WOM_CLOSE; }));
    EXPECT_EQ(waveOutClose(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutWrite(h, hdrs[0], sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveOutTest, PauseHoldsThePositionAndResetReturnsEverythingFromZero) {
    Env env{{"TESSIVO_AUDIO_DEVICE", "virtual"}, {"TESSIVO_AUDIO_SPEED", "1"}};
    HWAVEOUT h = open();
    ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
    std::vector<WAVEHDR*> hdrs;
    for (int i = 0; i < 3; ++i) {
        hdrs.push_back(buffer(h, 44100));
        ASSERT_EQ(waveOutWrite(h, hdrs.back(), sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(samples(h), 0u);
    ASSERT_EQ(waveOutRestart(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(waitFor([&] { return samples(h) > 4410; }));
    ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
    const uint32_t held = samples(h);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LE(samples(h) - held, 300u);  // at most the clock's last step

    ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(waitFor([&] { return done() == 3; }));
    for (size_t i = 0; i < hdrs.size(); ++i) EXPECT_EQ(reports_[1 + i].hdr, hdrs[i]);
    EXPECT_EQ(samples(h), 0u);
    // Still paused after the reset; written again, the buffer plays once restarted.
    WAVEHDR* again = buffer(h, 441);
    ASSERT_EQ(waveOutWrite(h, again, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutRestart(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(waitFor([&] { return done() == 4; }));
    EXPECT_EQ(samples(h), 441u);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, ADeviceThatStopsConsumingIsLostAndHandsEverythingBack) {
    Env env{{"TESSIVO_AUDIO_DEVICE", "virtual"}, {"TESSIVO_AUDIO_STALL_MS", "100"}};
    HWAVEOUT h = open();
    std::vector<WAVEHDR*> hdrs;
    for (int i = 0; i < 4; ++i) {
        hdrs.push_back(buffer(h, 44100));
        ASSERT_EQ(waveOutWrite(h, hdrs.back(), sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return done() == 4; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900) * testutil::kSlowdown);
    const uint32_t heard = samples(h);
    EXPECT_GT(heard, 0u);
    EXPECT_LT(heard, 44100u);
    EXPECT_EQ(waveOutWrite(h, hdrs[0], sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutPause(h), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, TheSampleCounterWrapsAtItsWidth) {
    Env env{{"TESSIVO_AUDIO_DEVICE", "virtual"}, {"TESSIVO_AUDIO_SPEED", "20"}, {"TESSIVO_AUDIO_COUNTER_BITS", "16"}};
    HWAVEOUT h = open();
    WAVEHDR* hdr = buffer(h, 70000);
    ASSERT_EQ(waveOutWrite(h, hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_TRUE(waitFor([&] { return done() == 1; }));
    EXPECT_EQ(samples(h), 70000u - 65536u);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST(WaveOutPlainTest, NoDeviceAndErrorTexts) {
    Env env{{"TESSIVO_AUDIO_DEVICE", "none"}};
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    const WAVEFORMATEX f = stereo16();
    HWAVEOUT h = nullptr;
    EXPECT_EQ(waveOutOpen(&h, 0, &f, 0, 0, 0), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);

    char text[MAXERRORLENGTH];
    for (MMRESULT e : {MMSYSERR_NOERROR, MMSYSERR_ERROR, MMSYSERR_BADDEVICEID, MMSYSERR_ALLOCATED,
                       MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER, MMSYSERR_NOMEM, MMSYSERR_NOTSUPPORTED,
                       MMSYSERR_INVALPARAM, WAVERR_BADFORMAT, WAVERR_STILLPLAYING, WAVERR_UNPREPARED}) {
        EXPECT_EQ(waveOutGetErrorText(e, text, sizeof text), MMSYSERR_NOERROR) << e;
        EXPECT_GT(std::strlen(text), 10u) << e;
    }
    EXPECT_EQ(waveOutGetErrorText(999, text, sizeof text), MMSYSERR_BADERRNUM);
    EXPECT_STREQ(text, "");
    char small[8];
    ASSERT_EQ(waveOutGetErrorText(WAVERR_BADFORMAT, small, sizeof small), MMSYSERR_NOERROR);
    EXPECT_STREQ(small, "The dev");
}

// The system's sound devices listed beside the start-up: the sound system's chatter about
// missing cards and servers stays out of the standard error, and what the program itself writes
// there meanwhile stays in.
TEST(WaveOutPlainTest, TheDeviceProbeKeepsTheStandardErrorForTheProgram) {
    testutil::TempDir dir;
    const std::string log = dir.file("stderr.txt");
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int file = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    dup2(file, STDERR_FILENO);
    int lines = 0;
    {
        Env env{{"TESSIVO_AUDIO_DEVICE", "portaudio"}};
        TWaveOutDeviceProbe probe;
        for (const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
             std::chrono::steady_clock::now() < end; ++lines) {
            const std::string line = "program line " + std::to_string(lines) + "\n";
            ASSERT_EQ(write(STDERR_FILENO, line.data(), line.size()), ssize_t(line.size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        waveOutGetNumDevs();  // waits for the probe
    }
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(file);
    const std::string written = testutil::readFile(log);
    for (int i = 0; i < lines; ++i) EXPECT_NE(written.find("program line " + std::to_string(i) + "\n"), std::string::npos) << i;
    EXPECT_EQ(written.find("ALSA lib"), std::string::npos) << written;
    EXPECT_EQ(written.find("jack"), std::string::npos) << written;
}

}  // namespace
