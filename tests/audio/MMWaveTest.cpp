#include "audio/MMWave.h"

#include "platform/MessageWindow.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace testutil;
namespace fs = std::filesystem;

namespace {

WAVEFORMATEX pcm(int bits, int channels, int rate) {
    WAVEFORMATEX f{};
    SetPCMFormat(&f, bits, channels, rate);
    return f;
}

// A plain PCM wave file: RIFF, a 16-byte `fmt `, `data`.
std::string waveBytes(int bits, int channels, int rate, const std::string& data) {
    const int align = bits / 8 * channels;
    const std::string fmt = le16(1) + le16(uint16_t(channels)) + le32(uint32_t(rate)) +
                            le32(uint32_t(rate * align)) + le16(uint16_t(align)) + le16(uint16_t(bits));
    std::string body = "WAVE" + std::string("fmt ") + le32(16) + fmt + "data" + le32(uint32_t(data.size())) + data;
    if (data.size() % 2) body += '\0';
    return "RIFF" + le32(uint32_t(body.size())) + body;
}

// 16-bit stereo frames whose left sample is the frame number and right its negation.
std::string rampFrames(int first, int count) {
    std::string s;
    for (int i = first; i < first + count; ++i) s += le16(uint16_t(int16_t(i))) + le16(uint16_t(int16_t(-i)));
    return s;
}

std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EMMWaveError& e) {
        return e.what();
    }
    return "";
}

struct Counter {
    int calls = 0;
    TMMObserver observer{[this](void*, TMMObserver*, TMMObject*) { ++calls; }};
};

// Reads the whole play range in reads of chunk bytes.
std::string readRange(TMMWave& w, int chunk) {
    std::string out;
    std::vector<char> buf(static_cast<size_t>(chunk));
    for (;;) {
        const int32_t r = w.ReadDataBytes(buf.data(), chunk);
        if (r < 0) break;
        out.append(buf.data(), size_t(r));
    }
    return out;
}

}  // namespace

TEST(MMWaveTest, NamingMissingFilesWithAndWithoutFileMustExist) {
    TempDir dir;
    const std::string missing = dir.file("missing.wav");
    TMMWave w;
    Counter c;
    w.AddObserver(&c.observer);

    EXPECT_EQ(messageOf([&] { w.SetFileName(missing); }), "Error reading wave file");
    EXPECT_EQ(w.FileName(), "");
    EXPECT_EQ(c.calls, 0);

    w.SetFileMustExist(false);
    w.SetFileName(missing);
    EXPECT_EQ(w.FileName(), missing);
    EXPECT_EQ(c.calls, 1);
    EXPECT_EQ(w.WaveIO(), nullptr);
    EXPECT_EQ(w.FormatTag(), 0);
    EXPECT_EQ(w.SampleRate(), 11025);
    EXPECT_EQ(w.Mode(), mMono);
    EXPECT_EQ(w.DataSize(), 0);
    EXPECT_EQ(w.Position(), -1);
    EXPECT_TRUE(w.IsEmpty());
    EXPECT_EQ(w.FormatString(), "Unknown");
    EXPECT_EQ(w.ReadDataBytes(nullptr, 4), -1);
    EXPECT_EQ(w.WriteDataBytes("abcd", 4), -1);

    // A relative name is held as a full path.
    const fs::path here = fs::current_path();
    fs::current_path(dir.path());
    w.SetFileName("other.wav");
    fs::current_path(here);
    EXPECT_EQ(w.FileName(), dir.file("other.wav"));

    w.Clear();
    EXPECT_EQ(w.FileName(), "");
    EXPECT_EQ(c.calls, 3);
    w.Clear();  // nothing to clear: no notification
    EXPECT_EQ(c.calls, 3);
}

