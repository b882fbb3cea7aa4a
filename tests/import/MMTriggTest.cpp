// The trigger pump between a scripted source and a recording sink: buffer flow and order, the
// end seen by the worker and the stop run in the main thread, start and open failures, errors
// in the cycles, pause, close while a cycle runs, and no worker left behind.
#include "ImportChainUtil.h"

#include "audio/MMUtils.h"
#include "platform/MessageWindow.h"
#include "import/MMTrigg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

using importchain::waitUntil;

namespace {

WAVEFORMATEX pcm16Stereo() {
    WAVEFORMATEX f{};
    SetPCMFormat(&f, 16, 2, 44100);
    return f;
}

// A source that hands out data in buffer-sized pieces, the last one clearing more.
class ScriptSource : public TMMDSPComponent {
public:
    explicit ScriptSource(std::string data, const WAVEFORMATEX* f = nullptr) : data_(std::move(data)) {
        const WAVEFORMATEX fmt = pcm16Stereo();
        SetPWaveFormat(f ? f : &fmt);
    }
    bool HasOutputProperty() const override { return true; }
    void BufferLoad(PMMWaveHdr h, bool& more) override {
        const int n = ++loads;
        if (n == throwAtLoad) throw std::runtime_error("source broke");
        const size_t count = std::min<size_t>(h->wh.dwBufferLength, data_.size() - pos_);
        std::memcpy(h->wh.lpData, data_.data() + pos_, count);
        pos_ += count;
        h->wh.dwBytesRecorded = uint32_t(count);
        more = pos_ < data_.size();
    }
    void Rewind() { pos_ = 0; }
    std::atomic<int> loads{0};
    int throwAtLoad = 0;

private:
    std::string data_;
    size_t pos_ = 0;
};

// A sink that records what reaches it; it can hold the worker inside a buffer.
class RecordingSink : public TMMDSPComponent {
public:
    bool HasInputProperty() const override { return true; }
    void BufferReady(PMMWaveHdr h) override {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            received.append(h->wh.lpData, h->wh.dwBytesRecorded);
            ++buffers;
            inside = true;
            cv_.notify_all();
            cv_.wait(lock, [this] { return !hold; });
            inside = false;
        }
        TMMDSPComponent::BufferReady(h);
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        hold = false;
        cv_.notify_all();
    }
    bool WaitInside() {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(30), [this] { return inside; });
    }
    std::string Received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received;
    }
    int Buffers() {
        std::lock_guard<std::mutex> lock(mutex_);
        return buffers;
    }
    bool hold = false;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::string received;
    int buffers = 0;
    bool inside = false;
};

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char((i * 31 + i / 251) & 0xFF);
    return s;
}

struct Chain {
    explicit Chain(std::string data) : src(std::move(data)) {
        src.SetOutput(&trig);
        trig.SetOutput(&sink);
        trig.OnStop = [this](TMMComponent*) {
            ++stops;
            stopInMain = MessageWindow::IsMainThread();
        };
    }
    // The trigger goes first, while its neighbours still exist.
    std::atomic<int> stops{0};
    bool stopInMain = false;
    ScriptSource src;
    RecordingSink sink;
    TMMTrigger trig;
};

}  // namespace

