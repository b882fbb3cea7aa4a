// The import dialog under the offscreen platform: its form, a whole import while the event
// loop stays responsive, the gauge, closing itself, replacing a leftover Temp.wav, the start
// errors, and a full disk reported instead of passing a cut-short Temp.wav on.
#include "ImportChainUtil.h"
#include "ImportTestUtil.h"

#include "audio/MMWave.h"
#include "display/MMGauge.h"
#include "display/MMPanel.h"
#include "import/MMAudio.h"
#include "import/MMMPEG.h"
#include "import/MMTrigg.h"
#include "import/U_Mp3ToWav.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <vector>

using namespace testutil;
using importtest::readWav;

namespace {

class ImportDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!MpegLibrary()) GTEST_SKIP() << "decoder library missing";
    }
    // A dialog whose error boxes are recorded instead of shown.
    std::unique_ptr<TFrmMp3ToWav> makeDialog(const std::string& folder) {
        auto dlg = std::make_unique<TFrmMp3ToWav>();
        dlg->SetProgramFolder(QString::fromStdString(folder));
        dlg->ReportError = [this](QWidget*, const QString& text) { reported.push_back(text); };
        return dlg;
    }
    TempDir dir;
    std::vector<QString> reported;
};

std::string pcmWave(int rate, const std::string& data) {
    return "RIFF" + le32(uint32_t(36 + data.size())) + "WAVE" + "fmt " + le32(16) + le16(1) + le16(2) + le32(uint32_t(rate)) +
           le32(uint32_t(rate * 4)) + le16(4) + le16(16) + "data" + le32(uint32_t(data.size())) + data;
}

}  // namespace

TEST_F(ImportDialogTest, TheFormIsASmallBorderlessTopmostBoxWithItsChain) {
    auto dlg = makeDialog(dir.path().string());
    EXPECT_EQ(dlg->windowTitle(), "MP3ToWave");
    EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(dlg->isModal());
    EXPECT_EQ(dlg->size(), QSize(225, 62));
    EXPECT_EQ(dlg->Label1->text(), QString::fromUtf8("Aguarde Importando Arquivo"));
    EXPECT_EQ(dlg->Label1->geometry(), QRect(15, 10, 199, 16));
    EXPECT_TRUE(dlg->Label1->font().bold());
    EXPECT_EQ(dlg->Label1->font().pointSize(), 10);
    EXPECT_EQ(dlg->Gauge->geometry(), QRect(8, 30, 206, 20));
    EXPECT_EQ(dlg->Gauge->Kind(), gkHorizontalBar);
    EXPECT_EQ(dlg->Gauge->MinValue(), 0);
    EXPECT_EQ(dlg->Gauge->MaxValue(), 100);
    EXPECT_EQ(dlg->Gauge->BackColor(), clBtnFace);
    EXPECT_EQ(dlg->Gauge->Bevel()->BevelOuter(), bvLowered);
    EXPECT_EQ(dlg->Gauge->Bevel()->BevelInner(), bvNone);
    EXPECT_EQ(dlg->Panel1->geometry(), QRect(0, 0, 225, 62));
    EXPECT_EQ(dlg->Panel1->Bevel()->BevelInner(), bvRaised);
    EXPECT_EQ(dlg->Panel1->Bevel()->BevelInnerWidth(), 2);
    EXPECT_EQ(dlg->Trigger()->BufferSize(), 32768);
    EXPECT_EQ(dlg->AudioFile()->Output(), dlg->Trigger());
    EXPECT_EQ(dlg->WaveFile()->Input(), dlg->Trigger());
    EXPECT_EQ(dlg->AudioFile()->MpegTrailingHeader(), 0);
    EXPECT_FALSE(dlg->WaveFile()->Wave()->FileMustExist());
    EXPECT_EQ(TempWavFileName(QString::fromStdString(dir.path().string())),
              QString::fromStdString(dir.file("Temp.wav")));
    // An installed program keeps it out of the system's program folder, even when run as root.
    EXPECT_FALSE(TempWavFileName("/usr/bin").startsWith("/usr/"));
}