TEST(MMWaveTest, InvalidFilesAndTheMessageThatDependsOnThePreviousName) {
    TempDir dir;
    const std::string good = dir.file("good.wav"), bad = dir.file("bad.wav");
    writeFile(good, waveBytes(16, 2, 44100, rampFrames(0, 100)));
    writeFile(bad, "RIFX this is not a wave file at all");
    TMMWave w;
    EXPECT_EQ(messageOf([&] { w.SetFileName(bad); }), "Invalid wave file...");
    w.SetFileName(good);
    EXPECT_EQ(messageOf([&] { w.SetFileName(bad); }), "Error reading wave file");
    // The wave still holds the good file.
    EXPECT_EQ(w.FileName(), good);
    EXPECT_EQ(w.DataSize(), 100);

    // A wave file without `fmt ` cannot be named either.
    const std::string nofmt = dir.file("nofmt.wav");
    writeFile(nofmt, "RIFF" + le32(4 + 8 + 4) + "WAVE" + "data" + le32(4) + "abcd");
    TMMWave fresh;
    EXPECT_EQ(messageOf([&] { fresh.SetFileName(nofmt); }), "Invalid wave file...");
}

TEST(MMWaveTest, NamingTheSameFileAgainReloadsOnlyWhenItsSizeChanged) {
    TempDir dir;
    const std::string name = dir.file("a.wav");
    writeFile(name, waveBytes(16, 2, 44100, rampFrames(0, 100)));
    TMMWave w;
    Counter c;
    w.AddObserver(&c.observer);
    w.SetFileName(name);
    EXPECT_EQ(c.calls, 1);
    EXPECT_EQ(w.FileSize(), int32_t(fs::file_size(name)));
    w.SetFileName(name);
    EXPECT_EQ(c.calls, 1);

    // Four more frames after the RIFF chunk: the file is read again, but they are no sound of it.
    { std::ofstream f(name, std::ios::app | std::ios::binary); f << rampFrames(100, 4); }
    w.SetFileName(name);
    EXPECT_EQ(c.calls, 2);
    EXPECT_EQ(w.DataSize(), 100);

    // A locked observer is skipped; observers run last added first.
    std::vector<int> order;
    TMMObserver first([&](void*, TMMObserver*, TMMObject*) { order.push_back(1); });
    TMMObserver second([&](void*, TMMObserver*, TMMObject*) { order.push_back(2); });
    w.AddObserver(&first);
    w.AddObserver(&second);
    c.observer.Lock();
    w.Clear();
    EXPECT_EQ(order, (std::vector<int>{2, 1}));
    EXPECT_EQ(c.calls, 2);
}

TEST(MMWaveTest, PlayRangeClampsAndReadsExactlyItsFrames) {
    TempDir dir;
    const std::string name = dir.file("ramp.wav");
    writeFile(name, waveBytes(16, 2, 44100, rampFrames(0, 1000)));
    TMMWave w;
    w.SetFileName(name);
    ASSERT_EQ(w.DataSize(), 1000);
    EXPECT_EQ(w.Mode(), mStereo);
    EXPECT_EQ(w.BitLength(), 16);
    EXPECT_EQ(w.FormatString(), "PCM");
    ASSERT_EQ(w.CutList().Count(), 1);

    w.SetEndPosition(5000);  // beyond the data
    EXPECT_EQ(w.EndPosition(), 1000);
    w.SetStartPosition(-20);
    EXPECT_EQ(w.StartPosition(), 0);
    w.SetEndPosition(300);
    w.SetStartPosition(100);
    EXPECT_EQ(w.CutList().Items(0).StartSample, 100);
    EXPECT_EQ(w.CutList().Items(0).StartByte, 400);
    EXPECT_EQ(w.CutList().Items(0).Bytes, 800);
    EXPECT_EQ(w.RangeSamples(), 200);

    w.OpenFile();
    w.SetPosition(0);
    EXPECT_EQ(w.BytesLeft(), 800);
    EXPECT_EQ(readRange(w, 64), rampFrames(100, 200));
    EXPECT_EQ(w.Position(), 200);
    EXPECT_EQ(w.ReadDataBytes(std::vector<char>(8).data(), 8), -1);

    // An offset inside the range.
    w.SetPosition(150);
    EXPECT_EQ(readRange(w, 1000), rampFrames(250, 50));
    // At or beyond the end of the range nothing is left.
    w.SetPosition(200);
    EXPECT_EQ(w.ReadDataBytes(std::vector<char>(8).data(), 8), -1);
    w.SetPosition(100000);
    EXPECT_EQ(w.ReadDataBytes(std::vector<char>(8).data(), 8), -1);

    // A start beyond the end collapses the range to no frames.
    w.SetStartPosition(400);
    EXPECT_EQ(w.StartPosition(), 300);
    EXPECT_EQ(w.CutList().Items(0).Samples, 0);
    w.SetPosition(0);
    EXPECT_EQ(w.ReadDataBytes(std::vector<char>(8).data(), 8), -1);
    w.CloseFile();
    EXPECT_EQ(w.Position(), 0);
}

