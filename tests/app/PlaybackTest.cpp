// Playback control in the window on the virtual output device: Play and Stop with the status,
// the gauge under the selection and the cursors, Space, go to start and end, the page turn at
// dense zoom, the restart after a release, closing or reloading while playing, a lost device
// and a machine without any.
#include "EditorTestUtil.h"

#include "audio/MMWavOut.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace editortest;

const QColor kPlayCursorOverBlack(255, 255, 127);

class PlaybackTest : public EditorTest {
protected:
    // A loaded window on a 16-bit stereo file; the virtual device runs speed times real time.
    TFrmTessivo* load(int32_t frames, const char* speed = "1") {
        speed_ = std::make_unique<testutil::ScopedEnv>(
            std::initializer_list<std::pair<const char*, const char*>>{{"TESSIVO_AUDIO_SPEED", speed}});
        const std::string wav = dir_.file("in.wav");
        writeWav(wav, frames);
        TFrmTessivo* w = open(wav);
        EXPECT_TRUE(w->State().Loaded) << messages();
        return w;
    }
    void TearDown() override {
        EditorTest::TearDown();
        speed_.reset();
    }
    static void select(TFrmTessivo* w, int32_t start, int32_t end) {
        w->State().SelStart = w->State().LiveStart = start;
        w->State().SelEnd = w->State().LiveEnd = end;
        w->ShowSelection(true);
    }
    static QString status(TFrmTessivo* w) { return w->Control<TMMPanel>("StatusSample")->Caption(); }
    static TPNGButton* button(TFrmTessivo* w, const char* name) { return w->Control<TPNGButton>(name); }
    static bool waitStopped(TFrmTessivo* w, int ms = 5000) {
        return QTest::qWaitFor([w] { return !w->State().Playing; }, ms);
    }

    std::unique_ptr<testutil::ScopedEnv> speed_;
};

TEST_F(PlaybackTest, PlayShowsThePositionAndTheGaugeUnderTheSelectionStopGoesBackToItsStart) {
    TFrmTessivo* w = load(1323000);  // 30 s
    select(w, 441000, 882000);
    TMMGauge* gauge = w->Control<TMMGauge>("Gauge1");
    const QRect docked = gauge->geometry();
    QTest::mouseClick(button(w, "PlayBtn"), Qt::LeftButton);
    ASSERT_TRUE(w->State().Playing) << messages();
    EXPECT_TRUE(button(w, "PlayBtn")->Down());
    EXPECT_TRUE(button(w, "StopBtn")->isEnabled());
    for (const char* c : {"btnZoomMenos", "btnZoomMais", "FullViewBtn"}) EXPECT_FALSE(button(w, c)->isEnabled()) << c;
    EXPECT_FALSE(w->Control<QSpinBox>("ZoomSpin")->isEnabled());
    EXPECT_FALSE(w->Control<QScrollBar>("ScrollBar1")->isEnabled());
    const int32_t step = w->State().OverviewStep;
    EXPECT_EQ(gauge->geometry(), QRect(441000 / step + 1, docked.y(), 441000 / step + 1, docked.height()));

    // One second played.
    w->ShowPlayPosition(44100);
    EXPECT_EQ(status(w), "0:11.000");
    EXPECT_EQ(gauge->Progress(), 10);
    EXPECT_EQ(w->State().PlayPos, 485100);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope3"), 485100 / step, 0), kPlayCursorOverBlack);
    // And by the timer, on the device's clock: about one second later.
    QTest::qWait(1000);
    EXPECT_GE(gauge->Progress(), 9);
    EXPECT_LE(gauge->Progress(), 14);

    QTest::mouseClick(button(w, "StopBtn"), Qt::LeftButton);
    EXPECT_FALSE(w->State().Playing);
    EXPECT_EQ(status(w), "0:10.000");
    EXPECT_FALSE(button(w, "PlayBtn")->Down());
    EXPECT_FALSE(button(w, "StopBtn")->isEnabled());
    EXPECT_TRUE(button(w, "FullViewBtn")->isEnabled());
    EXPECT_EQ(w->WaveOut()->State(), uint32_t(wsClosed));
    EXPECT_TRUE(w->PlaybackFile()->Wave()->IsEmpty());
    EXPECT_EQ(gauge->Progress(), 0);
    EXPECT_EQ(gauge->geometry(), docked);
    // The last cursor line is gone.
    EXPECT_EQ(countColour(w->Control<TMMOscope>("Oscope3"), kPlayCursorOverBlack), 0);
    EXPECT_EQ(messages(), "");
}

