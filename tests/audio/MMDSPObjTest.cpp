#include "audio/MMDSPObj.h"

#include "platform/MessageWindow.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Log = std::vector<std::string>;

WAVEFORMATEX pcm(int bits, int channels, int rate) {
    WAVEFORMATEX f{};
    SetPCMFormat(&f, bits, channels, rate);
    return f;
}

// A plain chain member that publishes both links and records what reaches it.
class Part : public TMMDSPComponent {
public:
    Part(std::string name, Log* log, bool hasInput = true, bool hasOutput = true)
        : name_(std::move(name)), log_(log), hasInput_(hasInput), hasOutput_(hasOutput) {}
    bool HasInputProperty() const override { return hasInput_; }
    bool HasOutputProperty() const override { return hasOutput_; }
    void Opened() override {
        log_->push_back(name_ + ".Opened " + std::to_string(BufferSize()));
        TMMDSPComponent::Opened();
    }
    void Closed() override { log_->push_back(name_ + ".Closed"); TMMDSPComponent::Closed(); }
    void Started() override { log_->push_back(name_ + ".Started"); TMMDSPComponent::Started(); }
    void Paused() override { log_->push_back(name_ + ".Paused"); TMMDSPComponent::Paused(); }
    void Restarted() override { log_->push_back(name_ + ".Restarted"); TMMDSPComponent::Restarted(); }
    void Stopped() override {
        // The format still in place when a stop arrives shows whether it came first.
        const WAVEFORMATEX* f = PWaveFormat();
        log_->push_back(name_ + ".Stopped" + (IsStarted() ? " " + std::to_string(f ? f->nSamplesPerSec : 0) : ""));
        TMMDSPComponent::Stopped();
    }
    void StreamReset() override { log_->push_back(name_ + ".StreamReset"); }

private:
    std::string name_;
    Log* log_;
    bool hasInput_, hasOutput_;
};

// A source filling every buffer with one byte value.
class Source : public Part {
public:
    Source(Log* log, char fill) : Part("Src", log, false, true), fill_(fill) {}
    void BufferLoad(PMMWaveHdr h, bool& more) override {
        std::memset(h->wh.lpData, fill_, h->wh.dwBufferLength);
        h->wh.dwBytesRecorded = h->wh.dwBufferLength;
        more = true;
    }

private:
    char fill_;
};

// A driver that only announces its states; the walks are the subject.
class Driver : public TMMCustomSoundComponent {
public:
    Driver(std::string name, Log* log) : name_(std::move(name)), log_(log) {}
    bool HasInputProperty() const override { return true; }
    bool HasOutputProperty() const override { return true; }
    void Opened() override { log_->push_back(name_ + ".Opened " + std::to_string(BufferSize())); TMMCustomSoundComponent::Opened(); }
    void Closed() override { log_->push_back(name_ + ".Closed"); TMMCustomSoundComponent::Closed(); }
    void Started() override { log_->push_back(name_ + ".Started"); TMMCustomSoundComponent::Started(); }
    void Stopped() override { log_->push_back(name_ + ".Stopped"); TMMCustomSoundComponent::Stopped(); }
    void Open() override { TMMCustomSoundComponent::Opened(); }
    void Close() override { TMMCustomSoundComponent::Closed(); }
    void Start() override { TMMCustomSoundComponent::Started(); }
    void Pause() override { TMMCustomSoundComponent::Paused(); }
    void Restart() override { TMMCustomSoundComponent::Restarted(); }
    void Stop() override { TMMCustomSoundComponent::Stopped(); }

private:
    std::string name_;
    Log* log_;
};

}  // namespace

TEST(MMDSPObjTest, LinksAreTwoWayAndRelinkingMakesOldNeighboursForget) {
    Log log;
    Part a("A", &log), b("B", &log), c("C", &log), d("D", &log);
    a.SetOutput(&b);
    EXPECT_EQ(b.Input(), &a);
    EXPECT_EQ(a.OutputLinkName(), "Input");
    EXPECT_EQ(b.InputLinkName(), "Output");

    // C takes A as its Input: B, which A fed, loses its Input.
    c.SetInput(&a);
    EXPECT_EQ(a.Output(), &c);
    EXPECT_EQ(c.Input(), &a);
    EXPECT_EQ(b.Input(), nullptr);
    EXPECT_EQ(b.InputLinkName(), "");

    // D takes C as its Output: A, which fed C, loses its Output.
    d.SetOutput(&c);
    EXPECT_EQ(c.Input(), &d);
    EXPECT_EQ(d.Output(), &c);
    EXPECT_EQ(a.Output(), nullptr);

    // Unlinking clears both sides.
    c.SetInput(nullptr);
    EXPECT_EQ(d.Output(), nullptr);
    EXPECT_EQ(c.Input(), nullptr);
}

