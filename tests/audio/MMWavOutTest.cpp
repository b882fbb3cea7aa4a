// The wave output driving a wave file on the virtual device: the whole range reaches the
// device in order, the stop at the end arrives in the main thread, and the edge cases of the
// ring, the position counter, the properties and the failures.
#include "audio/MMWavOut.h"

#include "audio/MMWave.h"
#include "platform/MessageWindow.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace testutil;

namespace {

// A 16-bit stereo (or 8-bit mono) PCM wave file of frames frames; frame i holds i in its
// first sample, so any lost, doubled or reordered byte shows.
std::string writeWave(const TempDir& dir, const std::string& name, int32_t frames, int bits = 16, int channels = 2) {
    const int align = bits / 8 * channels;
    std::string data;
    data.reserve(size_t(frames) * size_t(align));
    for (int32_t i = 0; i < frames; ++i) {
        if (bits == 8) data += char(uint8_t(i * 7));
        else data += le16(uint16_t(i)) + le16(uint16_t(i >> 16));
    }
    const std::string fmt = le16(1) + le16(uint16_t(channels)) + le32(44100) + le32(uint32_t(44100 * align)) +
                            le16(uint16_t(align)) + le16(uint16_t(bits));
    std::string body = "WAVEfmt " + le32(16) + fmt + "data" + le32(uint32_t(data.size())) + data;
    if (data.size() % 2) body += '\0';
    const std::string path = dir.file(name);
    writeFile(path, "RIFF" + le32(uint32_t(body.size())) + body);
    return path;
}

std::string dataOf(const std::string& path) { return readFile(path).substr(44); }

template <typename Pred>
bool waitFor(Pred pred, int ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EMMWaveOutError& e) {
        return e.what();
    }
    return "";
}

// TempFile -> MMWaveOut1 as the window links them, on the virtual device at a given speed.
class WaveOutChain : public ::testing::Test {
protected:
    void make(const char* speed = "20") {
        env_.reset();
        env_ = std::make_unique<ScopedEnv>(std::initializer_list<std::pair<const char*, const char*>>{
            {"TESSIVO_AUDIO_DEVICE", "virtual"}, {"TESSIVO_AUDIO_SPEED", speed}});
        file_ = std::make_unique<TMMWaveFile>();
        out_ = std::make_unique<TMMWaveOut>();
        out_->SetInput(file_.get());
        out_->SetBufferSize(4096);
        out_->SetNumBuffers(50);
        out_->SetTimeFormat(tfSample);
        out_->OnError = [this](TMMComponent*) { ++errors_; };
        out_->OnStart = [this](TMMComponent*) { events_ += "start "; };
        out_->OnStop = [this](TMMComponent*) {
            events_ += "stop ";
            out_->Close();  // allowed from OnStop, as the window does
        };
        out_->OnClose = [this](TMMComponent*) { events_ += "close "; };
        out_->OnBufferReady = [this](TMMComponent*, PMMWaveHdr h) {
            played_.append(h->wh.lpData, h->wh.dwBufferLength);
            positions_.push_back(out_->Position());
        };
    }
    void play(const std::string& path, int32_t start = 0, int32_t end = -1) {
        file_->Wave()->SetFileName(path);
        file_->Wave()->SetStartPosition(start);
        if (end >= 0) file_->Wave()->SetEndPosition(end);
        file_->Wave()->SetPosition(0);
        out_->Start();
    }
    bool waitStopped(int ms = 5000) {
        return waitFor([this] { return events_.find("stop") != std::string::npos; }, ms);
    }
    void TearDown() override {
        out_.reset();
        file_.reset();
        env_.reset();
    }

    TempDir dir_;
    std::unique_ptr<ScopedEnv> env_;
    std::unique_ptr<TMMWaveFile> file_;
    std::unique_ptr<TMMWaveOut> out_;
    std::string events_, played_;
    std::vector<int64_t> positions_;
    int errors_ = 0;
};

