// The wave output on a real PortAudio device: a private PulseAudio server's null sink, whose
// monitor is recorded. Every sample of the selection must arrive in order, the last ones
// included, and a server that dies mid-play must stop playback with one error, after which a
// new server plays again.
#include "audio/MMWavOut.h"

#include "audio/MMWave.h"
#include "platform/MessageWindow.h"
#include "support/PulseServer.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <random>
#include <string>
#include <vector>

using namespace testutil;

namespace {

// Random 16-bit stereo frames in a wave file; returns the data bytes.
std::string writeNoise(const std::string& path, int32_t frames) {
    std::mt19937 rng(7);
    std::string data;
    for (int32_t i = 0; i < frames * 2; ++i) data += le16(uint16_t(rng() % 40000 - 20000));
    const std::string fmt = le16(1) + le16(2) + le32(44100) + le32(44100 * 4) + le16(4) + le16(16);
    writeFile(path, "RIFF" + le32(uint32_t(36 + data.size())) + "WAVEfmt " + le32(16) + fmt + "data" +
                        le32(uint32_t(data.size())) + data);
    return data;
}

void pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

class RealDevice : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PulseServer::Available()) GTEST_SKIP() << "pulseaudio, pactl or parec missing";
        pulse_ = std::make_unique<PulseServer>();
        ASSERT_TRUE(pulse_->Start());
        file_ = std::make_unique<TMMWaveFile>();
        out_ = std::make_unique<TMMWaveOut>();
        ASSERT_GE(out_->NumDevs(), 1u) << "PortAudio sees no device";
        out_->SetInput(file_.get());
        out_->SetBufferSize(4096);
        out_->SetNumBuffers(50);
        out_->SetTimeFormat(tfSample);
        out_->OnStop = [this](TMMComponent*) {
            ++stops_;
            out_->Close();
        };
        MessageWindow::SetExceptionHandler([this](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const std::exception& x) {
                errors_.push_back(x.what());
            }
        });
    }
    void TearDown() override {
        MessageWindow::SetExceptionHandler(nullptr);
        out_.reset();
        file_.reset();
        pulse_.reset();
    }
    void play(const std::string& path, int32_t start, int32_t end) {
        file_->Wave()->SetFileName(path);
        file_->Wave()->SetStartPosition(start);
        file_->Wave()->SetEndPosition(end);
        file_->Wave()->SetPosition(0);
        out_->Start();
    }
    bool waitStops(int n, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (stops_ < n && std::chrono::steady_clock::now() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return stops_ >= n;
    }

    ScopedEnv env_{{"TESSIVO_AUDIO_DEVICE", nullptr}};
    TempDir dir_;
    std::unique_ptr<PulseServer> pulse_;
    std::unique_ptr<TMMWaveFile> file_;
    std::unique_ptr<TMMWaveOut> out_;
    int stops_ = 0;
    std::vector<std::string> errors_;
};

TEST_F(RealDevice, TheSinkHearsEverySampleOfTheSelection) {
    const std::string data = writeNoise(dir_.file("n.wav"), 88200);
    ASSERT_TRUE(pulse_->StartRecording());
    play(dir_.file("n.wav"), 10001, 76151);  // 1.5 s
    ASSERT_TRUE(waitStops(1, 5000));
    pump(300);
    const std::string recording = pulse_->StopRecording();
    EXPECT_TRUE(errors_.empty());
    const std::string selection = data.substr(10001 * 4, 66150 * 4);
    const long at = FindFrames(recording, selection);
    ASSERT_GE(at, 0) << "selection not found in " << recording.size() << " recorded bytes";
    // Frame by frame in order; a machine too busy to feed the server in time makes it play
    // silence in between, which is skipped (and counted), but no frame may be lost or changed.
    const std::string silence(4, '\0');
    size_t i = 0, j = size_t(at), gaps = 0;
    while (i < selection.size() && j + 4 <= recording.size()) {
        if (recording.compare(j, 4, selection, i, 4) == 0) {
            i += 4;
        } else if (recording.compare(j, 4, silence) == 0) {
            ++gaps;
        } else {
            break;
        }
        j += 4;
    }
    EXPECT_EQ(i, selection.size()) << "heard up to frame " << i / 4 << " of " << selection.size() / 4;
    RecordProperty("silent_frames_between", int(gaps));
}

TEST_F(RealDevice, ALostServerStopsWithOneErrorAndANewOnePlaysAgain) {
    writeNoise(dir_.file("n.wav"), 441000);
    play(dir_.file("n.wav"), 0, 441000);  // 10 s
    pump(800);
    ASSERT_EQ(stops_, 0);
    pulse_->Kill();
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitStops(1, 3000));
    EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::milliseconds(1000));
    pump(300);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0].rfind("WaveOut", 0), 0u) << errors_[0];
    EXPECT_EQ(out_->State(), uint32_t(wsClosed));

    ASSERT_TRUE(pulse_->Start());
    play(dir_.file("n.wav"), 0, 22050);
    ASSERT_TRUE(waitStops(2, 5000));
    EXPECT_EQ(errors_.size(), 1u);
}

}  // namespace