TEST_F(PlaybackTest, TheEndOfTheRangeStopsAtZeroAndAnEmptySelectionPlaysNothing) {
    TFrmTessivo* w = load(441000, "20");
    select(w, 100000, 200000);
    QTest::mouseClick(button(w, "PlayBtn"), Qt::LeftButton);
    ASSERT_TRUE(w->State().Playing);
    ASSERT_TRUE(waitStopped(w));
    EXPECT_EQ(status(w), "0:00.000");
    EXPECT_FALSE(button(w, "PlayBtn")->Down());
    EXPECT_EQ(w->WaveOut()->State(), uint32_t(wsClosed));

    for (auto [start, end] : {std::pair{5000, 5000}, std::pair{9000, 5000}}) {
        select(w, start, end);
        QTest::mouseClick(button(w, "PlayBtn"), Qt::LeftButton);
        EXPECT_FALSE(w->State().Playing);
        EXPECT_FALSE(button(w, "PlayBtn")->Down());
        w->TimerTessivoTimer();
    }
    EXPECT_EQ(messages(), "");
}

TEST_F(PlaybackTest, SpaceTogglesButTypesInTheTextFields) {
    TFrmTessivo* w = load(441000);
    QApplication::setActiveWindow(w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    w->setFocus();
    QTest::keyClick(w, Qt::Key_Space);
    EXPECT_TRUE(w->State().Playing);
    QTest::keyClick(w, Qt::Key_Space);
    EXPECT_FALSE(w->State().Playing);

    auto* memo = w->Control<QPlainTextEdit>("MemoComentario");
    w->Control<TMMPanel>("PComentario")->show();
    w->Control<TMMPanel>("PComentario")->raise();
    QLineEdit* edit = w->Control<QLineEdit>("EdIntroducao");
    edit->setReadOnly(false);
    edit->setEnabled(true);
    for (QWidget* field : std::initializer_list<QWidget*>{memo, edit}) {
        field->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([field] { return field->hasFocus(); }));
        QTest::keyClicks(field, "a b");
        EXPECT_FALSE(w->State().Playing);
    }
    EXPECT_EQ(memo->toPlainText(), "a b");
    EXPECT_TRUE(edit->text().endsWith("a b")) << edit->text().toStdString();
    w->setFocus();
    QTest::keyClick(w, Qt::Key_Space);
    EXPECT_TRUE(w->State().Playing);
}

TEST_F(PlaybackTest, GoToStartAndEndAtFullView) {
    // 26 460 000 frames of 8-bit mono, written sparse.
    const std::string wav = dir_.file("long.wav");
    {
        const uint32_t frames = 26460000;
        std::ofstream f(wav, std::ios::binary);
        f << "RIFF" << testutil::le32(36 + frames) << "WAVEfmt " << testutil::le32(16) << testutil::le16(1)
          << testutil::le16(1) << testutil::le32(44100) << testutil::le32(44100) << testutil::le16(1)
          << testutil::le16(8) << "data" << testutil::le32(frames);
        f.seekp(44 + frames - 1);
        f.put(char(128));
    }
    TFrmTessivo* w = open(wav);
    ASSERT_TRUE(w->State().Loaded) << messages();
    ASSERT_EQ(w->Control<TMMOscope>("Oscope1")->width(), 537);
    ASSERT_EQ(w->Control<QSpinBox>("ZoomSpin")->maximum(), 49274);
    select(w, 1000000, 2000000);
    w->Control<QSpinBox>("ZoomSpin")->setValue(10);
    QTest::mouseClick(button(w, "BFim"), Qt::LeftButton);
    EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->value(), 49274);
    EXPECT_EQ(w->State().SelEnd, 26410864);
    EXPECT_EQ(w->State().LiveEnd, 26410864);
    EXPECT_EQ(status(w), w->SampleToTimeText(26410864));
    QTest::mouseClick(button(w, "BInicio"), Qt::LeftButton);
    EXPECT_EQ(w->State().SelStart, 0);
    EXPECT_EQ(status(w), "0:00.000");
}