TEST_F(WaveOutChain, PlaysTheRangeInOrderAndStopsByItselfInTheMainThread) {
    make();
    const std::string path = writeWave(dir_, "a.wav", 100000);
    // A range that starts and ends inside a buffer.
    play(path, 1001, 90001);
    EXPECT_EQ(out_->State(), uint32_t(wsOpened | wsPlaying));
    EXPECT_EQ(out_->QueuedBuffers(), 50);
    ASSERT_TRUE(waitStopped());
    EXPECT_EQ(events_, "start stop close ");
    EXPECT_EQ(out_->State(), uint32_t(wsClosed));
    EXPECT_EQ(errors_, 0);
    EXPECT_TRUE(played_ == dataOf(path).substr(1001 * 4, 89000 * 4)) << played_.size();
    // Counted from 0 at Start, not from the range's start, and never backwards.
    ASSERT_FALSE(positions_.empty());
    EXPECT_TRUE(std::is_sorted(positions_.begin(), positions_.end()));
    EXPECT_LE(positions_.back(), 89000);
    EXPECT_GT(positions_.back(), 89000 - 50 * 1024);
}

TEST_F(WaveOutChain, RingSizesAtTheirLimits) {
    struct Case {
        int32_t numBuffers, bufferSize, frames;
        int32_t wantBuffers, wantSize;
    };
    for (const Case c : {Case{1, 4096, 60000, 50, 4096}, Case{1000, 4096, 600000, 500, 4096},
                         Case{4, 10, 3000, 4, 32}}) {
        SCOPED_TRACE(c.numBuffers);
        make("50");
        out_->SetNumBuffers(c.numBuffers);  // 1 is ignored: the 50 set before stay
        out_->SetBufferSize(c.bufferSize);
        EXPECT_EQ(out_->NumBuffers(), c.wantBuffers);
        EXPECT_EQ(out_->BufferSize(), c.wantSize);
        const std::string path = writeWave(dir_, "r.wav", c.frames);
        play(path);
        EXPECT_EQ(out_->QueuedBuffers(), c.wantBuffers);
        ASSERT_TRUE(waitStopped(20000));
        EXPECT_TRUE(played_ == dataOf(path));
        EXPECT_EQ(errors_, 0);
        TearDown();
        events_.clear();
        played_.clear();
        positions_.clear();
    }
}

TEST_F(WaveOutChain, StopDuringACompletionWaitsForItsEnd) {
    make("1");
    const std::string path = writeWave(dir_, "s.wav", 441000);
    out_->OnBufferReady = [this](TMMComponent*, PMMWaveHdr) {
        if (played_.empty()) {
            played_ = "x";
            out_->Stop();
            // Only marked: the stop arrives once this completion has been processed.
            EXPECT_EQ(events_, "start ");
            EXPECT_TRUE(out_->State() & wsPlaying);
        }
    };
    play(path);
    ASSERT_TRUE(waitStopped(3000));
    EXPECT_EQ(events_, "start stop close ");
    EXPECT_EQ(out_->State(), uint32_t(wsClosed));
    EXPECT_EQ(out_->BuffersInDevice(), 0);
    EXPECT_EQ(errors_, 0);
}

TEST_F(WaveOutChain, TheCounterWrapsAndThePositionKeepsGrowing) {
    ScopedEnv bits{{"TESSIVO_AUDIO_COUNTER_BITS", "20"}};
    make("60");
    // 8-bit mono: 1.3 million frames in 1.3 MB, past the 2^20 counter.
    const std::string path = writeWave(dir_, "w.wav", 1300000, 8, 1);
    play(path);
    ASSERT_TRUE(waitStopped(10000));
    EXPECT_TRUE(std::is_sorted(positions_.begin(), positions_.end()));
    EXPECT_GT(positions_.back(), 1300000 - 50 * 4096);
    EXPECT_LE(positions_.back(), 1300000);
}

TEST_F(WaveOutChain, FailuresLeaveTheComponentClosed) {
    make();
    // A source with no data: an empty play range.
    const std::string path = writeWave(dir_, "e.wav", 1000);
    file_->Wave()->SetFileName(path);
    file_->Wave()->SetStartPosition(500);
    file_->Wave()->SetEndPosition(500);
    EXPECT_EQ(errorOf([&] { out_->Start(); }), "WaveOutStart:\n\rUnable to start device");
    EXPECT_EQ(out_->State(), uint32_t(wsClosed));
    EXPECT_GE(errors_, 1);

    // Properties of an open device stay; a new format from the Input closes it.
    out_->Open();
    EXPECT_EQ(out_->State(), uint32_t(wsOpened));
    EXPECT_EQ(errorOf([&] { out_->SetNumBuffers(20); }), "Change to property while device was open");
    EXPECT_EQ(errorOf([&] { out_->SetBufferSize(8192); }), "Change to property while device was open");
    EXPECT_EQ(errorOf([&] { out_->SetDeviceID(0); }), "Change to property while device was open");
    events_.clear();
    file_->Wave()->SetFileName(writeWave(dir_, "m.wav", 1000, 8, 1));
    EXPECT_EQ(out_->State(), uint32_t(wsClosed));
    EXPECT_EQ(events_, "close ");
    EXPECT_EQ(out_->PWaveFormat()->nChannels, 1);

    // Without a format.
    file_->Wave()->Clear();
    EXPECT_EQ(errorOf([&] { out_->Start(); }), "WaveOutOpen:\n\rInvalid wave format");
    EXPECT_EQ(out_->State(), uint32_t(wsClosed));
}