TEST(MMWaveTest, ShortFileEndsWithFourZeroBytesThenMinusOne) {
    TempDir dir;
    const std::string name = dir.file("short.wav");
    const std::string bytes = waveBytes(16, 2, 8000, rampFrames(1, 1000));
    writeFile(name, bytes);
    TMMWave w;
    w.SetFileName(name);
    // The file loses most of its data after it was parsed.
    fs::resize_file(name, bytes.size() - 4000 + 40);
    w.OpenFile();
    std::vector<char> buf(8192, 'x');
    EXPECT_EQ(w.ReadDataBytes(buf.data(), 8192), 40);
    EXPECT_EQ(std::string(buf.data(), 40), rampFrames(1, 10));
    std::fill(buf.begin(), buf.end(), 'x');
    EXPECT_EQ(w.ReadDataBytes(buf.data(), 8192), 4);
    EXPECT_EQ(std::string(buf.data(), 5), std::string(4, '\0') + "x");
    EXPECT_EQ(w.Position(), 1000);  // at the end of the range
    EXPECT_EQ(w.ReadDataBytes(buf.data(), 8192), -1);

    EXPECT_EQ(w.ReadDataBytes(buf.data(), 0), -1);

    // A caller asking for fewer than four bytes never gets more than it asked for.
    const std::string name2 = dir.file("short2.wav");
    writeFile(name2, bytes);
    TMMWave w2;
    w2.SetFileName(name2);
    fs::resize_file(name2, bytes.size() - 4000);  // no data at all now
    w2.OpenFile();
    std::fill(buf.begin(), buf.end(), 'x');
    EXPECT_EQ(w2.ReadDataBytes(buf.data(), 0), 0);  // nothing asked, nothing changes
    EXPECT_EQ(w2.BytesLeft(), 4000);
    EXPECT_EQ(w2.ReadDataBytes(buf.data(), 2), 2);
    EXPECT_EQ(std::string(buf.data(), 3), std::string(2, '\0') + "x");
    EXPECT_EQ(w2.ReadDataBytes(buf.data(), 2), -1);
}

TEST(MMWaveTest, TimeFormatsConvertPositionsAndSizes) {
    TempDir dir;
    const std::string name = dir.file("t.wav");
    writeFile(name, waveBytes(16, 2, 44100, rampFrames(0, 44100)));
    TMMWave w;
    w.SetFileName(name);
    EXPECT_EQ(w.DataSize(), 44100);
    w.SetTimeFormat(tfMillisecond);
    EXPECT_EQ(w.DataSize(), 1000);
    w.SetStartPosition(500);  // ms
    EXPECT_EQ(w.CutList().Items(0).StartSample, 22050);
    w.SetTimeFormat(tfByte);
    EXPECT_EQ(w.DataSize(), 176400);
    EXPECT_EQ(w.StartPosition(), 88200);
    w.OpenFile();
    w.SetPosition(6);  // 1.5 frames round to 2
    std::vector<char> buf(4);
    ASSERT_EQ(w.ReadDataBytes(buf.data(), 4), 4);
    EXPECT_EQ(std::string(buf.data(), 4), rampFrames(22052, 1));
    EXPECT_EQ(w.Position(), 12);

    w.SetIOBufferSize(100);
    EXPECT_EQ(w.IOBufferSize(), 8192);
}