TEST_F(PlaybackTest, TheDetailViewTurnsPagesAtZoomOneOnlyAndTheGaugeKeepsItsValue) {
    TFrmTessivo* w = load(537000);
    select(w, 0, 537000);
    // Full view: the cursor crosses the view without a turn.
    QTest::mouseClick(button(w, "PlayBtn"), Qt::LeftButton);
    for (int32_t p : {1000, 200000, 536000}) {
        w->ShowPlayPosition(p);
        EXPECT_EQ(w->State().ViewOffset, 0);
    }
    QTest::mouseClick(button(w, "StopBtn"), Qt::LeftButton);

    w->Control<QSpinBox>("ZoomSpin")->setValue(1);
    QTest::mouseClick(button(w, "PlayBtn"), Qt::LeftButton);
    w->ShowPlayPosition(300);
    EXPECT_EQ(w->State().ViewOffset, 0);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope1"), 300, 0), kPlayCursorOverBlack);
    w->ShowPlayPosition(600);  // past the right edge: the next page starts there
    EXPECT_EQ(w->State().ViewOffset, 600);
    EXPECT_EQ(w->Control<TMMGauge>("Gauge1")->Progress(), 0);  // 600 of 537 000 rounds to 0
    w->ShowPlayPosition(6000);
    EXPECT_EQ(w->State().ViewOffset, 6000);
    EXPECT_EQ(w->Control<TMMGauge>("Gauge1")->Progress(), 1);  // not cleared by the refresh
    w->ShowPlayPosition(6100);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope1"), 100, 0), kPlayCursorOverBlack);
    // One line only: the one before the turn was not carried over.
    int lines = 0;
    for (int x = 0; x < 537; ++x) lines += pixel(w->Control<TMMOscope>("Oscope1"), x, 0) == kPlayCursorOverBlack;
    EXPECT_EQ(lines, 1);
    // On the device's clock too.
    ASSERT_TRUE(QTest::qWaitFor([w] { return w->State().ViewOffset > 6100; }, 2000));
    QTest::mouseClick(button(w, "StopBtn"), Qt::LeftButton);
}

TEST_F(PlaybackTest, AReleaseWhilePlayingRestartsFromTheNewSelection) {
    TFrmTessivo* w = load(537000);
    QTest::mouseClick(button(w, "PlayBtn"), Qt::LeftButton);
    QTest::qWait(200);
    TMMOscope* view = w->Control<TMMOscope>("Oscope1");
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(100, 5));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(100, 5));
    EXPECT_EQ(w->State().SelStart, 100000);
    EXPECT_TRUE(w->State().Playing);
    EXPECT_EQ(w->PlaybackFile()->Wave()->StartPosition(), 100000);
    EXPECT_LT(w->WaveOut()->Position(), 4410);
    EXPECT_EQ(messages(), "");
}

TEST_F(PlaybackTest, ClosingOrReloadingWhilePlayingStopsFirst) {
    TFrmTessivo* w = load(441000);
    // The reload rewrites Temp.wav: the output must have stopped before.
    const std::string temp = w->WaveFile1()->Wave()->FileName();
    struct stat before{};
    ASSERT_EQ(stat(temp.c_str(), &before), 0);
    QTest::mouseClick(button(w, "PlayBtn"), Qt::LeftButton);
    bool stoppedFirst = false;
    auto onStop = w->WaveOut()->OnStop;
    w->WaveOut()->OnStop = [&](TMMComponent* c) {
        struct stat now{};
        stoppedFirst = stat(temp.c_str(), &now) == 0 && now.st_mtim.tv_nsec == before.st_mtim.tv_nsec &&
                       now.st_mtim.tv_sec == before.st_mtim.tv_sec;
        onStop(c);
    };
    w->LoadAudio();
    EXPECT_TRUE(stoppedFirst);
    EXPECT_FALSE(w->State().Playing);
    EXPECT_TRUE(w->State().Loaded);

    QTest::mouseClick(button(w, "PlayBtn"), Qt::LeftButton);
    ASSERT_TRUE(w->State().Playing);
    int closes = 0;
    w->WaveOut()->OnClose = [&](TMMComponent*) { ++closes; };
    w->Control<QAction>("Action1")->trigger();  // Esc
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(closes, 1);
    window_.release();  // freed by its close
    EXPECT_EQ(messages(), "");
}