TEST_F(ImportDialogTest, ImportRunsWhileTheEventLoopStaysResponsiveAndTheDialogClosesItself) {
    if (!haveTool("lame") || !haveTool("mpg123")) GTEST_SKIP() << "lame or mpg123 missing";
    const std::string mp3 = dir.file("song.mp3");
    ASSERT_TRUE(makeMp3(mp3, 40.0, "-b 128"));
    const auto ref = importtest::mpg123Decode(mp3, dir.file("ref.wav"));
    auto dlg = makeDialog(dir.path().string());

    // The worker waits at two points of the import for the UI thread: first until a timer of
    // the UI thread has fired three more times while the dialog shows, then until the gauge
    // has shown a value. A blocked UI thread would hold the import there.
    std::mutex m;
    std::condition_variable cv;
    int ticks = 0, shownProgress = 0;
    bool visibleDuringImport = false;
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        std::lock_guard<std::mutex> lock(m);
        if (!dlg->isVisible()) return;
        ++ticks;
        shownProgress = dlg->Gauge->Progress();
        cv.notify_all();
    });
    const auto shown = dlg->Trigger()->OnBufferReady;
    int buffers = 0;
    bool timerRan = false, gaugeMoved = false;
    std::vector<int> seen;
    dlg->Trigger()->OnBufferReady = [&](TMMComponent* sender, PMMWaveHdr h) {
        shown(sender, h);
        ++buffers;
        std::unique_lock<std::mutex> lock(m);
        if (buffers == 20) {
            const int mark = ticks;
            timerRan = cv.wait_for(lock, std::chrono::seconds(30), [&] { return ticks >= mark + 3; });
            visibleDuringImport = ticks > 0;
        }
        if (buffers == 40 || buffers == 120) {
            // The progress of this buffer was posted already; wait for the gauge to show more
            // than it showed at the previous point.
            const int before = seen.empty() ? 0 : seen.back();
            gaugeMoved = cv.wait_for(lock, std::chrono::seconds(30), [&] { return shownProgress > before; });
            seen.push_back(shownProgress);
        }
    };
    timer.start();
    dlg->StartImport(QString::fromStdString(mp3));
    QPoint centre;
    QTimer::singleShot(0, dlg.get(), [&] { centre = dlg->geometry().center(); });
    const int result = dlg->exec();
    timer.stop();

    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_FALSE(dlg->Failed());
    EXPECT_TRUE(reported.empty());
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_TRUE(visibleDuringImport);
    EXPECT_TRUE(timerRan) << "the UI thread was blocked";
    EXPECT_TRUE(gaugeMoved);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], seen[0]);
    EXPECT_EQ(dlg->Gauge->Progress(), 0);
    EXPECT_FALSE(dlg->Trigger()->IsTriggerOpen());
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        EXPECT_LE((centre - s->availableGeometry().center()).manhattanLength(), 2);
    }

    EXPECT_EQ(dlg->TempFileName(), QString::fromStdString(dir.file("Temp.wav")));
    const auto got = readWav(dir.file("Temp.wav"));
    ASSERT_TRUE(got.ok);
    EXPECT_TRUE(got.data == ref.data || got.data == ref.data + std::string(4, '\0'));
    dlg.reset();
    EXPECT_EQ(DSPThreadCount(), 0u);
}

TEST_F(ImportDialogTest, AShortInputGivesOneBufferAndALeftoverTempWavIsReplaced) {
    const std::string data(4000, '\x11');
    const std::string in = dir.file("short.wav");
    writeFile(in, pcmWave(8000, data));
    // An earlier, longer import, and then a leftover that is no wave at all.
    for (const std::string& leftover : {pcmWave(44100, std::string(300000, '\x22')), std::string("half-written")}) {
        writeFile(dir.file("Temp.wav"), leftover);
        auto dlg = makeDialog(dir.path().string());
        int buffers = 0;
        const auto shown = dlg->Trigger()->OnBufferReady;
        dlg->Trigger()->OnBufferReady = [&](TMMComponent* s, PMMWaveHdr h) {
            ++buffers;
            shown(s, h);
        };
        dlg->StartImport(QString::fromStdString(in));
        EXPECT_EQ(dlg->exec(), QDialog::Accepted);
        EXPECT_EQ(buffers, 1);
        const auto got = readWav(dir.file("Temp.wav"));
        EXPECT_EQ(got.rate, 8000u);
        EXPECT_EQ(got.data, data);
    }
}

TEST_F(ImportDialogTest, StartErrorsReachTheCallerAndNothingStarts) {
    writeFile(dir.file("Temp.wav"), pcmWave(8000, std::string(400, '\x33')));
    const std::string before = readFile(dir.file("Temp.wav"));
    {
        const std::string text = dir.file("notes.mp3");
        writeFile(text, "Lista de musicas para amanha\n");
        auto dlg = makeDialog(dir.path().string());
        try {
            dlg->StartImport(QString::fromStdString(text));
            FAIL() << "a text file was imported";
        } catch (const EMMAudioFileError& e) {
            EXPECT_STREQ(e.what(), "This is not a valid Audiofile");
        }
        EXPECT_FALSE(dlg->Trigger()->IsTriggerOpen());
        EXPECT_EQ(DSPThreadCount(), 0u);
    }
    {
        auto dlg = makeDialog(dir.path().string());
        try {
            dlg->StartImport(QString::fromStdString(dir.file("gone.mp3")));
            FAIL() << "a missing file was imported";
        } catch (const EMMTriggerError& e) {
            EXPECT_EQ(std::string(e.what()), TriggerOpenError());
        }
        EXPECT_FALSE(dlg->Trigger()->IsTriggerOpen());
        EXPECT_EQ(DSPThreadCount(), 0u);
    }
    EXPECT_EQ(readFile(dir.file("Temp.wav")), before);
    EXPECT_TRUE(reported.empty());
}