TEST(MMWaveTest, OpenAndCreateFailuresCarryTheirMessages) {
    TempDir dir;
    const std::string name = dir.file("gone.wav");
    writeFile(name, waveBytes(8, 1, 8000, std::string(100, '\x80')));
    TMMWave w;
    w.SetFileName(name);
    fs::remove(name);
    EXPECT_EQ(messageOf([&] { w.OpenFile(); }), "Unable to open wave file");

    const WAVEFORMATEX f = pcm(16, 1, 8000);
    const std::string inMissingFolder = dir.file("no/such/folder/x.wav");
    EXPECT_EQ(messageOf([&] { w.CreateFile(inMissingFolder, &f); }), "Unable to create wave file");
    writeFile(dir.file("plain"), "a file, not a folder");
    const std::string underFile = dir.file("plain/x.wav");
    EXPECT_EQ(messageOf([&] { w.CreateFile(underFile, &f); }), "Unable to create wave file");
    EXPECT_FALSE(fs::exists(underFile));
    EXPECT_EQ(w.FileName(), name);  // the wave keeps what it had
    // Nothing happens without a name or a format.
    w.CreateFile("", &f);
    w.CreateFile(dir.file("y.wav"), nullptr);
    EXPECT_FALSE(fs::exists(dir.file("y.wav")));
}

TEST(MMWaveTest, CreateWriteCloseGivesAFileTheWaveReadsBack) {
    TempDir dir;
    const std::string name = dir.file("new.wav");
    writeFile(name, "an old file in the way");
    const WAVEFORMATEX f = pcm(16, 2, 22050);
    TMMWave w;
    Counter c;
    w.AddObserver(&c.observer);
    w.CreateFile(name, &f);
    EXPECT_EQ(c.calls, 1);
    EXPECT_EQ(w.FileName(), name);
    const std::string data = rampFrames(0, 300);
    EXPECT_EQ(w.WriteDataBytes(data.data(), 400), 400);
    EXPECT_EQ(w.WriteDataBytes(data.data() + 400, int32_t(data.size()) - 400), int32_t(data.size()) - 400);
    EXPECT_EQ(w.EndPosition(), 300);
    w.CloseFile();
    EXPECT_FALSE(w.CloseFailed());

    TMMWave r;
    r.SetFileName(name);
    EXPECT_EQ(r.DataSize(), 300);
    EXPECT_EQ(r.SampleRate(), 22050);
    r.OpenFile();
    EXPECT_EQ(readRange(r, 4096), data);
}

// ---------------------------------------------------------------------------------------
// Chains