TEST(MMDSPObjTest, CyclesAndComponentsWithoutTheRoleAreRefused) {
    Log log;
    Part a("A", &log), b("B", &log), c("C", &log);
    a.SetOutput(&b);
    b.SetOutput(&c);

    a.SetInput(&a);
    a.SetOutput(&a);
    c.SetOutput(&a);  // would close A -> B -> C -> A
    a.SetInput(&c);
    b.SetOutput(&a);
    EXPECT_EQ(a.Input(), nullptr);
    EXPECT_EQ(a.Output(), &b);
    EXPECT_EQ(b.Output(), &c);
    EXPECT_EQ(c.Output(), nullptr);

    // A source has no Input property: it can feed but never be fed, unless allowed.
    Part src("S", &log, false, true), sink("K", &log, true, false);
    sink.SetOutput(&src);
    EXPECT_EQ(sink.Output(), nullptr);
    src.SetInput(&sink);
    EXPECT_EQ(src.Input(), nullptr);
    src.SetAllowAsOutput(true);
    sink.SetOutput(&src);
    EXPECT_EQ(sink.Output(), &src);
    EXPECT_EQ(src.Input(), &sink);
}

TEST(MMDSPObjTest, FormatRipplesDownAndStopsStartedComponentsBeforeStoringIt) {
    Log log;
    Part a("A", &log), b("B", &log), c("C", &log);
    a.SetOutput(&b);
    b.SetOutput(&c);
    const WAVEFORMATEX f1 = pcm(16, 2, 44100);
    a.SetPWaveFormat(&f1);
    ASSERT_NE(c.PWaveFormat(), nullptr);
    EXPECT_NE(c.PWaveFormat(), b.PWaveFormat());  // each holds its own copy
    EXPECT_EQ(c.PWaveFormat()->nSamplesPerSec, 44100u);

    for (TMMDSPComponent* p : {static_cast<TMMDSPComponent*>(&b), static_cast<TMMDSPComponent*>(&c)}) {
        p->Opened();
        p->Started();
    }
    log.clear();
    const WAVEFORMATEX f2 = pcm(8, 1, 22050);
    a.SetPWaveFormat(&f2);
    // Each started component is stopped while it still holds the old format.
    EXPECT_EQ(log, (Log{"B.Stopped 44100", "C.Stopped 44100"}));
    EXPECT_EQ(c.PWaveFormat()->nSamplesPerSec, 22050u);
    EXPECT_FALSE(b.IsStarted());

    // Linking a fresh component hands it the format; unlinking takes it away.
    Part d("D", &log);
    c.SetOutput(&d);
    ASSERT_NE(d.PWaveFormat(), nullptr);
    EXPECT_EQ(d.PWaveFormat()->wBitsPerSample, 8);
    c.SetOutput(nullptr);
    EXPECT_EQ(d.PWaveFormat(), nullptr);
    b.SetInput(nullptr);
    EXPECT_EQ(b.PWaveFormat(), nullptr);
    EXPECT_EQ(c.PWaveFormat(), nullptr);
}

TEST(MMDSPObjTest, OpenRoundsTheBufferSizeToWholeBlocks) {
    struct Case { int32_t size; int bits, channels; int32_t expected; };
    // 16-bit stereo blocks of 4; 24-bit stereo blocks of 6; 16-bit stereo with a size below one block.
    for (const Case& k : {Case{4096, 16, 2, 4096}, Case{1000, 24, 2, 996}, Case{3, 16, 2, 4}}) {
        Log log;
        Part p("P", &log);
        const WAVEFORMATEX f = pcm(k.bits, k.channels, 44100);
        p.SetPWaveFormat(&f);
        p.SetBufferSize(k.size);
        p.Opened();
        EXPECT_EQ(p.RealBufferSize(), k.expected) << k.size;
        EXPECT_EQ(p.BufferSize(), k.expected);
        p.Closed();
        EXPECT_EQ(p.BufferSize(), k.size);
    }
    Log log;
    Part none("N", &log);
    none.SetBufferSize(1001);
    none.Opened();
    EXPECT_EQ(none.BufferSize(), 1001);
}