TEST_F(ImportDialogTest, AFullDiskIsReportedAndLeavesNoTempWav) {
    if (!haveTool("lame")) GTEST_SKIP() << "lame missing";
    const std::string mp3 = dir.file("long.mp3");
    ASSERT_TRUE(makeMp3(mp3, 30.0, "-b 128"));  // about 5 MB of PCM
    importchain::SmallVolume vol(dir.file("vol"), "1m");
    if (!vol.mounted()) GTEST_SKIP() << "cannot mount a small volume here";

    auto dlg = makeDialog(dir.file("vol"));
    dlg->StartImport(QString::fromStdString(mp3));
    EXPECT_EQ(dlg->exec(), QDialog::Rejected);
    EXPECT_TRUE(dlg->Failed());
    EXPECT_EQ(dlg->ErrorText(), QString::fromUtf8(SImportWriteFailed));
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], QString::fromUtf8(SImportWriteFailed));
    EXPECT_FALSE(std::filesystem::exists(dir.file("vol/Temp.wav")));
    // The chain was stopped at the failure instead of decoding the rest for nothing.
    EXPECT_LT(dlg->AudioFile()->BytesDelivered(), int64_t(4) << 20);
    dlg.reset();
    EXPECT_EQ(DSPThreadCount(), 0u);
}

TEST_F(ImportDialogTest, AFailureOfTheWorkerIsReportedAndLeavesNoTempWav) {
    const std::string in = dir.file("in.wav");
    writeFile(in, pcmWave(44100, std::string(20 * 32768, '\x05')));
    auto dlg = makeDialog(dir.path().string());
    int filled = 0;
    dlg->Trigger()->OnBufferFilled = [&](TMMComponent*, PMMWaveHdr) {
        if (++filled == 5) throw std::runtime_error("leitura interrompida");
    };
    dlg->StartImport(QString::fromStdString(in));
    EXPECT_EQ(dlg->exec(), QDialog::Rejected);
    EXPECT_TRUE(dlg->Failed());
    const QString text = QString::fromUtf8(SImportFailed) + "\nleitura interrompida";
    EXPECT_EQ(dlg->ErrorText(), text);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], text);
    EXPECT_FALSE(std::filesystem::exists(dir.file("Temp.wav")));
    EXPECT_FALSE(dlg->Trigger()->IsTriggerOpen());
    dlg.reset();
    EXPECT_EQ(DSPThreadCount(), 0u);
}

TEST_F(ImportDialogTest, FreeingTheDialogMidImportEndsTheWorkerAndDropsTheUnfinishedFile) {
    const std::string in = dir.file("in.wav");
    writeFile(in, pcmWave(44100, std::string(400 * 32768, '\x07')));
    auto dlg = makeDialog(dir.path().string());
    std::atomic<int> buffers{0};
    const auto shown = dlg->Trigger()->OnBufferReady;
    dlg->Trigger()->OnBufferReady = [&](TMMComponent* s, PMMWaveHdr h) {
        shown(s, h);
        ++buffers;
    };
    dlg->StartImport(QString::fromStdString(in));
    ASSERT_TRUE(importchain::waitUntil([&] { return buffers >= 3; }));
    dlg.reset();
    EXPECT_EQ(DSPThreadCount(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("Temp.wav")));
    EXPECT_TRUE(reported.empty());
}

// The operator presses Esc (the window's "Sair") or asks to close while the file imports: the
// import goes on to the end and the dialog closes itself with a whole Temp.wav.
TEST_F(ImportDialogTest, EscapeAndCloseDuringTheImportAreIgnored) {
    if (!haveTool("lame")) GTEST_SKIP() << "lame missing";
    const std::string mp3 = dir.file("song.mp3");
    ASSERT_TRUE(makeMp3(mp3, 3.0, "-b 128"));
    auto dlg = makeDialog(dir.path().string());

    std::mutex m;
    std::condition_variable cv;
    bool refused = false, stillShown = false;
    const auto shown = dlg->Trigger()->OnBufferReady;
    int buffers = 0;
    dlg->Trigger()->OnBufferReady = [&](TMMComponent* sender, PMMWaveHdr h) {
        shown(sender, h);
        if (++buffers != 1) return;
        std::unique_lock<std::mutex> lock(m);  // hold the import until the UI thread tried
        cv.wait_for(lock, std::chrono::seconds(30), [&] { return refused; });
    };
    QTimer::singleShot(0, [&] {
        QTest::keyClick(dlg.get(), Qt::Key_Escape);
        dlg->close();
        std::lock_guard<std::mutex> lock(m);
        stillShown = dlg->isVisible();
        refused = true;
        cv.notify_all();
    });
    dlg->StartImport(QString::fromStdString(mp3));
    EXPECT_EQ(dlg->exec(), QDialog::Accepted);
    EXPECT_TRUE(stillShown);
    EXPECT_FALSE(dlg->Failed());
    EXPECT_TRUE(reported.empty());
    const auto got = readWav(dir.file("Temp.wav"));
    ASSERT_TRUE(got.ok);
    EXPECT_GT(got.data.size(), size_t(44100 * 4 * 2));
}