namespace {

// A source of fixed bytes in a given format.
class TestSource : public TMMDSPComponent {
public:
    TestSource(const WAVEFORMATEX& f, std::string data) : data_(std::move(data)) { SetPWaveFormat(&f); }
    bool HasOutputProperty() const override { return true; }
    void BufferLoad(PMMWaveHdr h, bool& more) override {
        const size_t n = std::min<size_t>(h->wh.dwBufferLength, data_.size() - pos_);
        std::memcpy(h->wh.lpData, data_.data() + pos_, n);
        pos_ += n;
        h->wh.dwBytesRecorded = uint32_t(n);
        more = pos_ < data_.size();
    }

private:
    std::string data_;
    size_t pos_ = 0;
};

// Drives buffers like the trigger: pulls from its Input, pushes to its Output.
class TestDriver : public TMMCustomSoundComponent {
public:
    bool HasInputProperty() const override { return true; }
    bool HasOutputProperty() const override { return true; }
    void Open() override { TMMCustomSoundComponent::Opened(); }
    void Close() override { TMMCustomSoundComponent::Closed(); }
    void Start() override { TMMCustomSoundComponent::Started(); }
    void Pause() override { TMMCustomSoundComponent::Paused(); }
    void Restart() override { TMMCustomSoundComponent::Restarted(); }
    void Stop() override { TMMCustomSoundComponent::Stopped(); }
    // One buffer: load it and, when it holds bytes, push it on. Returns the bytes and more.
    uint32_t Cycle(bool& more) {
        if (!hdr_ || hdr_->wh.dwBufferLength < uint32_t(BufferSize())) hdr_ = NewWaveHdr(uint32_t(BufferSize()));
        hdr_->wh.dwBufferLength = uint32_t(BufferSize());
        hdr_->wh.dwBytesRecorded = 0;
        more = false;
        BufferLoad(hdr_.get(), more);
        const uint32_t n = hdr_->wh.dwBytesRecorded;
        if (n > 0) {
            hdr_->wh.dwBufferLength = n;
            BufferReady(hdr_.get());
        }
        return n;
    }
    void RunAll() {
        bool more = true;
        while (more && Cycle(more) > 0) {
        }
    }
    TMMWaveHdrPtr hdr_;
};

class Pump : public TMMDSPThread {
public:
    explicit Pump(TestDriver* d) : TMMDSPThread(d), driver_(d) {}
    ~Pump() override { WaitFor(); }

protected:
    void Execute() override { driver_->RunAll(); }

private:
    TestDriver* driver_;
};

std::string soxRaw(const std::string& path) {
    std::string out;
    EXPECT_EQ(run("sox " + shellQuote(path) + " -t raw - 2>/dev/null", &out), 0);
    return out;
}

std::string soxi(const std::string& option, const std::string& path) {
    std::string out;
    run("soxi " + option + " " + shellQuote(path) + " 2>/dev/null", &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

}  // namespace

TEST(MMWaveFileTest, SinkWritesWhatTheChainPushesInTheExactLayout) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox missing";
    TempDir dir;
    struct Case { int bits, channels, rate; size_t bytes; int32_t bufferSize; };
    for (const Case& k : {Case{8, 1, 8000, 10001, 1000}, Case{16, 2, 44100, 40000, 4096}}) {
        std::string data;
        for (size_t i = 0; i < k.bytes; ++i) data += char((i * 7 + i / 3) & 0xFF);
        const WAVEFORMATEX f = pcm(k.bits, k.channels, k.rate);
        const std::string name = dir.file("sink" + std::to_string(k.bits) + ".wav");
        writeFile(name, waveBytes(8, 2, 11025, "an older wave file"));  // replaced at open

        TestSource src(f, data);
        TestDriver drv;
        TMMWaveFile sink;
        sink.Wave()->SetFileMustExist(false);
        sink.Wave()->SetFileName(name);
        src.SetOutput(&drv);
        drv.SetOutput(&sink);
        drv.SetBufferSize(k.bufferSize);
        int opens = 0, closes = 0;
        sink.OnOpen = [&](TMMComponent*) { ++opens; };
        sink.OnClose = [&](TMMComponent*) { ++closes; };
        drv.Open();
        ASSERT_TRUE(sink.IsOpen());
        drv.Start();
        drv.RunAll();
        drv.Stop();
        drv.Close();
        EXPECT_EQ(opens, 1);
        EXPECT_EQ(closes, 1);
        EXPECT_FALSE(sink.WriteFailed());

        EXPECT_EQ(soxi("-c", name), std::to_string(k.channels));
        EXPECT_EQ(soxi("-r", name), std::to_string(k.rate));
        EXPECT_EQ(soxi("-b", name), std::to_string(k.bits));
        EXPECT_EQ(soxRaw(name), data);

        const std::string fmtBody = le16(1) + le16(uint16_t(k.channels)) + le32(uint32_t(k.rate)) +
                                    le32(f.nAvgBytesPerSec) + le16(f.nBlockAlign) + le16(uint16_t(k.bits)) + le16(0);
        std::string expected = "WAVE" + std::string("fmt ") + le32(18) + fmtBody + "data" +
                               le32(uint32_t(k.bytes)) + data + (k.bytes % 2 ? std::string(1, '\0') : "") +
                               "fact" + le32(4) + le32(uint32_t(k.bytes / f.nBlockAlign));
        expected = "RIFF" + le32(uint32_t(expected.size())) + expected;
        EXPECT_EQ(readFile(name), expected) << k.bits;
    }
}

TEST(MMWaveFileTest, SinkOfAnEmptyStreamStillWritesFourZeroBytes) {
    TempDir dir;
    const std::string name = dir.file("empty.wav");
    const WAVEFORMATEX f = pcm(16, 2, 44100);
    TestSource src(f, "");
    TestDriver drv;
    TMMWaveFile sink;
    sink.Wave()->SetFileMustExist(false);
    sink.Wave()->SetFileName(name);
    src.SetOutput(&drv);
    drv.SetOutput(&sink);
    drv.Open();
    drv.Start();
    drv.RunAll();
    drv.Close();
    TMMWave w;
    w.SetFileName(name);
    EXPECT_EQ(w.DataSize(), 1);
    w.OpenFile();
    EXPECT_EQ(readRange(w, 100), std::string(4, '\0'));
}

TEST(MMWaveFileTest, SourceDeliversItsPlayRangeThenClearsMore) {
    TempDir dir;
    const std::string name = dir.file("src.wav");
    writeFile(name, waveBytes(16, 2, 44100, rampFrames(0, 5000)));
    TMMWaveFile src;
    TestDriver drv;
    src.SetOutput(&drv);
    src.Wave()->SetFileName(name);
    ASSERT_NE(drv.PWaveFormat(), nullptr);  // naming hands the format down
    EXPECT_EQ(drv.PWaveFormat()->nSamplesPerSec, 44100u);
    src.Wave()->SetStartPosition(1234);
    src.Wave()->SetEndPosition(3000);
    src.Wave()->SetPosition(0);
    drv.SetBufferSize(1000);  // 250 frames per buffer

    std::vector<int> log;
    src.OnBufferLoad = [&](TMMComponent*, PMMWaveHdr h, bool&) { log.push_back(int(h->wh.dwBytesRecorded)); };
    drv.Open();
    EXPECT_EQ(src.BufferSize(), 1000);

    // Opened but not started: a full buffer of silence, and more to come.
    auto hdr = NewWaveHdr(1000);
    hdr->wh.lpData[0] = 9;
    bool more = false;
    src.BufferLoad(hdr.get(), more);
    EXPECT_TRUE(more);
    EXPECT_EQ(hdr->wh.dwBytesRecorded, 1000u);
    EXPECT_EQ(std::string(hdr->wh.lpData, 1000), std::string(1000, '\0'));

    drv.Start();
    std::string got;
    for (int i = 0; i < 100; ++i) {
        hdr->wh.dwBufferLength = 1000;
        hdr->wh.dwBytesRecorded = 0;
        more = false;
        drv.BufferLoad(hdr.get(), more);
        got.append(hdr->wh.lpData, hdr->wh.dwBytesRecorded);
        if (!more) break;
    }
    EXPECT_EQ(got, rampFrames(1234, 3000 - 1234));
    EXPECT_FALSE(more);
    EXPECT_EQ(log.front(), 0);  // the handler sees the buffer before it is filled
    // After the end the source has nothing more.
    hdr->wh.dwBytesRecorded = 0;
    drv.BufferLoad(hdr.get(), more);
    EXPECT_EQ(hdr->wh.dwBytesRecorded, 0u);
    EXPECT_FALSE(more);
    drv.Close();
    EXPECT_FALSE(src.IsOpen());
}

TEST(MMWaveFileTest, SourceLoopsAsTheHeaderAsksAndSilenceIs128ForEightBits) {
    TempDir dir;
    const std::string name = dir.file("loop.wav");
    writeFile(name, waveBytes(8, 1, 8000, "abcdef"));
    TMMWaveFile src;
    TestDriver drv;
    src.SetOutput(&drv);
    src.Wave()->SetFileName(name);
    EXPECT_EQ(src.SilenceByte(), 128);
    int loops = 0;
    src.OnLooping = [&](TMMComponent*) { ++loops; };
    drv.Open();
    auto hdr = NewWaveHdr(64);
    bool more = false;
    src.BufferLoad(hdr.get(), more);  // not started yet
    EXPECT_EQ(std::string(hdr->wh.lpData, 64), std::string(64, '\x80'));

    drv.Start();
    hdr->dwLooping = -1;
    hdr->dwLoopCount = 1;
    hdr->dwLoopTmpCnt = 1;
    std::string got;
    for (int i = 0; i < 5; ++i) {
        more = false;
        hdr->wh.dwBytesRecorded = 0;
        drv.BufferLoad(hdr.get(), more);
        got.append(hdr->wh.lpData, hdr->wh.dwBytesRecorded);
        if (!more) break;
    }
    EXPECT_EQ(got, "abcdefabcdef");  // one loop back, then the end
    EXPECT_EQ(loops, 1);
    EXPECT_EQ(hdr->dwLooped, -1);
}


TEST(MMWaveFileTest, FullDiskFinishesTheFileWithWhatItHasAndReportsIt) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox missing";
    TempDir dir;
    SmallVolume vol(dir.file("vol"), "256k");
    if (!vol.mounted()) GTEST_SKIP() << "cannot mount a small volume here";
    const std::string name = dir.file("vol/full.wav");
    std::string data;
    for (int i = 0; i < 1000000; ++i) data += char(i * 13);
    const WAVEFORMATEX f = pcm(16, 2, 44100);
    TestSource src(f, data);
    TestDriver drv;
    TMMWaveFile sink;
    sink.Wave()->SetFileMustExist(false);
    sink.Wave()->SetFileName(name);
    src.SetOutput(&drv);
    drv.SetOutput(&sink);
    drv.SetBufferSize(4096);
    bool errorInMain = false, closeInMain = false;
    int closes = 0;
    sink.OnWriteError = [&](TMMComponent*) { errorInMain = MessageWindow::IsMainThread(); };
    sink.OnClose = [&](TMMComponent*) { ++closes; closeInMain = MessageWindow::IsMainThread(); };
    drv.Open();
    drv.Start();
    {
        // The buffers run in a chain worker thread, as in the import.
        Pump pump(&drv);
        pump.Resume();
        pump.WaitFor();
        EXPECT_EQ(pump.FatalException(), nullptr);
    }
    EXPECT_TRUE(sink.WriteFailed());
    EXPECT_TRUE(errorInMain);
    EXPECT_TRUE(closeInMain);
    EXPECT_EQ(closes, 1);
    drv.Close();  // the file is finished already
    EXPECT_EQ(closes, 1);