TEST_F(PlaybackTest, ALostDeviceStopsWithOneMessageAndPlayWorksAgain) {
    TFrmTessivo* w = load(441000);
    {
        testutil::ScopedEnv stall{{"TESSIVO_AUDIO_STALL_MS", "200"}};
        QTest::mouseClick(button(w, "PlayBtn"), Qt::LeftButton);
        ASSERT_TRUE(w->State().Playing);
    }
    ASSERT_TRUE(waitStopped(w, 1500 * testutil::kSlowdown));
    QTest::qWait(200);
    EXPECT_EQ(messages(), "error: WaveOutWrite:\\n\rThe sound device is not available.\n");
    EXPECT_FALSE(button(w, "PlayBtn")->Down());
    EXPECT_TRUE(button(w, "FullViewBtn")->isEnabled());
    QTest::mouseClick(button(w, "PlayBtn"), Qt::LeftButton);
    EXPECT_TRUE(w->State().Playing);
}

// A play that failed to open the device leaves its range in the playback file; the next play
// must still play its own selection, not the stretch from the old range's end.
TEST_F(PlaybackTest, APlayAfterAFailedOpenPlaysItsOwnSelection) {
    TFrmTessivo* w = load(441000, "20");
    select(w, 1000, 2000);
    {
        testutil::ScopedEnv none{{"TESSIVO_AUDIO_DEVICE", "none"}};
        QTest::mouseClick(button(w, "PlayBtn"), Qt::LeftButton);
    }
    ASSERT_FALSE(w->State().Playing);
    ASSERT_NE(messages(), "");
    select(w, 300000, 310000);
    QTest::mouseClick(button(w, "PlayBtn"), Qt::LeftButton);
    ASSERT_TRUE(w->State().Playing);
    EXPECT_EQ(w->PlaybackFile()->Wave()->StartPosition(), 300000);
    EXPECT_EQ(w->PlaybackFile()->Wave()->EndPosition(), 310000);
    EXPECT_TRUE(waitStopped(w));
}

TEST_F(PlaybackTest, WithoutADeviceThePlayButtonsStayDisabled) {
    testutil::ScopedEnv none{{"TESSIVO_AUDIO_DEVICE", "none"}};
    TFrmTessivo* w = load(44100);
    for (const char* name : {"PlayBtn", "BInicio", "BFim", "StopBtn"}) EXPECT_FALSE(button(w, name)->isEnabled()) << name;
    EXPECT_TRUE(button(w, "FullViewBtn")->isEnabled());
    w->Action2Execute();
    EXPECT_FALSE(w->State().Playing);
    EXPECT_EQ(messages(), "");
}

// The README's picture of the editor while playing: the cursor in both views and the gauge
// filling under the selection in the overview.
TEST_F(PlaybackTest, PictureWhilePlaying) {
    const std::string wav = dir_.file("song.wav");
    ASSERT_TRUE(testutil::makeToneWav(wav, 20.0));
    TFrmTessivo* w = open(wav);
    ASSERT_TRUE(w->State().Loaded) << messages();
    const int32_t total = w->State().TotalSamples;
    select(w, total / 8, total * 7 / 8);
    w->Control<QSpinBox>("ZoomSpin")->setValue(w->Control<QSpinBox>("ZoomSpin")->maximum() / 3);
    QTest::mouseClick(button(w, "PlayBtn"), Qt::LeftButton);
    ASSERT_TRUE(w->State().Playing);
    w->Control<QTimer>("TimerTessivo")->stop();  // the cursor stays where it is put
    const int32_t p = total / 8;
    w->ShowPlayPosition(p);
    const int32_t at = total / 8 + p;  // inside the detail view, which shows the first third
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope3"), at / w->State().OverviewStep, 0), kPlayCursorOverBlack);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope1"), w->SampleToPixel(at), 0), kPlayCursorOverBlack);
    EXPECT_EQ(w->Control<TMMGauge>("Gauge1")->Progress(), 17);
    savePicture(w, "editor-playing.png", folder());
    QTest::mouseClick(button(w, "StopBtn"), Qt::LeftButton);
}

}  // namespace