TEST(MMDSPObjTest, DriverOpensTheChainWithItsBufferSize) {
    struct Case { int32_t size; int bits; int32_t expected; };
    for (const Case& k : {Case{4096, 16, 4096}, Case{1000, 24, 996}, Case{3, 16, 4}}) {
        Log log;
        Part src("Src", &log), mid("Mid", &log), sink("Sink", &log);
        Driver drv("Drv", &log);
        src.SetOutput(&mid);
        mid.SetOutput(&drv);
        drv.SetOutput(&sink);
        const WAVEFORMATEX f = pcm(k.bits, 2, 44100);
        src.SetPWaveFormat(&f);
        drv.SetBufferSize(k.size);
        log.clear();
        drv.Open();
        const std::string n = std::to_string(k.size);
        EXPECT_EQ(log, (Log{"Src.Opened " + n, "Mid.Opened " + n, "Sink.Opened " + n}));
        for (TMMDSPComponent* p : {static_cast<TMMDSPComponent*>(&src), static_cast<TMMDSPComponent*>(&mid),
                                   static_cast<TMMDSPComponent*>(&drv), static_cast<TMMDSPComponent*>(&sink)}) {
            EXPECT_TRUE(p->IsOpen());
            EXPECT_EQ(p->BufferSize(), k.expected) << k.size;
        }
        EXPECT_FALSE(drv.DrivenFromUpstream());
    }
}

TEST(MMDSPObjTest, WalksStopAtTheNextDriverInTheOrderGiven) {
    Log log;
    Part src("Src", &log), mid("Mid", &log), sink("Sink", &log);
    Driver d1("D1", &log), d2("D2", &log);
    src.SetOutput(&d1);
    d1.SetOutput(&mid);
    mid.SetOutput(&d2);
    d2.SetOutput(&sink);
    d1.SetBufferSize(512);
    log.clear();

    d1.Open();
    // D2 is opened with D1's size and opens what it drives itself, from itself on.
    EXPECT_EQ(log, (Log{"Src.Opened 512", "Mid.Opened 512", "D2.Opened 512", "Sink.Opened 512"}));
    EXPECT_FALSE(d1.DrivenFromUpstream());
    EXPECT_TRUE(d2.DrivenFromUpstream());

    log.clear();
    d1.Start();
    EXPECT_EQ(log, (Log{"Src.Started", "Mid.Started", "D2.Started", "Sink.Started"}));

    // Stop and close tell the next driver first, then the driver's own part of the chain,
    // and never pass the next driver.
    log.clear();
    d1.Stop();
    EXPECT_EQ(log, (Log{"D2.Stopped", "Sink.Stopped 0", "Src.Stopped 0", "Mid.Stopped 0"}));
    log.clear();
    d1.Close();
    EXPECT_EQ(log, (Log{"D2.Closed", "Sink.Closed", "Src.Closed", "Mid.Closed"}));
    EXPECT_FALSE(sink.IsOpen());
    EXPECT_FALSE(d1.IsOpen());

    // The downstream driver on its own reaches only what lies below it (its size was set
    // by D1's walk).
    log.clear();
    d2.Open();
    EXPECT_EQ(log, (Log{"Sink.Opened 512"}));
    log.clear();
    d2.StreamReset();
    EXPECT_EQ(log, (Log{"Sink.StreamReset"}));
}

TEST(MMDSPObjTest, SourceFlagEndsTheSearchForTheHead) {
    Log log;
    Part up("Up", &log), src("Src", &log);
    Driver drv("Drv", &log);
    up.SetOutput(&src);
    src.SetOutput(&drv);
    src.SetSourceComponent(true);
    log.clear();
    drv.Open();
    EXPECT_EQ(log, (Log{"Src.Opened 2048"}));
    log.clear();
    drv.Stop();  // stop and close ignore the flag
    EXPECT_EQ(log, (Log{"Up.Stopped", "Src.Stopped"}));
}

TEST(MMDSPObjTest, BufferEventsSeeTheBufferBeforeTheNeighbour) {
    Log log;
    Source src(&log, 'x');
    Part mid("Mid", &log), sink("Sink", &log);
    src.SetOutput(&mid);
    mid.SetOutput(&sink);
    auto hdr = NewWaveHdr(16);
    ASSERT_EQ(hdr->wh.lpData, reinterpret_cast<char*>(hdr.get() + 1));
    ASSERT_EQ(hdr->wh.dwBufferLength, 16u);

    uint32_t seenOnLoad = 99;
    char firstOnLoad = 0;
    mid.OnBufferLoad = [&](TMMComponent* sender, PMMWaveHdr h, bool& more) {
        EXPECT_EQ(sender, &mid);
        EXPECT_FALSE(more);
        seenOnLoad = h->wh.dwBytesRecorded;
        firstOnLoad = h->wh.lpData[0];
    };
    int afterLoad = 0;
    mid.AfterLoadProc = [&](void*, TMMDSPComponent*, PMMWaveHdr) { ++afterLoad; };
    bool more = false;
    mid.BufferLoad(hdr.get(), more);
    EXPECT_EQ(seenOnLoad, 0u);
    EXPECT_EQ(firstOnLoad, 0);
    EXPECT_EQ(hdr->wh.dwBytesRecorded, 16u);
    EXPECT_EQ(hdr->wh.lpData[15], 'x');
    EXPECT_TRUE(more);
    EXPECT_EQ(afterLoad, 1);

    Log order;
    mid.OnBufferReady = [&](TMMComponent*, PMMWaveHdr h) {
        order.push_back("mid " + std::string(1, h->wh.lpData[0]));
        h->wh.lpData[0] = 'y';
    };
    sink.OnBufferReady = [&](TMMComponent*, PMMWaveHdr h) { order.push_back("sink " + std::string(1, h->wh.lpData[0])); };
    src.BufferReady(hdr.get());
    EXPECT_EQ(order, (Log{"mid x", "sink y"}));
}