TEST(TriggerTest, BufferSizeHasAFloorAndIsFixedWhileOpen) {
    Chain c(pattern(1000));
    c.trig.SetBufferSize(10);
    EXPECT_EQ(c.trig.BufferSize(), 32);
    c.trig.SetBufferSize(4096);
    EXPECT_EQ(c.trig.BufferSize(), 4096);
    c.trig.Open();
    try {
        c.trig.SetBufferSize(8192);
        FAIL() << "accepted while open";
    } catch (const EMMTriggerError& e) {
        EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
    EXPECT_EQ(c.trig.BufferSize(), 4096);
    c.trig.Close();
    EXPECT_FALSE(c.trig.IsTriggerOpen());
    EXPECT_EQ(DSPThreadCount(), 0u);
}

TEST(TriggerTest, EveryByteArrivesInOrderAndTheStopRunsInTheMainThread) {
    // 10 full buffers and a short one, then exactly 3 full buffers: the last load clears more.
    for (const size_t size : {size_t(10 * 4096 + 1000), size_t(3 * 4096)}) {
        const std::string data = pattern(size);
        Chain c(data);
        c.trig.SetBufferSize(4096);
        std::atomic<int> filled{0}, ready{0};
        c.trig.OnBufferFilled = [&](TMMComponent*, PMMWaveHdr) { ++filled; };
        c.trig.OnBufferReady = [&](TMMComponent*, PMMWaveHdr) { ++ready; };
        c.trig.Start();
        EXPECT_TRUE(c.trig.IsTriggerStarted());
        ASSERT_TRUE(waitUntil([&] { return c.stops > 0; }));
        EXPECT_TRUE(c.stopInMain);
        EXPECT_EQ(c.sink.Received(), data);
        const int buffers = int((size + 4095) / 4096);
        EXPECT_EQ(ready, buffers);
        EXPECT_EQ(filled, buffers);
        EXPECT_EQ(c.trig.BytesPassed(), int64_t(size));
        c.trig.SetTimeFormat(tfSample);
        EXPECT_EQ(c.trig.Position(), int64_t(size / 4));
        EXPECT_FALSE(c.trig.IsTriggerStarted());
        EXPECT_TRUE(c.trig.IsTriggerOpen());
        c.trig.Close();
        EXPECT_EQ(c.stops, 1);
        EXPECT_FALSE(c.trig.WorkerFailed());
    }
    EXPECT_EQ(DSPThreadCount(), 0u);
}

TEST(TriggerTest, AnInputShorterThanOneBufferGivesOneBufferThenTheStop) {
    Chain c(pattern(100));
    c.trig.SetBufferSize(32768);
    std::atomic<int> ready{0};
    c.trig.OnBufferReady = [&](TMMComponent*, PMMWaveHdr) { ++ready; };
    c.trig.Start();
    ASSERT_TRUE(waitUntil([&] { return c.stops > 0; }));
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(c.sink.Received(), pattern(100));
    EXPECT_EQ(c.src.loads, 1);
}

TEST(TriggerTest, OpenAndStartFailuresCloseTheTriggerWithTheirTexts) {
    {
        // No format from the input.
        RecordingSink sink;
        TMMTrigger trig;
        trig.SetOutput(&sink);
        int errors = 0;
        trig.OnError = [&](TMMComponent*) { ++errors; };
        try {
            trig.Start();
            FAIL() << "started without a format";
        } catch (const EMMTriggerError& e) {
            EXPECT_EQ(std::string(e.what()), "TriggerOpen:\n\rInvalid wave format");
        }
        EXPECT_EQ(errors, 1);
        EXPECT_FALSE(trig.IsTriggerOpen());
    }
    {
        // An input that delivers nothing on the first load.
        Chain c("");
        bool closed = false;
        c.trig.OnClose = [&](TMMComponent*) { closed = true; };
        try {
            c.trig.Start();
            FAIL() << "started on an empty input";
        } catch (const EMMTriggerError& e) {
            EXPECT_EQ(std::string(e.what()), "TriggerStart:\n\rUnable to start device");
        }
        EXPECT_TRUE(closed);
        EXPECT_FALSE(c.trig.IsTriggerOpen());
        EXPECT_FALSE(c.sink.IsOpen());
        EXPECT_EQ(c.sink.Buffers(), 0);
    }
    EXPECT_EQ(DSPThreadCount(), 0u);
}

TEST(TriggerTest, AnUnhandledCycleErrorEndsTheWorkerAndStillStopsInTheMainThread) {
    Chain c(pattern(20 * 1024));
    c.trig.SetBufferSize(1024);
    c.src.throwAtLoad = 4;
    int errors = 0, errorsEx = 0;
    c.trig.OnError = [&](TMMComponent*) { ++errors; };
    c.trig.OnErrorEx = [&](TMMComponent*, bool&) { ++errorsEx; };
    c.trig.Start();
    ASSERT_TRUE(waitUntil([&] { return c.stops > 0; }));
    EXPECT_TRUE(c.stopInMain);
    EXPECT_TRUE(c.trig.WorkerFailed());
    EXPECT_EQ(c.trig.WorkerError(), "source broke");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(errorsEx, 1);
    EXPECT_EQ(c.sink.Received(), pattern(3 * 1024));
    // The failed worker closed the trigger in the main thread.
    EXPECT_TRUE(waitUntil([&] { return !c.trig.IsTriggerOpen(); }));
    EXPECT_EQ(DSPThreadCount(), 0u);
}

TEST(TriggerTest, AHandledCycleErrorLetsTheStreamEnd) {
    Chain c(pattern(20 * 1024));
    c.trig.SetBufferSize(1024);
    c.src.throwAtLoad = 4;
    c.trig.OnErrorEx = [&](TMMComponent*, bool& handled) { handled = true; };
    c.trig.Start();
    ASSERT_TRUE(waitUntil([&] { return c.stops > 0; }));
    EXPECT_FALSE(c.trig.WorkerFailed());
    // The failed load left the header empty: the stream ends after what had arrived.
    EXPECT_EQ(c.sink.Received(), pattern(3 * 1024));
    c.trig.Close();
}

TEST(TriggerTest, CloseWhileACycleRunsCompletesWhenThePendingStopArrives) {
    Chain c(pattern(64 * 1024));
    c.trig.SetBufferSize(1024);
    c.sink.hold = true;
    int closes = 0;
    c.trig.OnClose = [&](TMMComponent*) { ++closes; };
    c.trig.Start();
    ASSERT_TRUE(c.sink.WaitInside());
    c.trig.Close();  // the worker is inside a buffer: the close must wait
    EXPECT_TRUE(c.trig.IsTriggerOpen());
    EXPECT_EQ(closes, 0);
    c.sink.Release();
    ASSERT_TRUE(waitUntil([&] { return closes == 1; }));
    EXPECT_EQ(c.stops, 1);
    EXPECT_FALSE(c.trig.IsTriggerOpen());
    EXPECT_LT(c.sink.Received().size(), size_t(64 * 1024));
    EXPECT_EQ(DSPThreadCount(), 0u);
}

TEST(TriggerTest, PauseHoldsTheWorkerAndRestartFinishesTheStream) {
    const std::string data = pattern(200 * 512);
    Chain c(data);
    c.trig.SetBufferSize(512);
    c.trig.SetInterval(1);
    c.sink.hold = true;
    int pauses = 0, restarts = 0;
    c.trig.OnPause = [&](TMMComponent*) { ++pauses; };
    c.trig.OnRestart = [&](TMMComponent*) { ++restarts; };
    c.trig.Start();
    ASSERT_TRUE(c.sink.WaitInside());
    c.trig.Pause();
    c.sink.Release();
    EXPECT_TRUE(c.trig.IsTriggerPaused());
    // The cycle that was running ends and the worker waits: no further one started.
    ASSERT_TRUE(waitUntil([&] { return c.trig.IsWorkerHeld(); }, 10000));
    EXPECT_EQ(c.sink.Buffers(), 1);
    c.trig.Restart();
    ASSERT_TRUE(waitUntil([&] { return c.stops > 0; }));
    EXPECT_EQ(c.sink.Received(), data);
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(restarts, 1);
}

TEST(TriggerTest, DestroyingARunningTriggerLeavesNoThreadAndClosesTheChain) {
    {
        Chain c(pattern(1 << 20));
        c.trig.SetBufferSize(256);
        c.trig.Start();
        ASSERT_TRUE(waitUntil([&] { return c.sink.Buffers() > 3; }));
        EXPECT_EQ(DSPThreadCount(), 1u);
        c.trig.OnStop = nullptr;
    }
    EXPECT_EQ(DSPThreadCount(), 0u);
    {
        // The same trigger runs again after its stop, without closing in between.
        const std::string data = pattern(5000);
        Chain c(data);
        c.trig.SetBufferSize(1024);
        for (int round = 1; round <= 2; ++round) {
            c.src.Rewind();
            c.trig.Start();
            ASSERT_TRUE(waitUntil([&] { return c.stops == round; }));
            EXPECT_EQ(c.trig.BytesPassed(), 5000);
        }
        EXPECT_EQ(c.sink.Received(), data + data);
    }
}