TEST_F(WaveOutChain, ALostDeviceStopsPlaybackWithOneError) {
    ScopedEnv stall{{"TESSIVO_AUDIO_STALL_MS", "300"}};
    make("1");
    std::vector<std::string> reported;
    MessageWindow::SetExceptionHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            reported.push_back(x.what());
        }
    });
    const std::string path = writeWave(dir_, "l.wav", 441000);
    play(path);
    // The stop comes within a second of the device going quiet (its 300 ms of audio heard),
    // counted from when this thread sees it quiet: a loaded machine delays both alike.
    ASSERT_TRUE(waitFor([this] { return out_->Position() >= 13230 || events_ != "start "; }, 20000));
    const auto quiet = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitStopped(20000));
    EXPECT_LT(std::chrono::steady_clock::now() - quiet, std::chrono::milliseconds(1000) * testutil::kSlowdown);
    waitFor([] { return false; }, 200);  // nothing more may come
    MessageWindow::SetExceptionHandler(nullptr);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], "WaveOutWrite:\n\rThe sound device is not available.");
    EXPECT_EQ(out_->State(), uint32_t(wsClosed));
    // The next play opens a new stream.
    ScopedEnv healthy{{"TESSIVO_AUDIO_STALL_MS", nullptr}, {"TESSIVO_AUDIO_SPEED", "50"}};
    events_.clear();
    played_.clear();
    play(path);
    ASSERT_TRUE(waitStopped(20000));
    EXPECT_TRUE(played_ == dataOf(path));
}

TEST(WaveOutDevices, WithoutADevice) {
    ScopedEnv env{{"TESSIVO_AUDIO_DEVICE", "none"}};
    TMMWaveOut out;
    EXPECT_EQ(out.NumDevs(), 0u);
    EXPECT_EQ(out.ProductName(), "No wave audio playing device found");
    EXPECT_EQ(out.DeviceID(), InvalidId);
    bool errorRaised = false;
    out.OnError = [&](TMMComponent*) { errorRaised = true; };
    EXPECT_EQ(errorOf([&] { out.Start(); }), "No wave audio playing device found");
    EXPECT_TRUE(errorRaised);
    EXPECT_EQ(out.State(), uint32_t(wsClosed));
}

TEST(WaveOutDevices, DeviceIdsAndTheAllocator) {
    ScopedEnv env{{"TESSIVO_AUDIO_DEVICE", "virtual"}};
    TMMWaveOut out;
    EXPECT_EQ(out.NumDevs(), 1u);
    EXPECT_EQ(out.DeviceID(), 0);
    EXPECT_EQ(out.ProductName(), "Tessivo virtual output");
    out.SetDeviceID(1);
    EXPECT_EQ(out.DeviceID(), InvalidId);
    EXPECT_EQ(out.ProductName(), "No wave audio playing device found");
    out.SetDeviceID(MapperId);
    EXPECT_EQ(out.DeviceID(), MapperId);
    EXPECT_EQ(out.ProductName(), "Tessivo virtual output");

    TMMAllocator a;
    void* big = a.AllocBuffer(100);
    void* small = a.AllocBuffer(50);
    a.FreeBuffer(big);
    EXPECT_EQ(big, nullptr);
    a.FreeBuffer(small);
    // An exact fit wins over the first larger block; a larger one is reused before a new one.
    void* again = a.AllocBuffer(50);
    void* larger = a.AllocBuffer(60);
    EXPECT_EQ(a.BlockCount(), 2u);
    EXPECT_NE(again, larger);
    void* fresh = a.AllocBuffer(60);
    EXPECT_EQ(a.BlockCount(), 3u);
    EXPECT_EQ(static_cast<uint8_t*>(fresh)[59], 0);
}

}  // namespace