TEST(MMDSPObjTest, DestroyingAComponentUnlinksItsNeighbours) {
    Log log;
    const size_t before = DSPComponentCount();
    Part a("A", &log), c("C", &log);
    const WAVEFORMATEX f = pcm(16, 1, 8000);
    {
        Part b("B", &log);
        a.SetOutput(&b);
        b.SetOutput(&c);
        a.SetPWaveFormat(&f);
        ASSERT_NE(c.PWaveFormat(), nullptr);
        EXPECT_EQ(DSPComponentCount(), before + 3);
    }
    EXPECT_EQ(a.Output(), nullptr);
    EXPECT_EQ(c.Input(), nullptr);
    EXPECT_EQ(c.PWaveFormat(), nullptr);
    EXPECT_EQ(DSPComponentCount(), before + 2);

    // A one-way link made to a component without the property is also cleared.
    {
        Part src("S", &log, false, true);
        src.SetAllowAsOutput(true);
        c.SetOutput(&src);
        ASSERT_EQ(c.Output(), &src);
    }
    EXPECT_EQ(c.Output(), nullptr);
}

namespace {
class Worker : public TMMDSPThread {
public:
    Worker(TMMCustomSoundComponent* owner, std::function<void()> body)
        : TMMDSPThread(owner), body_(std::move(body)) {}
    ~Worker() override { WaitFor(); }

protected:
    void Execute() override { body_(); }

private:
    std::function<void()> body_;
};
}  // namespace

TEST(MMDSPObjTest, CallInMainThreadRunsAChainWorkersCallInTheMainThread) {
    Log log;
    Driver drv("Drv", &log);
    bool ranInMain = false, ranInWorker = true;
    std::string caught;
    const size_t threadsBefore = DSPThreadCount();
    {
        Worker w(&drv, [&] {
            CallInMainThread([&] { ranInMain = MessageWindow::IsMainThread(); });
            try {
                CallInMainThread([] { throw EMMDSPError("raised in main"); });
            } catch (const EMMError& e) {
                caught = e.what();
            }
        });
        EXPECT_EQ(DSPThreadCount(), threadsBefore + 1);
        EXPECT_EQ(w.Owner(), &drv);
        w.Resume();
        w.WaitFor();  // keeps the queued calls running while it waits
        EXPECT_EQ(w.FatalException(), nullptr);
    }
    EXPECT_EQ(DSPThreadCount(), threadsBefore);
    EXPECT_TRUE(ranInMain);
    EXPECT_EQ(caught, "raised in main");

    // A thread that is not a chain worker calls directly.
    std::thread other([&] { CallInMainThread([&] { ranInWorker = MessageWindow::IsMainThread(); }); });
    other.join();
    EXPECT_FALSE(ranInWorker);
    // So does the main thread.
    bool direct = false;
    CallInMainThread([&] { direct = MessageWindow::IsMainThread(); });
    EXPECT_TRUE(direct);
}

TEST(MMDSPObjTest, SuspendedThreadWaitsAndTerminateReleasesIt) {
    Log log;
    Driver drv("Drv", &log);
    std::atomic<int> rounds{0};
    struct Looper : TMMDSPThread {
        std::atomic<int>* rounds;
        Looper(TMMCustomSoundComponent* o, std::atomic<int>* r) : TMMDSPThread(o), rounds(r) {}
        ~Looper() override { Terminate(); WaitFor(); }
        void Execute() override {
            while (WaitIfSuspended()) {
                ++*rounds;
                std::this_thread::yield();
            }
        }
    } looper(&drv, &rounds);
    looper.Suspend();
    looper.Resume();  // first Resume starts the thread, which holds at once
    EXPECT_FALSE(looper.Finished());
    EXPECT_FALSE(looper.WaitFor(0));
    looper.Terminate();
    looper.WaitFor();
    EXPECT_TRUE(looper.Finished());
    EXPECT_EQ(rounds.load(), 0);
}