    const std::string back = soxRaw(name);
    ASSERT_GT(back.size(), 100000u);
    ASSERT_LT(back.size(), data.size());
    EXPECT_EQ(back.size() % 4096, 0u);
    EXPECT_EQ(back, data.substr(0, back.size()));
}

TEST(MMWaveTest, WriteAndSeekFailuresOnAFullVolumeAndATruncatedFile) {
    TempDir dir;
    {
        SmallVolume vol(dir.file("vol"), "64k");
        if (!vol.mounted()) GTEST_SKIP() << "cannot mount a small volume here";
        const WAVEFORMATEX f = pcm(8, 1, 8000);
        TMMWave w;
        w.SetIOBufferSize(200000);  // more than the volume holds: the writes stay in the buffer
        w.CreateFile(dir.file("vol/w.wav"), &f);
        const std::string block(4096, 'a');
        for (int i = 0; i < 30; ++i) ASSERT_EQ(w.WriteDataBytes(block.data(), 4096), 4096);
        // Bytes that cannot reach the disk make a new buffer impossible; the size is kept.
        EXPECT_EQ(messageOf([&] { w.SetIOBufferSize(65536); }), "Unable to setup file IO buffer");
        EXPECT_EQ(w.IOBufferSize(), 65536);
        w.CloseFile();
        EXPECT_TRUE(w.CloseFailed());
    }

    const std::string name = dir.file("cut.wav");
    writeFile(name, waveBytes(16, 2, 44100, rampFrames(0, 30000)));
    TMMWave w;
    w.SetFileName(name);
    w.OpenFile();
    w.SetPosition(29990);  // the I/O window now lies at the end of the file
    std::vector<char> buf(64);
    ASSERT_EQ(w.ReadDataBytes(buf.data(), 40), 40);
    fs::resize_file(name, 20);  // not even the header is left
    EXPECT_EQ(messageOf([&] { w.SetPosition(0); }), "Error seeking file position");
}
